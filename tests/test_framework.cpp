// The run of one pass for each base kind: what reaches dispatch, visitor and replaceNode, in
// which order, and what the framework does with the results; and a pass applied to the scene
// graphs an animation database holds.
#include "host/opt/kaAnimationDatabaseApply.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGroup.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

std::vector<std::string>& events()
{
    static std::vector<std::string> log;
    return log;
}

bool logged(const char* event) { return events().push_back(event), true; }

class kaTestTraverse : public kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaTestTraverse, kaOptTraverseGraph)
public:
    bool canOptimize(kaInfo* info) override { return kaSceneInfo::dynamicCast(info) != nullptr; }
    using kaOptTraverseGraph::canOptimize;
    bool applyInfo(kaInfo*) override { return logged("info"); }
    bool preTraverse() override { return setTraversalNodeMeta(kaNode::getClassMetaSafe()), logged("pre"); }
    GRAPH_TRAVERSAL dispatch(kaSmartPointer<kaNode>& node) override { return logged(node->getName()), GRAPH_TRAVERSAL_CONTINUE; }
    bool postTraverse() override { return logged("post"); }
};
KA_IMPLEMENT_CLASS(kaTestTraverse)

// Replaces the nodes named "root", "a" and "shared" by new groups named with a "2" appended,
// which take over the old nodes' children (as a converted morph instance does).
class kaTestReplace : public kaOptReplaceNode {
    KA_DECLARE_CLASS(kaTestReplace, kaOptReplaceNode)
public:
    bool replaceNode(kaSmartPointer<kaNode>& node, kaSmartPointer<kaNode>& replacement) override
    {
        const std::string name = node->getName();
        logged(name.c_str());
        if (name != "shared" && name != "root" && name != "a") return true;
        auto group = make<kaGroup>((name + "2").c_str());
        if (auto* old = kaGroup::dynamicCast(node.get()))
            for (int i = 0; i < old->getChildCount(); ++i) group->appendChild(old->getChild(i));
        replacement = group.get();
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestReplace)

class kaTestVisit : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaTestVisit, kaOptVisitObject)
public:
    kaMetaObject* getVisitedObjectMeta() override { return kaGroup::getClassMetaSafe(); }
    bool preVisit() override { return logged("pre"); }
    bool visitor(kaObject* object) override { return logged(static_cast<kaGroup*>(object)->getName()); }
    bool postVisit() override { return logged("post"); }
};
KA_IMPLEMENT_CLASS(kaTestVisit)

// Applies itself to every root but "refused", replaces "old" by its replacement, fails on
// "failing".
class kaTestRecord : public kaOptBase {
    KA_DECLARE_CLASS(kaTestRecord, kaOptBase)
public:
    kaSmartPointer<kaNode> replacement;
    bool canOptimize(kaNode* node) override { return std::string(node->getName()) != "refused"; }
    using kaOptBase::canOptimize;
    bool apply(kaSmartPointer<kaNode>& root) override
    {
        logged(root->getName());
        if (std::string(root->getName()) == "old") root = replacement;
        return std::string(root->getName()) != "failing";
    }
};
KA_IMPLEMENT_CLASS(kaTestRecord)

kaSmartPointer<kaSceneInfo> sceneInfoWith(kaNode* root)
{
    auto info = make<kaSceneInfo>();
    info->setSceneGraph(root);
    return info;
}

// root(a(shared, b), c(shared)): "shared" has two parents. Every test gives back every object.
class Framework : public testing::Test {
protected:
    void SetUp() override { events().clear(); }
    void TearDown() override
    {
        root = a = c = nullptr, top = shared = b = nullptr, infos = nullptr;
        EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);
    }
    // Creates the pass of the class through a fresh interface and runs it on the scene.
    kaOptInterface::RunResult run(const char* className)
    {
        auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
        optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
        auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(className));
        EXPECT_NE(pass, nullptr) << className;
        EXPECT_EQ(pass->getInterface(), optInterface.get());
        return optInterface->runPass(pass, 0, top, infos);
    }

    const long liveBefore = kaObject::getLiveObjectCount();
    kaSmartPointer<kaGroup> root = make<kaGroup>("root"), a = make<kaGroup>("a"), c = make<kaGroup>("c");
    kaSmartPointer<kaNode> shared = make<kaNode>("shared"), b = make<kaNode>("b");
    kaSmartPointer<kaNode> top = [this] {
        a->appendChild(shared), a->appendChild(b), c->appendChild(shared), root->appendChild(a), root->appendChild(c);
        return root;
    }();
    kaSmartPointer<kaInfoList> infos = [this] {
        auto list = make<kaInfoList>();
        return list->append(sceneInfoWith(root)), list;
    }();
};

} // namespace

TEST_F(Framework, TraversalOffersInfosFirstThenEachNodeOnceInPreOrderAndVisitingEachObjectOnce)
{
    kaTestTraverse::arkRegister();
    EXPECT_EQ(run("kaTestTraverse"), kaOptInterface::RunResult::Applied);
    EXPECT_EQ(events(), (std::vector<std::string>{"info", "pre", "root", "a", "shared", "b", "c", "post"}));
    // Groups only (kaNode leaves are not groups), each once.
    kaTestVisit::arkRegister();
    events().clear();
    run("kaTestVisit");
    EXPECT_EQ(events(), (std::vector<std::string>{"pre", "root", "a", "c", "post"}));
}

// Parents are found through the parent lists, or from the graph once the lists are removed;
// a replacement's children are found in it when they are replaced in turn.
class FrameworkReplace : public Framework, public testing::WithParamInterface<bool> {};

TEST_P(FrameworkReplace, ReplacementTakesTheNodesPlaceInEveryParentAndAtTheRoot)
{
    if (GetParam())
        for (kaNode* node : std::initializer_list<kaNode*>{root, a, c, shared, b})
            static_cast<kaObjectRefMetaField*>(node->getMetaField("_parentList"))->set(node, nullptr);
    kaTestReplace::arkRegister();
    run("kaTestReplace");
    EXPECT_EQ(events(), (std::vector<std::string>{"root", "a", "shared", "b", "c"}));
    auto* newRoot = kaGroup::dynamicCast(top.get());
    ASSERT_EQ(std::string(newRoot->getName()), "root2");
    auto* newA = kaGroup::dynamicCast(newRoot->getChild(0));
    ASSERT_EQ(std::string(newA->getName()), "a2");
    EXPECT_EQ(newRoot->getChild(1), c.get());
    EXPECT_EQ(std::string(newA->getChild(0)->getName()), "shared2");
    EXPECT_EQ(newA->getChild(0), c->getChild(0)) << "one replacement shared by every parent";
    EXPECT_EQ(newA->getChild(0)->getParentCount(), 3) << "the old a, c and a2";
    EXPECT_EQ(shared->getParentCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(ParentLists, FrameworkReplace, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Removed" : "Kept"; });

TEST_F(Framework, DefaultApplyReachesTheGraphsOfAnAnimationDatabase)
{
    auto database = make<kaAnimationDatabase>("db");
    auto pass = make<kaTestRecord>();
    EXPECT_TRUE(defaultApplyAnimationDatabase(database, pass)) << "nothing to apply to";
    EXPECT_FALSE(defaultApplyAnimationDatabase(nullptr, pass) || defaultApplyAnimationDatabase(database, nullptr));
    // Scene infos only, with a graph, that the pass accepts; a replaced root is replaced in its info.
    auto replaced = sceneInfoWith(make<kaGroup>("old"));
    pass->replacement = make<kaGroup>("new").get();
    database->appendInfo(sceneInfoWith(make<kaGroup>("first")));
    database->appendInfo(make<kaInfo>("not a scene"));
    database->appendInfo(sceneInfoWith(nullptr));
    database->appendInfo(sceneInfoWith(make<kaGroup>("refused")));
    database->appendInfo(replaced);
    EXPECT_TRUE(defaultApplyAnimationDatabase(database, pass));
    EXPECT_EQ(events(), (std::vector<std::string>{"first", "old"}));
    EXPECT_EQ(replaced->getSceneGraph(), pass->replacement.get());

    database->appendInfo(sceneInfoWith(make<kaGroup>("failing")));
    events().clear();
    EXPECT_FALSE(defaultApplyAnimationDatabase(database, pass));
    EXPECT_EQ(events(), (std::vector<std::string>{"first", "new", "failing"}));
}
