#include "host/sg/kaNodeWalk.h"

#include "host/core/kaWalk.h"

#include <algorithm>

namespace Lode::Sg {

namespace {

// Appends, in declaration order, the nodes that object refers to directly or through non-node
// objects, marking what the walk reaches. Chains of non-node objects are short (a list, an
// attribute), so recursion is fine.
void findChildNodes(const kaObject* object, const kaMetaObject* nodeMeta, uint32_t walk, std::vector<kaNode*>& children)
{
    kaForEachReference(object, [&](kaObject* target) {
        if (target->markReached(walk)) return;
        if (target->isOfType(nodeMeta))
            children.push_back(static_cast<kaNode*>(target));
        else
            findChildNodes(target, nodeMeta, walk, children);
    });
}

} // namespace

std::vector<kaSmartPointer<kaNode>> kaCollectNodes(kaNode* root, const kaMetaObject* meta)
{
    std::vector<kaSmartPointer<kaNode>> nodes;
    if (!root) return nodes;
    const kaMetaObject* nodeMeta = kaNode::getClassMetaSafe();
    // The objects of the graph carry the walk's mark, so that a walk over millions of them looks
    // nothing up in a table the size of the scene; nothing else walks until it returns.
    const uint32_t walk = kaObject::beginWalk();
    root->markReached(walk);
    // An explicit stack of nodes: scene graphs can be deeper than the call stack allows.
    std::vector<kaNode*> stack{root};
    std::vector<kaNode*> children;
    while (!stack.empty()) {
        kaNode* node = stack.back();
        stack.pop_back();
        if (node->isOfType(meta)) nodes.emplace_back(node);
        children.clear();
        findChildNodes(node, nodeMeta, walk, children);
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return nodes;
}

} // namespace Lode::Sg
