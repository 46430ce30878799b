#include "host/core/kaWalk.h"

#include "host/core/kaMeta.h"

#include <unordered_set>

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
    std::vector<kaObject*> order;
    std::unordered_set<const kaObject*> seen;
    // An explicit stack: scene graphs can be deeper than the call stack allows.
    std::vector<kaObject*> stack(roots.rbegin(), roots.rend());
    std::vector<kaObject*> referenced;
    while (!stack.empty()) {
        kaObject* object = stack.back();
        stack.pop_back();
        if (!object || !seen.insert(object).second) continue;
        order.push_back(object);
        referenced.clear();
        kaForEachReference(object, [&](kaObject* target) { referenced.push_back(target); });
        for (auto it = referenced.rbegin(); it != referenced.rend(); ++it)
            if (!seen.count(*it)) stack.push_back(*it);
    }
    return order;
}

} // namespace Lode::Core
