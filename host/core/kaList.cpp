#include "host/core/kaList.h"

#include <algorithm>

namespace Lode::Core {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaObjectList)

void kaObjectList::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addObjectList(KA_FIELD(kaObjectList, _entries));
    fields.declare();
}

kaObjectList::~kaObjectList() { removeAll(); }

void kaObjectList::append(kaObject* object) { insert(getCount(), object); }

void kaObjectList::insert(int index, kaObject* object)
{
    if (object && holdsReferences()) object->addRef();
    _entries.insert(_entries.begin() + index, object);
}

void kaObjectList::set(int index, kaObject* object)
{
    if (object && holdsReferences()) object->addRef();
    kaObject* old = _entries[index];
    _entries[index] = object;
    if (holdsReferences()) kaObject::release(old);
}

void kaObjectList::remove(int index)
{
    kaObject* old = _entries[index];
    _entries.erase(_entries.begin() + index);
    if (holdsReferences()) kaObject::release(old);
}

bool kaObjectList::removeObject(const kaObject* object)
{
    int index = find(object);
    if (index < 0) return false;
    remove(index);
    return true;
}

void kaObjectList::removeAll()
{
    std::vector<kaObject*> old;
    old.swap(_entries);
    if (holdsReferences())
        for (kaObject* object : old) kaObject::release(object);
}

bool kaObjectList::appendUnique(kaObject* object)
{
    if (find(object) >= 0) return false;
    append(object);
    return true;
}

int kaObjectList::find(const kaObject* object) const
{
    auto found = std::find(_entries.begin(), _entries.end(), object);
    return found == _entries.end() ? -1 : static_cast<int>(found - _entries.begin());
}

int kaObjectList::sortedAdd(kaObject* object, CompareFunction compare)
{
    auto position = std::upper_bound(_entries.begin(), _entries.end(), object,
                                     [compare](kaObject* a, kaObject* b) { return compare(a, b) < 0; });
    int index = static_cast<int>(position - _entries.begin());
    insert(index, object);
    return index;
}

int kaObjectList::sortedFind(const kaObject* object, CompareFunction compare) const
{
    auto position = std::lower_bound(_entries.begin(), _entries.end(), object,
                                     [compare](kaObject* a, const kaObject* b) { return compare(a, b) < 0; });
    if (position == _entries.end() || compare(*position, object) != 0) return -1;
    return static_cast<int>(position - _entries.begin());
}

void kaObjectList::sortedAddSorted(const std::vector<kaObject*>& objects, CompareFunction compare)
{
    const size_t kept = _entries.size();
    _entries.reserve(kept + objects.size());
    // Sorted objects lie anywhere in memory: each is fetched a few appends ahead of its count.
    for (size_t i = 0; i < objects.size(); ++i) {
        if (i + 8 < objects.size()) __builtin_prefetch(objects[i + 8]);
        append(objects[i]);
    }
    // A stable merge: an entry comes after the entries already there that compare equal to it.
    std::inplace_merge(_entries.begin(), _entries.begin() + kept, _entries.end(),
                       [compare](kaObject* a, kaObject* b) { return compare(a, b) < 0; });
}

KA_IMPLEMENT_DATA_LIST(kaFloatList, float)
KA_IMPLEMENT_DATA_LIST(kaIntList, int32_t)
KA_IMPLEMENT_DATA_LIST(kaUnsignedIntList, uint32_t)
KA_IMPLEMENT_OBJECT_LIST(kaIntListList)

} // namespace Lode::Core
