// A plug-in's library object: the host keeps it and runs its register function once.
#pragma once

#include "host/core/kaReflect.h"

namespace Lode::Core {

class kaLibrary : public kaObject {
    KA_DECLARE_CLASS(kaLibrary, kaObject)
public:
    using RegisterFunction = void (*)();
    void setRegisterFunction(RegisterFunction function) { _register = function; }
    RegisterFunction getRegisterFunction() const { return _register; }
    // Runs the register function; false when the library has none.
    bool runRegister() const;

private:
    RegisterFunction _register = nullptr;
};

} // namespace Lode::Core
