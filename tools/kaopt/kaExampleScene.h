// The built-in example scene that `kaopt run --example` and `kaopt make-example` use. It is small
// (a few hundred vertices) and the same on every call, and every pass of the library finds work
// in it: a character skinned with 4 to 8 unsorted weights per vertex under a joint hierarchy,
// with two partial matrix palettes, a first-generation morphing face with sparse targets, and an
// animation database holding the skeleton and the animations; props of first- and
// second-generation geometry with normals, colours and texture coordinates, two nodes of one
// name and one node with two parents; textures tagged and untagged for mipmapping, one of them
// palettised; materials with specular colour; a static light set and one under an animated
// transform.
#pragma once

#include "host/sg/kaInfo.h"

namespace Lode::Tools {

// A new example scene: its infos, the scene info (holding the graph's root) first, then the
// animation database.
Core::kaSmartPointer<Sg::kaInfoList> kaMakeExampleScene();

} // namespace Lode::Tools
