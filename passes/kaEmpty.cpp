// kaEmpty accepts every setting and every node and changes nothing. It is what a script runs to
// load and save a scene unchanged, and the baseline a new pass starts from.
#include "passes/kaEmpty.h"

#include "passes/kaPassRegistration.h"

namespace Lode::OptExtension {

KA_IMPLEMENT_PASS(kaEmpty)

bool kaEmpty::configure(int) { return true; }

bool kaEmpty::canOptimize(kaNode*) { return true; }

bool kaEmpty::apply(kaSmartPointer<kaNode>&) { return true; }

} // namespace Lode::OptExtension
