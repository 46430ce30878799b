// kaCollectLight: which sets give up their lights, the lights' cached placement, the set's name.
#include "host/math/kaMath.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaTransform.h"
#include "kaPassTestTools.h"

#include <random>

using namespace kaTest;
using Lode::Attrs::kaLightAttr;
using Lode::Math::kaMatrix44f;
using Lode::Math::kaQuatf;
using Lode::Math::kaVec3f;

namespace {
class kaTestDerivedLightSet : public kaLightSet {
    KA_DECLARE_CLASS(kaTestDerivedLightSet, kaLightSet)
};
KA_IMPLEMENT_CLASS(kaTestDerivedLightSet)

kaSmartPointer<kaLightAttr> light(const char* name, Lode::Gfx::KA_GFX_LIGHT_TYPE type = Lode::Gfx::KA_GFX_LIGHT_TYPE_POINT,
                                  const kaVec3f& position = {}, const kaVec3f& direction = {})
{
    auto made = make<kaLightAttr>(name);
    made->setType(type), made->setPosition(position), made->setDirection(direction);
    return made;
}

template <class Set = kaLightSet> kaSmartPointer<Set> lightSet(const char* name, std::vector<kaLightAttr*> lights)
{
    auto set = make<Set>(name);
    for (kaLightAttr* each : lights) set->appendLight(each);
    return set;
}

// Collects the lights below root; the new root (root itself when nothing was collected).
kaSmartPointer<kaNode> collect(kaNode* root)
{
    kaSmartPointer<kaNode> top = root;
    return kaPassRun("kaCollectLight").run(top), top;
}

kaNode* collectedSet(const kaSmartPointer<kaNode>& top) { return static_cast<kaGroup*>(top.get())->getChild(1); }
} // namespace

TEST(CollectLight, StaticLightsMoveBesideTheRootWithTheirScenePlacementCached)
{
    using namespace Lode::Gfx;
    auto sun = light("sun", KA_GFX_LIGHT_TYPE_DIRECTIONAL, {0, 0, 0}, {1, 0, 0});
    auto lamp = light("lamp", KA_GFX_LIGHT_TYPE_POINT, {1, 0, 0}, {1, 0, 0});
    auto spot = light("spot", KA_GFX_LIGHT_TYPE_SPOT, {0, 2, 0}, {0, 1, 0});
    auto candle = light("candle", KA_GFX_LIGHT_TYPE_POINT, {0, 0, 0}, {0, 0, -1});

    // A quarter turn about z, then 10 along x: x becomes y.
    kaMatrix44f turn, move;
    turn.makeRotation(kaQuatf({0, 0, 1}, 1.5707964f)), move.makeTranslation({10, 0, 0});
    auto placed = make<kaTransform>("placed"), lift = make<kaTransform>("lift"), swinging = make<kaTransform>("swinging");
    placed->setMatrix(turn * move);
    lift->setMatrix([] { kaMatrix44f up; up.makeTranslation({0, 0, 5}); return up; }());
    swinging->setAnimated(true);

    auto setA = lightSet("A", {sun, lamp, nullptr});
    auto setB = lightSet("B", {lamp, spot});  // shares the lamp; below A, so met after it
    auto animated = lightSet("C", {candle});
    auto unnamed = lightSet(nullptr, {light("u")});
    auto unlit = lightSet("unlit", {});
    auto root = make<kaGroup>("root");
    // root -> placed -> A -> lift -> B, root -> swinging -> C, and the unnamed and the unlit set.
    const std::pair<kaGroup*, kaNode*> edges[] = {{root, placed},     {placed, setA},       {setA, lift},    {lift, setB},
                                                  {root, swinging},   {swinging, animated}, {root, unnamed}, {root, unlit}};
    for (auto [parent, child] : edges) parent->appendChild(child);

    const kaSmartPointer<kaNode> top = collect(root);
    auto* group = kaGroup::dynamicCast(top.get());
    ASSERT_NE(group, root.get());
    ASSERT_EQ(group->getChildCount(), 2);
    EXPECT_EQ(group->getChild(0), root.get());
    auto* collected = kaLightSet::dynamicCast(group->getChild(1));
    ASSERT_NE(collected, nullptr);
    EXPECT_STREQ(group->getName(), "");
    EXPECT_STREQ(collected->getName(), "|A|B");
    std::vector<std::string> lights;
    for (int i = 0; i < collected->getLightCount(); ++i) lights.push_back(collected->getLight(i)->getName());
    EXPECT_EQ(lights, (std::vector<std::string>{"sun", "lamp", "spot", "u"}));
    for (kaLightSet* emptied : {setA.get(), setB.get(), unnamed.get()}) EXPECT_EQ(emptied->getLightCount(), 0);
    EXPECT_EQ(animated->getLightCount(), 1);
    EXPECT_FALSE(candle->isPlacementCached());

    // The lamp's position comes from the later set; a point light keeps its cached direction.
    const std::pair<kaVec3f, kaVec3f> placements[] = {{sun->getCachedPosition(), {10, 0, 0}}, {sun->getCachedDirection(), {0, 1, 0}},
                                                      {lamp->getCachedPosition(), {10, 1, 5}}, {lamp->getCachedDirection(), {0, 0, -1}},
                                                      {spot->getCachedPosition(), {8, 0, 5}},  {spot->getCachedDirection(), {-1, 0, 0}},
                                                      {lamp->getPosition(), {1, 0, 0}}};
    for (const auto& [actual, expected] : placements)
        EXPECT_LT(actual.distance(expected), 1e-5f) << expected.x << ", " << expected.y << ", " << expected.z;
}

TEST(CollectLight, NothingToCollectKeepsTheRootAndSubclassesBeforeTheFirstLightSetAreSkipped)
{
    auto root = make<kaGroup>("root");
    root->appendChild(lightSet("empty", {}));
    EXPECT_EQ(collect(root).get(), root.get());

    kaTestDerivedLightSet::arkRegister();
    root = make<kaGroup>("root");
    auto derivedFirst = lightSet<kaTestDerivedLightSet>("first", {light("early")});
    root->appendChild(derivedFirst);
    root->appendChild(lightSet("exact", {light("exact")}));
    root->appendChild(lightSet<kaTestDerivedLightSet>("later", {light("late")}));
    EXPECT_STREQ(collectedSet(collect(root))->getName(), "|exact|later");
    EXPECT_EQ(derivedFirst->getLightCount(), 1);
}

// Names met again, or inside the collected name already (also across a "|"), add nothing.
TEST(CollectLight, CollectedNameMatchesASubstringSearchOverManySets)
{
    std::mt19937 random(7);
    auto root = make<kaGroup>();
    std::string expected;
    for (int i = 0; i < 400; ++i) {
        std::string name;
        for (int length = 1 + random() % 4; length > 0; --length) name += "ab|"[random() % 3];
        root->appendChild(lightSet(name.c_str(), {light("l")}));
        if (expected.find(name) == std::string::npos) expected += "|" + name;
    }
    EXPECT_EQ(collectedSet(collect(root))->getName(), expected);
}
