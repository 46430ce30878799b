#include "extension/kaOptExtensionLibrary.h"

#include <cstring>

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

struct kaPassDoc {
    const char* name;
    const char* doc;
};

const kaPassDoc kPassDocs[] = {
#define KA_PASS(Class, summary)
#define KA_PASS_DOC(Class, doc) {#Class, doc},
#include "extension/kaPassTable.def"
#undef KA_PASS_DOC
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

extern "C" const char* kaPassDocumentation(const char* className)
{
    for (const Lode::kaPassDoc& pass : Lode::kPassDocs)
        if (std::strcmp(pass.name, className) == 0) return pass.doc;
    return nullptr;
}

extern "C" void createLibraryObject(Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>* slot)
{
    auto library = Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>::adopt(Lode::Core::kaLibrary::_instantiate());
    library->setRegisterFunction(&Lode::kaOptExtensionLibrary_arkRegister);
    *slot = std::move(library);
}
