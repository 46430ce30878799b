#include "host/core/kaWalk.h"

#include "host/core/kaMeta.h"

#include <algorithm>

namespace Lode::Core {

void kaForEachReference(const kaObject* object, const std::function<void(kaObject*)>& visit)
{
    const kaMetaObject* meta = object->getMetaObject();
    for (int i = 0; i < meta->getMetaFieldCount(); ++i) {
        const kaMetaField* field = meta->getIndexedMetaField(i);
        if (field->isTransient()) continue;
        if (field->getKind() == kaFieldKind::ObjectRef) {
            if (kaObject* target = static_cast<const kaObjectRefMetaField*>(field)->get(object)) visit(target);
        } else if (field->getKind() == kaFieldKind::ObjectList) {
            for (kaObject* entry : static_cast<const kaObjectListMetaField*>(field)->get(object))
                if (entry) visit(entry);
        }
    }
}

uint32_t kaWalkReachable(const std::vector<kaObject*>& roots, const std::function<kaWalkStep(kaObject*)>& visit,
                         kaWalkOrder order)
{
    const uint32_t walk = kaObject::beginWalk();
    const bool declared = order == kaWalkOrder::Declared;
    // The stack's top is the next object: what is to come first goes on last.
    std::vector<kaObject*> stack;
    if (declared)
        stack.assign(roots.rbegin(), roots.rend());
    else
        stack.assign(roots.begin(), roots.end());
    std::vector<kaObject*> referenced;
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || object->markReached(walk)) continue;
        const kaWalkStep step = visit(object);
        if (step == kaWalkStep::Stop) break;
        if (step == kaWalkStep::Past) continue;
        referenced.clear();
        kaForEachReference(object, [&](kaObject* target) { referenced.push_back(target); });
        if (declared) std::reverse(referenced.begin(), referenced.end());
        for (kaObject* target : referenced)
            if (!target->isReached(walk)) stack.push_back(target);
    }
    return walk;
}

std::vector<kaObject*> kaCollectReachable(const std::vector<kaObject*>& roots)
{
    std::vector<kaObject*> order;
    kaWalkReachable(roots, [&](kaObject* object) {
        order.push_back(object);
        return kaWalkStep::Into;
    });
    return order;
}

} // namespace Lode::Core
