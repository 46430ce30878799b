// kaNameUnique exists because engines and exporters look objects up by name, and scenes put
// together from many files repeat names (every prop's "mesh", every rig's "Bone01"). Every
// named object, nodes among them, whose name text is also held by anything else gets the name
// followed by "_" and a number: the count of the other holders, or the next number whose text
// nothing holds. Of k objects that share a name, the first visited gets "_k-1", the next
// "_k-2", and the last keeps the bare name.
//
// Counting holders is what interned names make cheap: the count of the name's text counts
// every object and every string reference that holds it, anywhere.
#include "passes/naming/kaNameUnique.h"

#include "passes/kaPassRegistration.h"

#include <vector>

namespace Lode::OptExtension {

KA_IMPLEMENT_PASS(kaNameUnique)

bool kaNameUnique::configure(int) { return true; }

kaMetaObject* kaNameUnique::getVisitedObjectMeta() { return kaNamedObject::getClassMetaSafe(); }

bool kaNameUnique::visitor(kaObject* object)
{
    makeNameUnique(static_cast<kaNamedObject*>(object));
    return true;
}

bool kaNameUnique::preVisit()
{
    _takenNumbers.clear();
    return true;
}

bool kaNameUnique::postVisit()
{
    _takenNumbers.clear();
    return true;
}

void kaNameUnique::makeNameUnique(kaNamedObject* object)
{
    const kaStringRef& name = object->getNameRef();
    if (name.isNull()) return;
    // The count includes the object's own reference.
    const int32_t holders = name.getRefCount();
    if (holders == 1) return;
    const std::string oldName = name.c_str();
    // Most first tries are free: the table of numbers in use is only consulted, and only grows,
    // when a try finds its text held.
    const int32_t start = holders - 1;
    kaStringRef newName = oldName + "_" + std::to_string(start);
    if (newName.getRefCount() != 1) newName = findFreeName(oldName, _takenNumbers[oldName], start);
    // Naming the object while the found text is still held finds it in the table instead of
    // interning it a second time.
    object->setName(newName.c_str());
}

kaStringRef kaNameUnique::findFreeName(const std::string& name, TakenNumbers& taken, int32_t start)
{
    std::vector<int32_t> passedOver{start};
    int32_t number = start + 1;
    kaStringRef candidate;
    for (;;) {
        auto known = taken.next.find(number);
        if (known != taken.next.end()) {
            passedOver.push_back(number);
            number = known->second;
            continue;
        }
        candidate = name + "_" + std::to_string(number);
        if (candidate.getRefCount() == 1) break;
        passedOver.push_back(number);
        ++number;
    }
    // Later searches from any number passed over, or from this one, jump past it.
    for (int32_t passed : passedOver) taken.next[passed] = number + 1;
    taken.next[number] = number + 1;
    return candidate;
}

} // namespace Lode::OptExtension
