// The framework's application of a pass to what an animation database holds.
#pragma once

#include "host/opt/kaOptBase.h"
#include "host/sg/kaAnimationDatabase.h"

namespace Lode::Opt {

// Applies the pass to the scene graph of every scene info that the database holds, in list
// order: each root that the pass's canOptimize accepts is given to apply, and a root that
// apply replaces is replaced in its scene info. True when every apply succeeded (also when
// there was nothing to apply to); false for a null database or pass.
bool defaultApplyAnimationDatabase(Lode::Sg::kaAnimationDatabase* database, kaOptBase* pass);

} // namespace Lode::Opt
