// The run of one pass for each base kind: what reaches dispatch, visitor and replaceNode, in
// which order, and what the framework does with the results.
#include "extension/kaEmpty.h"
#include "extension/kaOptExtensionLibrary.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGroup.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

kaSmartPointer<kaGroup> group(const char* name)
{
    auto node = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    node->setName(name);
    return node;
}

kaSmartPointer<kaNode> leaf(const char* name)
{
    auto node = kaSmartPointer<kaNode>::adopt(kaNode::_instantiate());
    node->setName(name);
    return node;
}

// root(a(shared, b), c(shared)): "shared" has two parents.
struct SmallScene {
    kaSmartPointer<kaGroup> root = group("root");
    kaSmartPointer<kaGroup> a = group("a");
    kaSmartPointer<kaGroup> c = group("c");
    kaSmartPointer<kaNode> shared = leaf("shared");
    kaSmartPointer<kaNode> b = leaf("b");
    kaSmartPointer<kaInfoList> infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    SmallScene()
    {
        a->appendChild(shared);
        a->appendChild(b);
        c->appendChild(shared);
        root->appendChild(a);
        root->appendChild(c);
        auto info = kaSmartPointer<kaSceneInfo>::adopt(kaSceneInfo::_instantiate());
        info->setSceneGraph(root);
        infos->append(info);
    }
};

std::vector<std::string>& events()
{
    static std::vector<std::string> log;
    return log;
}

class kaTestTraverse : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaTestTraverse, kaOptTraverseGraph)
public:
    bool canOptimize(kaInfo* info) override { return kaSceneInfo::dynamicCast(info) != nullptr; }
    using kaOptTraverseGraph::canOptimize;
    bool applyInfo(kaInfo*) override { return events().push_back("info"), true; }
    bool preTraverse() override
    {
        setTraversalNodeMeta(kaNode::getClassMetaSafe());
        return events().push_back("pre"), true;
    }
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override
    {
        events().push_back(node->getName());
        return GRAPH_TRAVERSAL_CONTINUE;
    }
    bool postTraverse() override { return events().push_back("post"), true; }
};
KA_IMPLEMENT_CLASS(kaTestTraverse)

class kaTestRefuse : public kaOptBase {
    KA_DECLARE_CLASS(kaTestRefuse, kaOptBase)
public:
    bool configure(int) override { return false; }
    bool apply(kaSmartPointer<kaNode>&) override { return events().push_back("applied"), true; }
};
KA_IMPLEMENT_CLASS(kaTestRefuse)

// Replaces every leaf named "shared" by a new group.
class kaTestReplace : public kaOptReplaceNode {
    KA_DECLARE_CLASS(kaTestReplace, kaOptReplaceNode)
public:
    bool replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement) override
    {
        events().push_back(node->getName());
        if (std::string(node->getName()) == "shared" || std::string(node->getName()) == "root") {
            replacement = kaSmartPointer<kaNode>::adopt(kaGroup::_instantiate());
            replacement->setName((std::string(node->getName()) + "2").c_str());
        }
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestReplace)

class kaTestVisit : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaTestVisit, kaOptVisitObject)
public:
    kaMetaObject* getVisitedObjectMeta() override { return kaGroup::getClassMetaSafe(); }
    bool preVisit() override { return events().push_back("pre"), true; }
    bool visitor(kaObject* object) override
    {
        events().push_back(static_cast<kaGroup*>(object)->getName());
        return true;
    }
    bool postVisit() override { return events().push_back("post"), true; }
};
KA_IMPLEMENT_CLASS(kaTestVisit)

kaSmartPointer<kaOptInterface> makeInterface()
{
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    return optInterface;
}

} // namespace

TEST(Framework, TraversalOffersInfosFirstThenEachNodeOnceInPreOrder)
{
    long before = kaObject::getLiveObjectCount();
    {
        SmallScene scene;
        auto optInterface = makeInterface();
        kaTestTraverse::arkRegister();
        auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaTestTraverse"));
        ASSERT_NE(pass, nullptr);
        EXPECT_EQ(pass->getInterface(), optInterface.get());
        events().clear();
        kaSmartPointer<kaNode> root = scene.root.get();
        EXPECT_EQ(optInterface->runPass(pass, 0, root, scene.infos), kaOptInterface::RunResult::Applied);
        EXPECT_EQ(events(), (std::vector<std::string>{"info", "pre", "root", "a", "shared", "b", "c", "post"}));
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}

TEST(Framework, RefusedConfigurationIsNotApplied)
{
    SmallScene scene;
    auto optInterface = makeInterface();
    kaTestRefuse::arkRegister();
    auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaTestRefuse"));
    events().clear();
    kaSmartPointer<kaNode> root = scene.root.get();
    EXPECT_EQ(optInterface->runPass(pass, 0, root, scene.infos), kaOptInterface::RunResult::Refused);
    EXPECT_TRUE(events().empty());
    // Only passes can be created through the interface.
    EXPECT_EQ(optInterface->createOptBase("kaGroup"), nullptr);
    EXPECT_EQ(optInterface->createOptBase("noSuchClass"), nullptr);
}

TEST(Framework, ReplacementTakesTheNodesPlaceInEveryParentAndAtTheRoot)
{
    long before = kaObject::getLiveObjectCount();
    {
        SmallScene scene;
        auto optInterface = makeInterface();
        kaTestReplace::arkRegister();
        auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaTestReplace"));
        events().clear();
        kaSmartPointer<kaNode> root = scene.root.get();
        optInterface->runPass(pass, 0, root, scene.infos);
        EXPECT_EQ(events(), (std::vector<std::string>{"root", "a", "shared", "b", "c"}));
        EXPECT_STREQ(root->getName(), "root2");
        EXPECT_STREQ(scene.a->getChild(0)->getName(), "shared2");
        EXPECT_EQ(scene.a->getChild(0), scene.c->getChild(0)) << "one replacement shared by both parents";
        EXPECT_EQ(scene.a->getChild(0)->getParentCount(), 2);
        EXPECT_EQ(scene.shared->getParentCount(), 0);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}

TEST(Framework, VisitingHandsEachObjectOfTheClassOnce)
{
    SmallScene scene;
    auto optInterface = makeInterface();
    kaTestVisit::arkRegister();
    auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaTestVisit"));
    events().clear();
    kaSmartPointer<kaNode> root = scene.root.get();
    optInterface->runPass(pass, 0, root, scene.infos);
    // Groups only (kaNode leaves are not groups), each once.
    EXPECT_EQ(events(), (std::vector<std::string>{"pre", "root", "a", "c", "post"}));
}

TEST(Framework, EmptyPassAcceptsEverythingAndChangesNothing)
{
    long before = kaObject::getLiveObjectCount();
    {
        Lode::kaOptExtensionLibrary_arkRegister();
        auto optInterface = makeInterface();
        auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaEmpty"));
        ASSERT_NE(pass, nullptr);
        SmallScene scene;
        kaSmartPointer<kaNode> root = scene.root.get();
        for (int run = 0; run < 2; ++run) {
            EXPECT_TRUE(pass->configure(0));
            EXPECT_TRUE(pass->canOptimize(root.get()));
            EXPECT_TRUE(pass->apply(root));
        }
        EXPECT_EQ(root.get(), scene.root.get());
        EXPECT_EQ(scene.root->getChildCount(), 2);
        EXPECT_EQ(scene.a->getChildCount(), 2);
        EXPECT_EQ(scene.shared->getParentCount(), 2);
        // A scene without nodes.
        kaSmartPointer<kaNode> none;
        EXPECT_TRUE(pass->configure(0));
        EXPECT_TRUE(pass->apply(none));
        EXPECT_FALSE(pass->canOptimize(static_cast<kaInfo*>(scene.infos->getShared(0))));
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), before);
}
