// kaUseDisplayList tells the renderer how to draw static geometry: every geometry node gets
// node flag 4 set to _enable (draw through a display list) and flag 8 set to _deleteOriginal
// (the vertex data may go once the list is built). Both flags are written on every geometry
// node, cleared as well as set, so the result does not depend on what the nodes held before.
// The pass builds no list and deletes nothing; it prints nothing.
#include "passes/geometry/kaUseDisplayList.h"

#include "passes/kaPassRegistration.h"
#include "host/sg/kaGeometry.h"

namespace Lode::OptExtension {

using Lode::Sg::kaGeometry;

kaBoolMetaField* kaUseDisplayList::k_enable = nullptr;
kaBoolMetaField* kaUseDisplayList::k_deleteOriginal = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaUseDisplayList)

void kaUseDisplayList::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_enable, KA_FIELD(kaUseDisplayList, _enable), kDefaultEnable);
    fields.describe("draw the geometry through a display list (node flag 4)");
    fields.add(&k_deleteOriginal, KA_FIELD(kaUseDisplayList, _deleteOriginal), kDefaultDeleteOriginal);
    fields.describe("the original vertex data may be deleted once the display list is built (node flag 8)");
    fields.declare();
}

bool kaUseDisplayList::canOptimize(kaNode*) { return true; }

bool kaUseDisplayList::configure(int) { return true; }

bool kaUseDisplayList::preTraverse()
{
    // The name filter is left as the traversal base holds it.
    setTraversalNodeMeta(kaGeometry::getClassMetaSafe());
    setTraversalFlag(false);
    return true;
}

GRAPH_TRAVERSAL kaUseDisplayList::dispatch(kaSmartPointer<kaNode>& node)
{
    node->setFlag(kDisplayListFlag, _enable);
    node->setFlag(kDeleteOriginalFlag, _deleteOriginal);
    return GRAPH_TRAVERSAL_CONTINUE;
}

} // namespace Lode::OptExtension
