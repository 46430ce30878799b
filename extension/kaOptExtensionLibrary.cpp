#include "extension/kaOptExtensionLibrary.h"


namespace Lode {

unsigned char kaOptExtensionLibrary_initialised = 0;

void _kaOptExtensionLibrary_Init()
{
    if (kaOptExtensionLibrary_initialised == 0) kaOptExtensionLibrary_initialised = 1;
}

namespace OptExtension {
#define KA_PASS(Class, summary) void Class##_arkRegisterInternal();
#include "extension/kaPassTable.def"
#undef KA_PASS
} // namespace OptExtension

namespace {
struct kaPassEntry {
    Core::kaRegistrationFunction registration;
    const char* name;
    const char* summary;
};

const kaPassEntry kPasses[] = {
#define KA_PASS(Class, summary) {&OptExtension::Class##_arkRegisterInternal, #Class, summary},
#include "extension/kaPassTable.def"
#undef KA_PASS
};
} // namespace

void kaOptExtensionLibrary_arkRegister()
{
    for (const kaPassEntry& pass : kPasses) {
        Core::kaArkRegister(pass.registration);
        if (Core::kaMetaObject* meta = Core::kaMetaObject::findClass(pass.name)) meta->setSummary(pass.summary);
    }
}

} // namespace Lode

extern "C" void createLibraryObject(Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>* slot)
{
    auto library = Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>::adopt(Lode::Core::kaLibrary::_instantiate());
    library->setRegisterFunction(&Lode::kaOptExtensionLibrary_arkRegister);
    *slot = std::move(library);
}
