// The root of every engine object: an exact reference count, the class's meta object, the
// memory pool the object was made in, and the process-wide count of live objects that the
// leak checks read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Lode::Core {

class kaMetaObject;
class kaMetaField;

// A source of object memory. A null pool means the default heap; a pool only counts what it
// hands out so that a caller can tell whether everything made in it was given back.
class kaMemoryPool {
public:
    void* allocate(size_t bytes);
    void deallocate(void* memory, size_t bytes);
    size_t getLiveAllocationCount() const { return _liveAllocations; }

    // The pool in which the host keeps objects that live as long as the process (meta objects).
    static kaMemoryPool* getSystemMemoryPool();

private:
    size_t _liveAllocations = 0;
};

class kaObject {
public:
    virtual ~kaObject();

    kaObject(const kaObject&) = delete;
    kaObject& operator=(const kaObject&) = delete;

    void addRef() const { ++_refCount; }
    // Gives back one reference; destroys the object when it was the last. Null-safe.
    static void release(const kaObject* object);
    int32_t getRefCount() const { return _refCount; }

    // The class of this object; every class gets it from its reflection family.
    virtual kaMetaObject* getMetaObject() const;
    bool isOfType(const kaMetaObject* meta) const;
    kaMetaField* getMetaField(const char* name) const;

    kaMemoryPool* getMemoryPool() const { return _pool; }
    // The object's place in the order of creation within the process: unique, and the same in
    // every run that makes the same objects in the same order (a file read makes them in file
    // order). Lists sorted by object identity use it, so that their order never depends on
    // where the allocator put an object.
    uint64_t getCreationNumber() const { return _creationNumber; }

    // Called by readers once every reflected field of the object has been read, so that a class
    // can rebuild state it derives from its fields (parent links, caches).
    virtual void afterRead() {}
    // Text form of a whole object, for list-like classes that scripts set in one value
    // ("1.5, 2, 3" for a float list). The default refuses.
    virtual bool setFromText(const char* text, std::string& error);
    virtual std::string toText() const;

    static void* operator new(size_t bytes, kaMemoryPool* pool);
    static void operator delete(void* memory, kaMemoryPool* pool);
    static void operator delete(void* memory, size_t bytes);

    // Number of kaObjects alive in the process.
    static long getLiveObjectCount();

    // The root of the class tree has the reflection family too, written out by hand.
    static kaMetaObject* _Meta;
    static kaMetaObject* getClassMeta() { return _Meta; }
    static kaMetaObject* getClassMetaSafe();
    static kaMetaObject* getClassTypeLazy();
    static void arkRegister();
    static void arkRegisterInternal();

protected:
    kaObject();

public:
    // Walks over millions of objects mark what they reach in the objects themselves instead of
    // looking each one up in a table the size of the scene. A walk takes a new number; a later
    // walk overwrites the marks, so a walk that goes on after another has begun (the last
    // number is no longer its own) marks what it reached again under a new number. Objects are
    // walked by one thread at a time, as everything in the engine is.
    static uint32_t beginWalk();
    static uint32_t getLastWalk();
    // Marks the object as reached by the walk; true when that walk had marked it already.
    bool markReached(uint32_t walk) const
    {
        const bool reached = _reachedBy == walk;
        _reachedBy = walk;
        return reached;
    }
    bool isReached(uint32_t walk) const { return _reachedBy == walk; }

private:
    friend class kaMetaObject;
    mutable int32_t _refCount = 0;
    mutable uint32_t _reachedBy = 0;
    kaMemoryPool* _pool = nullptr;
    uint64_t _creationNumber;
};

// The identity order of objects, as a three-way comparison for the sorted list operations:
// by creation number.
int kaCompareIdentity(const kaObject* a, const kaObject* b);

// Tags by which a smart pointer creates an object of T (T::_instantiateRef()).
template <class T> struct kaTypeWrapper {};
template <class T> struct kaTypeWrapperWithMemoryPool { kaMemoryPool* pool; };

// Holds one reference. Assignment takes the new reference before giving back the old one, so
// that assigning an object to the pointer that already holds it is safe.
template <class T>
class kaSmartPointer {
public:
    kaSmartPointer() = default;
    kaSmartPointer(T* object) : _object(object) { if (_object) _object->addRef(); }
    kaSmartPointer(const kaSmartPointer& other) : kaSmartPointer(other._object) {}
    kaSmartPointer(kaSmartPointer&& other) noexcept : _object(other._object) { other._object = nullptr; }
    template <class U>
    kaSmartPointer(const kaSmartPointer<U>& other) : kaSmartPointer(static_cast<T*>(other.get())) {}
    kaSmartPointer(kaTypeWrapper<T>) : _object(T::_instantiateFromPool(nullptr)) {}
    kaSmartPointer(kaTypeWrapperWithMemoryPool<T> tag) : _object(T::_instantiateFromPool(tag.pool)) {}
    ~kaSmartPointer() { kaObject::release(_object); }

    kaSmartPointer& operator=(T* object)
    {
        if (object) object->addRef();
        T* old = _object;
        _object = object;
        kaObject::release(old);
        return *this;
    }
    kaSmartPointer& operator=(const kaSmartPointer& other) { return *this = other._object; }
    template <class U>
    kaSmartPointer& operator=(const kaSmartPointer<U>& other)
    {
        return *this = static_cast<T*>(other.get());
    }
    kaSmartPointer& operator=(kaSmartPointer&& other) noexcept
    {
        if (this != &other) {
            T* old = _object;
            _object = other._object;
            other._object = nullptr;
            kaObject::release(old);
        }
        return *this;
    }

    // Takes over a reference that the caller already owns (the one handed out by _instantiate).
    static kaSmartPointer adopt(T* object)
    {
        kaSmartPointer pointer;
        pointer._object = object;
        return pointer;
    }
    // Hands the held reference to the caller.
    T* detach()
    {
        T* object = _object;
        _object = nullptr;
        return object;
    }

    T* get() const { return _object; }
    T* operator->() const { return _object; }
    T& operator*() const { return *_object; }
    explicit operator bool() const { return _object != nullptr; }
    operator T*() const { return _object; }

private:
    T* _object = nullptr;
};

} // namespace Lode::Core
