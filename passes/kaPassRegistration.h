// The reflection family of a pass class. A pass source implements its class with one of these
// macros inside namespace Lode::OptExtension; the trailing arguments are the arkRegister
// functions of the types the class's object-reference fields name.
#pragma once

#include "host/core/kaReflect.h"

namespace Lode {
// Marks the plug-in initialised; every pass class calls it when it registers.
void _kaOptExtensionLibrary_Init();
} // namespace Lode

// The engine's reflection family, plus marking the plug-in initialised whenever the class
// registers, plus the entry by which the registration table (extension/kaPassTable.def) reaches
// the class without including its header.
#define KA_IMPLEMENT_PASS(Class, ...)                                                              \
    KA_IMPLEMENT_CLASS_IMPL(Class, nullptr, ::Lode::_kaOptExtensionLibrary_Init(), __VA_ARGS__) \
    void Class##_arkRegisterInternal() { Class::arkRegisterInternal(); }
#define KA_IMPLEMENT_PASS_WITH_FIELDS(Class, ...)                                                         \
    KA_IMPLEMENT_CLASS_IMPL(Class, &Class::arkRegisterInitialize, ::Lode::_kaOptExtensionLibrary_Init(), \
                            __VA_ARGS__)                                                                 \
    void Class##_arkRegisterInternal() { Class::arkRegisterInternal(); }
