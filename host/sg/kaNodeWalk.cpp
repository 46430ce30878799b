#include "host/sg/kaNodeWalk.h"

#include "host/core/kaWalk.h"

#include <algorithm>
#include <unordered_set>

namespace Lode::Sg {

namespace {

// Appends, in declaration order, the nodes that object refers to directly or through non-node
// objects. Chains of non-node objects are short (a list, an attribute), so recursion is fine.
void findChildNodes(const kaObject* object, const kaMetaObject* nodeMeta, std::unordered_set<const kaObject*>& seen,
                    std::vector<kaNode*>& children)
{
    kaForEachReference(object, [&](kaObject* target) {
        if (!seen.insert(target).second) return;
        if (target->isOfType(nodeMeta))
            children.push_back(static_cast<kaNode*>(target));
        else
            findChildNodes(target, nodeMeta, seen, children);
    });
}

} // namespace

std::vector<kaSmartPointer<kaNode>> kaCollectNodes(kaNode* root, const kaMetaObject* meta)
{
    std::vector<kaSmartPointer<kaNode>> nodes;
    if (!root) return nodes;
    const kaMetaObject* nodeMeta = kaNode::getClassMetaSafe();
    std::unordered_set<const kaObject*> seen{root};
    // An explicit stack of nodes: scene graphs can be deeper than the call stack allows.
    std::vector<kaNode*> stack{root};
    std::vector<kaNode*> children;
    while (!stack.empty()) {
        kaNode* node = stack.back();
        stack.pop_back();
        if (node->isOfType(meta)) nodes.emplace_back(node);
        children.clear();
        findChildNodes(node, nodeMeta, seen, children);
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return nodes;
}

} // namespace Lode::Sg
