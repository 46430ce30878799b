// Entry points of the KAOptExtension plug-in.
#pragma once

#include "host/core/kaLibrary.h"

extern "C" {
// Leaves in *slot a new library object whose register function registers the pass classes;
// whatever the slot held before is released.
void createLibraryObject(Lode::Core::kaSmartPointer<Lode::Core::kaLibrary>* slot);
}

namespace Lode {

// Registers every pass class of the library, in the order of the registration table.
void kaOptExtensionLibrary_arkRegister();
// Marks the library initialised.
void _kaOptExtensionLibrary_Init();

// 0 when the library is loaded; set to 1 by _kaOptExtensionLibrary_Init and by every class
// registration, never reset.
extern unsigned char kaOptExtensionLibrary_initialised;

} // namespace Lode

// The reflection family of a pass class: the engine's, plus marking the library initialised
// whenever the class registers, plus the entry by which the registration table
// (extension/kaPassTable.def) reaches the class without including its header. Used inside
// namespace Lode::OptExtension; the trailing arguments are the arkRegister functions of the
// types the class's object-reference fields name.
#define KA_IMPLEMENT_PASS(Class, ...)                                                              \
    KA_IMPLEMENT_CLASS_IMPL(Class, nullptr, ::Lode::_kaOptExtensionLibrary_Init(), __VA_ARGS__) \
    void Class##_arkRegisterInternal() { Class::arkRegisterInternal(); }
#define KA_IMPLEMENT_PASS_WITH_FIELDS(Class, ...)                                                         \
    KA_IMPLEMENT_CLASS_IMPL(Class, &Class::arkRegisterInitialize, ::Lode::_kaOptExtensionLibrary_Init(), \
                            __VA_ARGS__)                                                                 \
    void Class##_arkRegisterInternal() { Class::arkRegisterInternal(); }
