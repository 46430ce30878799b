// Reflection: meta objects (one per class), meta fields (one per reflected member) and meta
// enums. Everything generic in the engine (creation by name, scripts, walks, files, dumps) is
// written once against these and never per class.
#pragma once

#include "host/core/kaBlock.h"
#include "host/core/kaObject.h"
#include "host/core/kaString.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Lode::Core {

class kaMetaObject;
class kaMetaEnum;

enum class kaFieldKind {
    Bool,
    Enum,
    Int,
    UnsignedInt,
    Float,
    String,
    ObjectRef,
    FloatArray,  // a fixed number of floats inline (vectors, colours, matrices)
    ObjectList,  // the entries of an object list, one reference each
    DataBlock,   // contiguous plain data (vertex, index and pixel data)
};

// One reflected member: its name, its position inside the object and its default. Fields are
// shared by a class and its subclasses (a subclass object holds its base's members at the same
// positions).
class kaMetaField {
public:
    virtual ~kaMetaField() = default;

    const char* getName() const { return _name.c_str(); }
    size_t getOffset() const { return _offset; }
    kaFieldKind getKind() const { return _kind; }
    const kaMetaObject* getOwner() const { return _owner; }

    // Gives a fresh object this field's default.
    virtual void applyDefault(kaObject* object) const = 0;
    // Text form for scripts and dumps. Returns false with a reason when the text does not parse.
    virtual bool setFromText(kaObject* object, const char* text, std::string& error) const = 0;
    virtual std::string toText(const kaObject* object) const = 0;
    // Short type name for `kaopt describe` and dumps ("bool", "unsigned", "ref kaFloatList").
    virtual std::string getTypeName() const = 0;
    virtual std::string getDefaultText() const = 0;

    // Transient fields are derived state: not written to files and not followed by walks.
    bool isTransient() const { return _transient; }
    void setTransient(bool transient) { _transient = transient; }

    void setBasicProperties(const char* name, size_t offset, const kaMetaObject* owner);

    // What the field means to a user, shown by `kaopt describe` (empty when undeclared).
    const char* getDescription() const { return _description.c_str(); }
    void setDescription(const char* description) { _description = description ? description : ""; }

protected:
    explicit kaMetaField(kaFieldKind kind) : _kind(kind) {}

    template <class T> T& member(kaObject* object) const
    {
        return *reinterpret_cast<T*>(reinterpret_cast<char*>(object) + _offset);
    }
    template <class T> const T& member(const kaObject* object) const
    {
        return *reinterpret_cast<const T*>(reinterpret_cast<const char*>(object) + _offset);
    }

private:
    kaFieldKind _kind;
    std::string _name;
    size_t _offset = 0;
    const kaMetaObject* _owner = nullptr;
    std::string _description;
    bool _transient = false;
};

// Scalar fields of one C++ type with a default.
template <class T, kaFieldKind Kind>
class kaScalarMetaField : public kaMetaField {
public:
    kaScalarMetaField() : kaMetaField(Kind) {}
    T get(const kaObject* object) const { return member<T>(object); }
    void set(kaObject* object, T value) const { member<T>(object) = value; }
    void setDefault(T value) { _default = value; }
    T getDefault() const { return _default; }
    void applyDefault(kaObject* object) const override { set(object, _default); }
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override { return format(get(object)); }
    std::string getTypeName() const override;
    std::string getDefaultText() const override { return format(_default); }
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaScalarMetaField(); }

    static bool parse(const char* text, T& value, std::string& error);
    static std::string format(T value);

private:
    T _default{};
};

using kaBoolMetaField = kaScalarMetaField<bool, kaFieldKind::Bool>;
using kaIntMetaField = kaScalarMetaField<int32_t, kaFieldKind::Int>;
using kaUnsignedIntMetaField = kaScalarMetaField<uint32_t, kaFieldKind::UnsignedInt>;
using kaFloatMetaField = kaScalarMetaField<float, kaFieldKind::Float>;

// A named set of integer values.
class kaMetaEnum {
public:
    // Creates the enumeration's meta object; the caller keeps it for the life of the process.
    static kaMetaEnum* createMetaEnum(const char* name, const char* const* valueNames,
                                      const int32_t* values, int count);
    // The same from two arrays of one length, so that no getter counts its values by hand.
    template <size_t N>
    static kaMetaEnum* createMetaEnum(const char* name, const char* const (&valueNames)[N], const int32_t (&values)[N])
    {
        return createMetaEnum(name, valueNames, values, static_cast<int>(N));
    }

    const char* getName() const { return _name.c_str(); }
    int getCount() const { return static_cast<int>(_entries.size()); }
    const char* getValueName(int index) const { return _entries[index].first.c_str(); }
    int32_t getValue(int index) const { return _entries[index].second; }
    // The name of a value, or null when no entry has it.
    const char* findName(int32_t value) const;
    // Accepts a value name (exact, then without regard to case) or a number that is a value.
    bool parse(const char* text, int32_t& value) const;

private:
    std::string _name;
    std::vector<std::pair<std::string, int32_t>> _entries;
};

using kaGetMetaEnumFunction = kaMetaEnum* (*)();

class kaEnumMetaField : public kaMetaField {
public:
    kaEnumMetaField() : kaMetaField(kaFieldKind::Enum) {}
    int32_t get(const kaObject* object) const { return member<int32_t>(object); }
    void set(kaObject* object, int32_t value) const { member<int32_t>(object) = value; }
    void setDefault(int32_t value) { _default = value; }
    void setGetMetaEnumFunction(kaGetMetaEnumFunction function) { _getMetaEnum = function; }
    kaMetaEnum* getMetaEnum() const { return _getMetaEnum ? _getMetaEnum() : nullptr; }
    void applyDefault(kaObject* object) const override { set(object, _default); }
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    std::string getTypeName() const override;
    std::string getDefaultText() const override;
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaEnumMetaField(); }

private:
    int32_t _default = 0;
    kaGetMetaEnumFunction _getMetaEnum = nullptr;
};

// A kaStringRef member. A null default leaves the member null.
class kaStringMetaField : public kaMetaField {
public:
    kaStringMetaField() : kaMetaField(kaFieldKind::String) {}
    const char* get(const kaObject* object) const { return member<kaStringRef>(object).c_str(); }
    void set(kaObject* object, const char* text) const { member<kaStringRef>(object) = text; }
    void setDefault(const char* text)
    {
        _defaultIsNull = !text;
        _default = text ? text : "";
    }
    // Marks a field whose default was declared (even an empty one): dumps show such a field
    // even when it holds the empty string.
    void setHasDeclaredDefault(bool declared) { _hasDeclaredDefault = declared; }
    bool hasDeclaredDefault() const { return _hasDeclaredDefault; }
    void applyDefault(kaObject* object) const override { set(object, _defaultIsNull ? nullptr : _default.c_str()); }
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    std::string getTypeName() const override { return "string"; }
    std::string getDefaultText() const override;
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaStringMetaField(); }

private:
    // Plain text: a registered default is no holder of the text of names (kaNameUnique counts
    // the holders).
    std::string _default;
    bool _defaultIsNull = true;
    bool _hasDeclaredDefault = false;
};

// A reference to an object of a class (or a subclass), held as one counted reference in a
// pointer-sized member (a raw pointer or a kaSmartPointer). With the construct flag, every new
// instance starts with a new empty object of the referenced class.
class kaObjectRefMetaField : public kaMetaField {
public:
    kaObjectRefMetaField() : kaMetaField(kaFieldKind::ObjectRef) {}
    kaObject* get(const kaObject* object) const { return member<kaObject*>(object); }
    // Stores value (taking a reference) and gives back the previous one. Null clears.
    void set(kaObject* object, kaObject* value) const;
    void setMetaObject(kaMetaObject* meta) { _referenced = meta; }
    kaMetaObject* getMetaObject() const { return _referenced; }
    void setConstruct(bool construct) { _construct = construct; }
    bool getConstruct() const { return _construct; }
    void applyDefault(kaObject* object) const override;
    // Scripts set list-like references in one value: the referenced object parses the text.
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    std::string getTypeName() const override;
    std::string getDefaultText() const override { return _construct ? "(empty)" : "null"; }
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaObjectRefMetaField(); }

private:
    kaMetaObject* _referenced = nullptr;
    bool _construct = false;
};

// N floats inline (kaVec3f, kaVec4f, kaMatrix44f members).
class kaFloatArrayMetaField : public kaMetaField {
public:
    kaFloatArrayMetaField() : kaMetaField(kaFieldKind::FloatArray) {}
    float* get(kaObject* object) const { return &member<float>(object); }
    const float* get(const kaObject* object) const { return &member<float>(object); }
    void setCount(int count) { _count = count; _default.assign(count, 0.0f); }
    int getCount() const { return _count; }
    void setDefault(const float* values) { _default.assign(values, values + _count); }
    void applyDefault(kaObject* object) const override;
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    std::string getTypeName() const override { return "float[" + std::to_string(_count) + "]"; }
    std::string getDefaultText() const override;
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaFloatArrayMetaField(); }

private:
    int _count = 0;
    std::vector<float> _default;
};

// The entries of an object list: a std::vector<kaObject*> member. Whether entries hold a
// reference is the list class's own (kaObjectList::holdsReferences).
class kaObjectListMetaField : public kaMetaField {
public:
    kaObjectListMetaField() : kaMetaField(kaFieldKind::ObjectList) {}
    std::vector<kaObject*>& get(kaObject* object) const { return member<std::vector<kaObject*>>(object); }
    const std::vector<kaObject*>& get(const kaObject* object) const
    {
        return member<std::vector<kaObject*>>(object);
    }
    void applyDefault(kaObject*) const override {}
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    std::string getTypeName() const override { return "list"; }
    std::string getDefaultText() const override { return "[]"; }
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaObjectListMetaField(); }
};

// Contiguous plain data in a kaBlock<T> member; files write it in one block.
class kaDataBlockMetaField : public kaMetaField {
public:
    kaDataBlockMetaField() : kaMetaField(kaFieldKind::DataBlock) {}
    virtual size_t getElementSize() const = 0;
    virtual const char* getElementTypeName() const = 0;
    virtual size_t getByteSize(const kaObject* object) const = 0;
    virtual const void* getBytes(const kaObject* object) const = 0;
    // Resizes the block to hold bytes / element size elements and returns its storage.
    virtual void* resizeBytes(kaObject* object, size_t bytes) const = 0;
    void applyDefault(kaObject*) const override {}
    std::string getTypeName() const override { return std::string(getElementTypeName()) + "[]"; }
    std::string getDefaultText() const override { return "[]"; }
};

template <class T>
class kaTDataBlockMetaField : public kaDataBlockMetaField {
public:
    kaBlock<T>& get(kaObject* object) const { return member<kaBlock<T>>(object); }
    const kaBlock<T>& get(const kaObject* object) const { return member<kaBlock<T>>(object); }
    size_t getElementSize() const override { return sizeof(T); }
    const char* getElementTypeName() const override;
    size_t getByteSize(const kaObject* object) const override { return get(object).size() * sizeof(T); }
    const void* getBytes(const kaObject* object) const override { return get(object).data(); }
    void* resizeBytes(kaObject* object, size_t bytes) const override
    {
        auto& data = get(object);
        data.resize(bytes / sizeof(T));
        return data.data();
    }
    bool setFromText(kaObject* object, const char* text, std::string& error) const override;
    std::string toText(const kaObject* object) const override;
    static kaMetaField* _instantiateFromPool(kaMemoryPool*) { return new kaTDataBlockMetaField(); }
};

using kaMetaFieldFactory = kaMetaField* (*)(kaMemoryPool*);
using kaConstructorFunction = kaObject* (*)(kaMemoryPool*);
using kaRegistrationFunction = void (*)();
using kaGetMetaFunction = kaMetaObject* (*)();
using kaFieldDeclarationFunction = void (*)();

// The class of a reflected object: name, base, size, the constructor function by which it makes
// instances, and its reflected fields (the base's first, then its own in declaration order).
class kaMetaObject {
public:
    const char* getName() const { return _name.c_str(); }
    kaMetaObject* getBase() const { return _base; }
    size_t getSize() const { return _size; }
    bool isFullyRegistered() const { return _fullyRegistered; }
    bool isOfType(const kaMetaObject* other) const;

    // One line on what the class does, shown by `kaopt list` (empty when undeclared).
    const char* getSummary() const { return _summary.c_str(); }
    void setSummary(const char* summary) { _summary = summary ? summary : ""; }

    // A new instance with every field at its default and its owned lists and strings
    // constructed; the caller receives one reference. Null for a class without a constructor.
    kaObject* createInstance(kaMemoryPool* pool) const;
    // As createInstance, but the instance as its C++ constructor leaves it: no field has been
    // given its default. Lets a check hold member initialisers to the declared defaults.
    kaObject* constructInstance(kaMemoryPool* pool) const;
    bool canCreateInstance() const;

    // A meta object handed out before its class registered knows how to register it, so that
    // creating an instance through it (a constructed field's default) completes it first.
    void setRegistrationFunction(kaRegistrationFunction registration) { _registration = registration; }
    void ensureRegistered() const;

    int getMetaFieldCount() const { return static_cast<int>(_fields.size()); }
    kaMetaField* getIndexedMetaField(int index) const { return _fields[index]; }
    kaMetaField* findMetaField(const char* name) const;
    // Only the fields this class declares, after its base's.
    int getFirstOwnField() const { return _firstOwnField; }

    void instantiateAndAppendFields(const kaMetaFieldFactory* factories, int count);
    // Names the fields from index first on, records their positions inside the object and
    // stores each new field in its class's static handle.
    void setMetaFieldBasicPropertiesAndValidateAll(const char* const* names, kaMetaField** const* handles,
                                                   const size_t* offsets, int first);

    // All registered classes, and lookup by class name (null when unknown).
    static const std::vector<kaMetaObject*>& getRegisteredClasses();
    static kaMetaObject* findClass(const char* name);

private:
    friend kaObject* kaArkRegisterFull(bool, kaMetaObject**, kaRegistrationFunction, kaGetMetaFunction,
                                       kaGetMetaFunction, const char*, size_t, kaConstructorFunction,
                                       void*, kaFieldDeclarationFunction, void*,
                                       const kaRegistrationFunction*);

    std::string _name;
    std::string _summary;
    kaMetaObject* _base = nullptr;
    size_t _size = 0;
    kaConstructorFunction _constructor = nullptr;
    kaRegistrationFunction _registration = nullptr;
    std::vector<kaMetaField*> _fields;
    int _firstOwnField = 0;
    bool _fullyRegistered = false;
    bool _registering = false;
};

// One-argument form: runs a class's registration function. The function itself does nothing
// for a class that is already registered.
void kaArkRegister(kaRegistrationFunction registration);

// Full form, called by a class's arkRegisterInternal: registers the base first, then the listed
// referenced types, then declares the class's fields; completes in place a meta object that
// getClassTypeLazy handed out early. Does nothing for a class that is fully registered (or
// being registered further up the call chain). Returns null: no pool factory objects are made.
kaObject* kaArkRegisterFull(bool unused, kaMetaObject** metaSlot, kaRegistrationFunction registerBase,
                            kaGetMetaFunction getBaseMeta, kaGetMetaFunction getMetaSafe, const char* name,
                            size_t size, kaConstructorFunction constructor, void* poolFactory,
                            kaFieldDeclarationFunction declareFields, void* unused2,
                            const kaRegistrationFunction* referencedTypes);

// Creates an empty meta object in the system pool (what getClassTypeLazy hands out).
kaMetaObject* kaCreateEmptyMetaObject();

// Kept for source compatibility with older passes; does nothing.
inline void kaInstantiateRefDeprecated() {}

} // namespace Lode::Core
