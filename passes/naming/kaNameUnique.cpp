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
    kaStringRef name = object->getNameRef();
    if (name.isNull()) return;
    // The count includes this reference and the object's own.
    const int32_t holders = name.getRefCount();
    if (holders == 2) return;
    const std::string oldName = name.c_str();
    name = nullptr;

    TakenNumbers& taken = _takenNumbers[oldName];
    const int32_t number = findFreeNumber(oldName, taken, holders - 2);
    object->setName((oldName + "_" + std::to_string(number)).c_str());
    taken.next[number] = number + 1;
}

int32_t kaNameUnique::findFreeNumber(const std::string& name, TakenNumbers& taken, int32_t start)
{
    std::vector<int32_t> passedOver;
    int32_t number = start;
    for (;;) {
        auto known = taken.next.find(number);
        if (known != taken.next.end()) {
            passedOver.push_back(number);
            number = known->second;
            continue;
        }
        const kaStringRef candidate((name + "_" + std::to_string(number)).c_str());
        if (candidate.getRefCount() == 1) break;
        taken.next[number] = number + 1;
        passedOver.push_back(number);
        ++number;
    }
    // Later searches from any number passed over jump straight here.
    for (int32_t passed : passedOver) taken.next[passed] = number;
    return number;
}

} // namespace Lode::OptExtension
