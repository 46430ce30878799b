#include "host/core/kaWalk.h"

#include "host/core/kaMeta.h"


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

std::vector<kaObject*> kaCollectReachable(const std::vector<kaObject*>& roots)
{
    // Nothing else walks while this loop runs: the walk's marks stay its own.
    const uint32_t walk = kaObject::beginWalk();
    std::vector<kaObject*> order;
    // An explicit stack: scene graphs can be deeper than the call stack allows.
    std::vector<kaObject*> stack(roots.rbegin(), roots.rend());
    std::vector<kaObject*> referenced;
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || object->markReached(walk)) continue;
        order.push_back(object);
        referenced.clear();
        kaForEachReference(object, [&](kaObject* target) { referenced.push_back(target); });
        for (auto it = referenced.rbegin(); it != referenced.rend(); ++it)
            if (!(*it)->isReached(walk)) stack.push_back(*it);
    }
    return order;
}

} // namespace Lode::Core
