// kaRemoveParentList exists for runtimes that only ever walk a scene downwards: a node's list
// of its parents is then memory spent on every node for nothing. Each node's "_parentList"
// reference is cleared, found by name so that a node class without one is simply passed over;
// the groups keep their children in the same order.
#include "passes/naming/kaRemoveParentList.h"

#include "passes/kaPassRegistration.h"
#include "host/sg/kaNode.h"

namespace Lode::OptExtension {

using Lode::Sg::kaNode;

KA_IMPLEMENT_PASS(kaRemoveParentList)

bool kaRemoveParentList::configure(int) { return true; }

kaMetaObject* kaRemoveParentList::getVisitedObjectMeta() { return kaNode::getClassMetaSafe(); }

bool kaRemoveParentList::visitor(kaObject* object)
{
    removeParentList(static_cast<kaNode*>(object));
    return true;
}

void kaRemoveParentList::removeParentList(kaNode* node)
{
    kaMetaField* field = node->getMetaField("_parentList");
    if (field && field->getKind() == kaFieldKind::ObjectRef)
        static_cast<kaObjectRefMetaField*>(field)->set(node, nullptr);
}

} // namespace Lode::OptExtension
