#include "extension/kaOptExtensionLibrary.h"

#include "extension/kaEmpty.h"
#include "passes/geometry/kaGeometryStatistics.h"
#include "passes/skinning/kaReduceBlendWeights.h"

namespace Lode {

unsigned char kaOptExtensionLibrary_initialised = 0;

void _kaOptExtensionLibrary_Init()
{
    if (kaOptExtensionLibrary_initialised == 0) kaOptExtensionLibrary_initialised = 1;
}

namespace {
using namespace Lode::OptExtension;

// The pass classes, registered in reverse alphabetical order.
const Core::kaRegistrationFunction kPassRegistrations[] = {
    &kaReduceBlendWeights::arkRegisterInternal,
    &kaGeometryStatistics::arkRegisterInternal,
    &kaEmpty::arkRegisterInternal,
};
} // namespace

void kaOptExtensionLibrary_arkRegister()
{
    for (Core::kaRegistrationFunction registration : kPassRegistrations) Core::kaArkRegister(registration);
}

} // namespace Lode

extern "C" void createLibraryObject(Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>* slot)
{
    auto library = Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>::adopt(Lode::Core::kaLibrary::_instantiate());
    library->setRegisterFunction(&Lode::kaOptExtensionLibrary_arkRegister);
    *slot = std::move(library);
}
