// Objects with an optional name (an interned string: setName(nullptr) removes it) and optional
// data that exchange formats attach to objects and the engine does not read (glTF's "extras",
// and the extensions of the object that the engine has no place for, both as JSON text), kept
// so that a file written again carries it.
#pragma once

#include "host/core/kaReflect.h"

#include <string>
#include <type_traits>

namespace Lode::Core {

class kaNamedObject : public kaObject {
    KA_DECLARE_CLASS(kaNamedObject, kaObject)
public:
    // The name, or null when the object has none.
    const char* getName() const { return _name.c_str(); }
    const kaStringRef& getNameRef() const { return _name; }
    void setName(const char* name) { _name = name; }
    // The application data as JSON text, or null when the object has none.
    const char* getExtras() const { return _extras.c_str(); }
    void setExtras(const char* json) { _extras = json; }
    // The extensions as a JSON object text, or null when the object has none.
    const char* getExtensions() const { return _extensions.c_str(); }
    void setExtensions(const char* json) { _extensions = json; }

protected:
    kaStringRef _name;
    kaStringRef _extras;
    kaStringRef _extensions;
};

// A new object of class T held by a smart pointer, given the name when T has names and a name
// is given (a std::string one when it is not empty).
template <class T> kaSmartPointer<T> make(const char* name = nullptr)
{
    auto object = kaSmartPointer<T>::adopt(T::_instantiate());
    if constexpr (std::is_base_of_v<kaNamedObject, T>)
        if (name) object->setName(name);
    return object;
}

template <class T> kaSmartPointer<T> make(const std::string& name)
{
    return make<T>(name.empty() ? nullptr : name.c_str());
}

} // namespace Lode::Core
