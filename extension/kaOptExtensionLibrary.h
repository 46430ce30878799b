// Entry points of the KAOptExtension plug-in.
#pragma once

#include "host/core/kaLibrary.h"
#include "passes/kaPassRegistration.h"

extern "C" {
// Leaves in *slot a new library object whose register function registers the pass classes;
// whatever the slot held before is released.
void createLibraryObject(Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>* slot);
// The reference text of one of the library's pass classes (its KA_PASS_DOC in the registration
// table: behaviour, registry keys, messages, losses); null for a class the table lacks.
const char* kaPassDocumentation(const char* className);
}

namespace Lode {

// Registers every pass class of the library, in the order of the registration table.
void kaOptExtensionLibrary_arkRegister();

// 0 when the library is loaded; set to 1 by _kaOptExtensionLibrary_Init and by every class
// registration, never reset.
extern unsigned char kaOptExtensionLibrary_initialised;

} // namespace Lode
