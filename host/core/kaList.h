// Lists. Object lists hold references to engine objects (one each, except parent lists);
// data lists hold plain values contiguously. Both are engine objects themselves, so a class
// refers to its list through an object-reference field and files, walks and dumps see it.
#pragma once

#include "host/core/kaReflect.h"

#include <vector>

namespace Lode::Core {

class kaObjectList : public kaObject {
    KA_DECLARE_CLASS(kaObjectList, kaObject)
public:
    ~kaObjectList() override;

    // A three-way comparison: negative, zero or positive as a sorts before, with or after b.
    using CompareFunction = int (*)(const kaObject* a, const kaObject* b);

    int getCount() const { return static_cast<int>(_entries.size()); }
    // The entry at a position, without taking a reference.
    kaObject* getShared(int index) const { return _entries[index]; }
    const std::vector<kaObject*>& getEntries() const { return _entries; }

    void append(kaObject* object);
    void insert(int index, kaObject* object);
    // Replaces the entry at a position.
    void set(int index, kaObject* object);
    void remove(int index);
    // Removes the first entry that is this object; false when there is none.
    bool removeObject(const kaObject* object);
    void removeAll();
    // Appends unless the same object is already in the list; false when it was.
    bool appendUnique(kaObject* object);
    int find(const kaObject* object) const;
    // Inserts after every entry that compares less or equal, so equal entries keep their
    // insertion order; returns the position.
    int sortedAdd(kaObject* object, CompareFunction compare);
    // The position of an entry that compares equal, or -1.
    int sortedFind(const kaObject* object, CompareFunction compare) const;
    // What sortedAdd of each object in turn gives when the objects come in order already: one
    // merge instead of a move of the entries behind each insertion.
    void sortedAddSorted(const std::vector<kaObject*>& objects, CompareFunction compare);

    // The class of the entries a typed list accepts (readers check entries against it).
    virtual kaMetaObject* getElementMeta() const { return kaObject::getClassMetaSafe(); }
    // Parent lists point up the graph and must not keep their parents alive.
    virtual bool holdsReferences() const { return true; }

protected:
    kaObjectList() = default;
    std::vector<kaObject*> _entries;
};

// Typed access to an object list; the concrete list classes (kaNodeList, kaAttrList, ...) are
// declared with KA_DECLARE_OBJECT_LIST.
template <class T>
class kaTObjectList : public kaObjectList {
public:
    T* getShared(int index) const { return static_cast<T*>(_entries[index]); }
    T* get(int index) const { return getShared(index); }
    using TypedCompare = int (*)(const T*, const T*);
    int sortedAdd(T* object, TypedCompare compare)
    {
        return kaObjectList::sortedAdd(object, reinterpret_cast<CompareFunction>(compare));
    }
    int sortedFind(const T* object, TypedCompare compare) const
    {
        return kaObjectList::sortedFind(object, reinterpret_cast<CompareFunction>(compare));
    }
    void sortedAddSorted(const std::vector<T*>& objects, TypedCompare compare)
    {
        kaObjectList::sortedAddSorted(std::vector<kaObject*>(objects.begin(), objects.end()),
                                   reinterpret_cast<CompareFunction>(compare));
    }
    kaMetaObject* getElementMeta() const override { return T::getClassMetaSafe(); }
};

#define KA_DECLARE_OBJECT_LIST(ListClass, ElementClass)              \
    class ListClass : public ::Lode::Core::kaTObjectList<ElementClass> { \
        KA_DECLARE_CLASS(ListClass, ::Lode::Core::kaTObjectList<ElementClass>) \
    };

#define KA_IMPLEMENT_OBJECT_LIST(ListClass) KA_IMPLEMENT_CLASS(ListClass)

// Plain values in one contiguous array, reflected as a data block named "_data".
template <class T>
class kaTDataList : public kaObject {
public:
    int getCount() const { return static_cast<int>(_data.size()); }
    void setCount(int count) { _data.resize(count); }
    const T& get(int index) const { return _data[index]; }
    T& get(int index) { return _data[index]; }
    void set(int index, const T& value) { _data[index] = value; }
    void append(const T& value) { _data.push_back(value); }
    void setAll(const T& value) { std::fill(_data.begin(), _data.end(), value); }
    void removeAll() { _data.clear(); }
    T* data() { return _data.data(); }
    const T* data() const { return _data.data(); }
    kaBlock<T>& values() { return _data; }
    const kaBlock<T>& values() const { return _data; }

    bool setFromText(const char* text, std::string& error) override
    {
        return blockField()->setFromText(this, text, error);
    }
    std::string toText() const override { return blockField()->toText(this); }

protected:
    kaBlock<T> _data;

private:
    const kaMetaField* blockField() const { return getMetaObject()->findMetaField("_data"); }
};

#define KA_DECLARE_DATA_LIST(ListClass, ValueType)                 \
    class ListClass : public ::Lode::Core::kaTDataList<ValueType> {   \
        KA_DECLARE_CLASS(ListClass, ::Lode::Core::kaTDataList<ValueType>) \
    };

#define KA_IMPLEMENT_DATA_LIST(ListClass, ValueType)                  \
    KA_IMPLEMENT_CLASS_WITH_FIELDS(ListClass)                         \
    void ListClass::arkRegisterInitialize()                           \
    {                                                                 \
        ::Lode::Core::kaFieldTable fields(_Meta);                     \
        fields.addBlock<ValueType>(KA_FIELD(ListClass, _data));       \
        fields.declare();                                             \
    }

KA_DECLARE_DATA_LIST(kaFloatList, float)
KA_DECLARE_DATA_LIST(kaIntList, int32_t)
KA_DECLARE_DATA_LIST(kaUnsignedIntList, uint32_t)

KA_DECLARE_OBJECT_LIST(kaIntListList, kaIntList)

} // namespace Lode::Core
