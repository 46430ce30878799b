// kaRemoveNames and the walk it rides on: every named object of a scene loses its name, also
// in scenes far deeper and wider than a call stack or a quadratic search would survive.
#include "host/core/kaWalk.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaSceneModel.h"
#include "kaPassTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

using namespace kaTest;

namespace {
int countNamed(kaNode* root)
{
    int named = 0;
    for (kaObject* object : kaCollectReachable({root}))
        if (object->isOfType(kaNamedObject::getClassMetaSafe()) && static_cast<kaNamedObject*>(object)->getName()) ++named;
    return named;
}
} // namespace

TEST(RemoveNames, EveryNamedObjectEndsWithoutAName)
{
    auto infos = Lode::Tools::kaMakeExampleScene();
    kaSmartPointer<kaNode> root = kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph();
    ASSERT_GT(countNamed(root), 40);
    runPass("kaRemoveNames", root);
    EXPECT_EQ(countNamed(root), 0);
}

// A chain of 100,000 groups, and one group with 1,000,000 children: every scene-wide pass walks
// them, and the scene is released without nesting a call per level.
TEST(RemoveNames, DeepAndWideScenesAreWalkedAndReleased)
{
    const long live = kaObject::getLiveObjectCount();
    for (bool deep : {true, false}) {
        kaSmartPointer<kaNode> root = make<kaGroup>("root");
        kaGroup* at = static_cast<kaGroup*>(root.get());
        for (int i = 0; i < (deep ? 100000 : 1000000); ++i) {
            if (i % 10 == 0) at->appendChild(make<kaGeometry>(deep ? "g" : ("g" + std::to_string(i)).c_str()));
            kaSmartPointer<kaNode> node = deep ? kaSmartPointer<kaNode>(make<kaGroup>("level")) : make<kaNode>("level");
            at->appendChild(node);
            if (deep) at = static_cast<kaGroup*>(node.get());
        }
        auto lights = make<kaLightSet>("lights");
        lights->appendLight(make<Lode::Attrs::kaLightAttr>("lamp"));
        at->appendChild(lights);
        for (const char* pass : {"kaInstanceGeometriesByName", "kaNameUnique", "kaRemoveParentList", "kaCollectLight",
                                 "kaClearMaterialSpecular", "kaRemoveNames"})
            kaPassRun(pass).run(root);
        EXPECT_EQ(static_cast<kaGroup*>(root.get())->getChildCount(), 2) << "the lights are collected";
        EXPECT_EQ(countNamed(root), 0);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), live);
}
