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

bool kaInstanceGeometriesByName::configure(int) { return true; }

kaMetaObject* kaInstanceGeometriesByName::getVisitedObjectMeta() { return kaGeometry::getClassMetaSafe(); }

bool kaInstanceGeometriesByName::preVisit()
{
    _keptByName.clear();
    _keptInThisRun.clear();
    for (int i = 0; i < _geometryList->getCount(); ++i) {
        kaGeometry* kept = _geometryList->getShared(i);
        if (kept && kept->getName()) _keptByName.emplace(kept->getName(), kept);
    }
    return true;
}

bool kaInstanceGeometriesByName::postVisit()
{
    // Sorted by the name texts themselves, a step nearer than the nodes that hold them. The
    // names differ from each other, so the order is the one sortedAdd gives.
    std::vector<std::pair<const char*, kaGeometry*>> byName;
    byName.reserve(_keptInThisRun.size());
    for (const auto& kept : _keptInThisRun) byName.emplace_back(kept->getName(), kept.get());
    std::sort(byName.begin(), byName.end(), [](const auto& a, const auto& b) { return std::strcmp(a.first, b.first) < 0; });
    std::vector<kaGeometry*> sorted;
    sorted.reserve(byName.size());
    for (const auto& entry : byName) sorted.push_back(entry.second);
    _geometryList->sortedAddSorted(sorted, &compareByName);
    _keptByName.clear();
    _keptInThisRun.clear();
    return true;
}

bool kaInstanceGeometriesByName::visitor(kaObject* object)
{
    kaGeometry* geometry = static_cast<kaGeometry*>(object);
    if (!geometry->getName()) return true;
    auto [entry, isFirst] = _keptByName.emplace(geometry->getName(), geometry);
    if (isFirst) {
        _keptInThisRun.emplace_back(geometry);
        return true;
    }
    kaGeometry* kept = entry->second;
    if (kept == geometry) return true;

    kaSmartPointer<kaGeometry> held = geometry;
    // From the last parent to the first: a removal takes the group out of the node's parent
    // list and would move the positions still to come.
    for (int p = geometry->getParentCount() - 1; p >= 0; --p) {
        kaGroup* group = kaGroup::dynamicCast(geometry->getParent(p));
        if (group && !isAtOrBelow(group, kept)) {
            group->removeChild(geometry);
            group->appendChild(kept);
        }
    }
    return true;
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
