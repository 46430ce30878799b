// kaInstanceGeometriesByName exists for levels exported prop by prop: the same rock or crate
// arrives as a separate copy of its geometry at every place it stands. Geometry nodes with
// exactly the same name (letter case included) are taken to be the same geometry; nothing else
// is compared. The first geometry node of a name that the visit meets is kept; every later one
// is taken out of each group that holds it, and the kept node is appended to that group, so
// one node ends up with several parents. Unnamed geometry is left alone; an empty name is a
// name like any other. A namesake below its kept node (a morph instance named like the
// geometry it hangs under) stays in the groups there: the kept node cannot be its own child.
//
// The kept nodes stay listed in _geometryList, sorted by name, for as long as the pass object
// lives: a second run with the same object knows the names of the first.
#include "passes/geometry/kaInstanceGeometriesByName.h"

#include "passes/kaPassRegistration.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaGroup.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace Lode::OptExtension {

using Lode::Sg::kaGroup;

kaObjectRefMetaField* kaInstanceGeometriesByName::k_geometryList = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaInstanceGeometriesByName, kaGeometryList::arkRegister)

void kaInstanceGeometriesByName::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_geometryList, KA_FIELD(kaInstanceGeometriesByName, _geometryList),
               kaGeometryList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.describe("the geometry node kept for each name, sorted by name (filled by the run)");
    fields.declare();
}

kaInstanceGeometriesByName::~kaInstanceGeometriesByName() { kaObject::release(_geometryList); }

int kaInstanceGeometriesByName::compareByName(const kaGeometry* a, const kaGeometry* b)
{
    return std::strcmp(a->getName(), b->getName());
}

kaInstanceGeometriesByName::NameKey kaInstanceGeometriesByName::nameKey(const char* text, size_t place)
{
    NameKey key;
    key.text = text;
    key.place = place;
    for (int i = 0; i < 16 && text[i]; ++i)
        (i < 8 ? key.head : key.tail) |= uint64_t(uint8_t(text[i])) << (56 - 8 * (i % 8));
    return key;
}

inline int kaInstanceGeometriesByName::compareNames(const NameKey& a, const NameKey& b)
{
    if (a.head != b.head) return a.head < b.head ? -1 : 1;
    if (a.tail != b.tail) return a.tail < b.tail ? -1 : 1;
    return a.text == b.text ? 0 : std::strcmp(a.text, b.text);
}

void kaInstanceGeometriesByName::sortByName(std::vector<NameKey>& keys)
{
    std::sort(keys.begin(), keys.end(), [](const NameKey& a, const NameKey& b) {
        const int byName = compareNames(a, b);
        return byName != 0 ? byName < 0 : a.place < b.place;
    });
}

bool kaInstanceGeometriesByName::configure(int) { return true; }

kaMetaObject* kaInstanceGeometriesByName::getVisitedObjectMeta() { return kaGeometry::getClassMetaSafe(); }

bool kaInstanceGeometriesByName::preVisit()
{
    _named.clear();
    _names.clear();
    return true;
}

bool kaInstanceGeometriesByName::visitor(kaObject* object)
{
    kaGeometry* geometry = static_cast<kaGeometry*>(object);
    if (const char* name = geometry->getName()) {
        _names.push_back(nameKey(name, _named.size()));
        _named.emplace_back(geometry);
    }
    return true;
}

bool kaInstanceGeometriesByName::postVisit()
{
    const std::vector<kaGeometry*> named = std::exchange(_named, {});
    std::vector<NameKey> visited = std::exchange(_names, {});
    sortByName(visited);
    std::vector<NameKey> listed;
    for (int i = 0; i < _geometryList->getCount(); ++i) {
        const kaGeometry* kept = _geometryList->getShared(i);
        if (kept && kept->getName()) listed.push_back(nameKey(kept->getName(), size_t(i)));
    }
    sortByName(listed);

    // A name keeps the node an earlier run kept (the first listed, should the list hold the
    // name twice), else the first visited; both sequences run in name order, so one pass
    // through each finds them. The names first met here come out in the list's order.
    std::vector<kaGeometry*> keptFor(named.size());
    std::vector<kaGeometry*> keptInThisRun;
    size_t earlier = 0;
    for (size_t first = 0, end = 0; first < visited.size(); first = end) {
        while (earlier < listed.size() && compareNames(listed[earlier], visited[first]) < 0) ++earlier;
        kaGeometry* kept = named[visited[first].place];
        if (earlier < listed.size() && compareNames(listed[earlier], visited[first]) == 0)
            kept = _geometryList->getShared(int(listed[earlier].place));
        else
            keptInThisRun.push_back(kept);
        for (end = first; end < visited.size() && visited[end].text == visited[first].text; ++end)
            keptFor[visited[end].place] = kept;
    }
    // Held from here on: a move can take the last parent of a node kept or moved later, and
    // the list holds the kept nodes.
    std::vector<std::pair<kaSmartPointer<kaGeometry>, kaGeometry*>> moves;
    for (size_t i = 0; i < named.size(); ++i)
        if (keptFor[i] != named[i]) moves.emplace_back(named[i], keptFor[i]);
    _geometryList->sortedAddSorted(keptInThisRun, &compareByName);
    // In the order visited: whether a group lies below a kept node depends on the moves before.
    for (const auto& move : moves) takePlaceOf(move.first.get(), move.second);
    return true;
}

void kaInstanceGeometriesByName::takePlaceOf(kaGeometry* geometry, kaGeometry* kept)
{
    // From the last parent to the first: a removal takes the group out of the node's parent
    // list and would move the positions still to come.
    for (int p = geometry->getParentCount() - 1; p >= 0; --p) {
        kaGroup* group = kaGroup::dynamicCast(geometry->getParent(p));
        if (group && !isAtOrBelow(group, kept)) {
            group->removeChild(geometry);
            group->appendChild(kept);
        }
    }
}

bool kaInstanceGeometriesByName::isAtOrBelow(kaGroup* group, const kaGeometry* kept)
{
    // Only a kept node with children can lie above anything: most have none.
    if (kept->getChildCount() == 0) return group == kept;
    const uint32_t walk = kaObject::beginWalk();
    std::vector<kaGroup*> pending{group};
    while (!pending.empty()) {
        kaGroup* at = pending.back();
        pending.pop_back();
        if (at == kept) return true;
        if (at->markReached(walk)) continue;
        for (int p = 0; p < at->getParentCount(); ++p) pending.push_back(at->getParent(p));
    }
    return false;
}

} // namespace Lode::OptExtension
