// Vertex data between glTF's encodings and the engine's floats: reading one component, writing
// values back in the integer encoding they were read from when that gives the same values, the
// stream component types, and blend weights made to sum to 1 as glTF requires. Internal to
// host/io.
#pragma once

#include "host/gfx/kaVertexArray.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Lode::Io {

// One component as stored: floats as they are, normalised integers mapped to [0, 1] or [-1, 1],
// other integers by value.
float kaGltfComponentValue(const uint8_t* at, int componentType, bool normalized);

// glTF's component type of a stream's, and the reverse (false for a type glTF does not have).
int kaGltfComponentTypeOf(Lode::Gfx::kaVertexStream::ComponentType type);
bool kaStreamComponentTypeOf(int gltfComponentType, Lode::Gfx::kaVertexStream::ComponentType& type);

// The bytes of elements (components values each) in the integer encoding, each element starting
// stride bytes after the one before (padding zero), when every value reads back from them as
// the same float; false (bytes untouched) when one does not.
bool kaGltfEncodeExactly(const float* values, size_t elements, int components, int componentType, bool normalized,
                         size_t stride, std::vector<uint8_t>& bytes);

// Whether one vertex's `slots` weights sum to 1 as glTF readers check it (below).
bool kaGltfWeightsSumToOne(const float* weights, int slots);

// Makes the weights of every vertex (sets of four, slots vertex-major, `slots` per vertex) sum
// to 1 where they do not to within what glTF readers allow: the sum taken in single precision
// over the weights that are not 0, at most 2e-7 from 1 per such weight. Vertices without any
// weight stay as they are. Returns the number of vertices changed.
size_t kaNormaliseGltfWeights(float* weights, size_t vertices, int slots);

} // namespace Lode::Io
