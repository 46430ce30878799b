// The built-in example scene that `kaopt run --example` and `kaopt make-example` use.
#pragma once

#include "host/sg/kaInfo.h"

namespace Lode::Tools {

// A new example scene: its infos, the scene info (holding the graph's root) first.
Core::kaSmartPointer<Sg::kaInfoList> kaMakeExampleScene();

} // namespace Lode::Tools
