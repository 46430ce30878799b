// Objects with an optional name (an interned string: setName(nullptr) removes it).
#pragma once

#include "host/core/kaReflect.h"

namespace Lode::Core {

class kaNamedObject : public kaObject {
    KA_DECLARE_CLASS(kaNamedObject, kaObject)
public:
    // The name, or null when the object has none.
    const char* getName() const { return _name.c_str(); }
    const kaStringRef& getNameRef() const { return _name; }
    void setName(const char* name) { _name = name; }

protected:
    kaStringRef _name;
};

} // namespace Lode::Core
