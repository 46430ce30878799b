// kaRemoveParentList: every node forgets its parents; every group keeps its children.
#include "host/core/kaWalk.h"
#include "host/sg/kaSceneModel.h"
#include "kaPassTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

using namespace kaTest;

TEST(RemoveParentList, NodesForgetTheirParentsAndGroupsKeepTheirChildren)
{
    auto infos = Lode::Tools::kaMakeExampleScene();
    kaSmartPointer<kaNode> root = kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph();
    auto childrenOfEveryGroup = [&] {
        std::vector<std::vector<kaObject*>> children;
        for (kaObject* object : kaCollectReachable({root.get()}))
            if (kaGroup* group = kaGroup::dynamicCast(object))
                children.emplace_back(group->getChildren()->getEntries().begin(), group->getChildren()->getEntries().end());
        return children;
    };
    const auto before = childrenOfEveryGroup();
    runPass("kaRemoveParentList", root);
    EXPECT_EQ(childrenOfEveryGroup(), before);
    int nodes = 0;
    for (kaObject* object : kaCollectReachable({root.get()}))
        if (kaNode* node = kaNode::dynamicCast(object)) {
            ++nodes;
            EXPECT_EQ(static_cast<kaObjectRefMetaField*>(node->getMetaField("_parentList"))->get(node), nullptr);
            EXPECT_EQ(node->getParentCount(), 0);
        }
    EXPECT_GT(nodes, 20);
}
