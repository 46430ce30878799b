// kaReflectAnimations: each plane's mirror on the keys, mirroring twice, and the pairing of left
// and right bindings by their identifiers.
#include "kaPassTestTools.h"

using namespace kaTest;
using Lode::Math::kaQuatf;
using Lode::Math::kaVec3f;

namespace {

// A binding whose keys all carry mark, so that where its keys went can be told.
kaSmartPointer<kaAnimationBinding> binding(const char* name, float mark)
{
    auto result = make<kaAnimationBinding>(name);
    for (int key = 0; key < 3; ++key) {
        result->appendTranslationKey(0.5f * key, {mark, 0.25f * key, -1.0f});
        result->appendRotationKey(0.5f * key, kaQuatf({1.0f, 2.0f, 3.0f}, 0.1f * mark + key));
        result->appendScaleKey(0.5f * key, {1.0f, 1.0f + key, mark});
    }
    return result;
}

struct Walk {
    kaSmartPointer<kaAnimation> walk = make<kaAnimation>("walk");
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();

    explicit Walk(std::initializer_list<const char*> names)
    {
        float mark = 1.0f;
        for (const char* name : names) walk->appendBinding(binding(name, mark++));
        auto database = make<kaAnimationDatabase>();
        database->appendAnimation(walk);
        infos->append(database);
    }
    // The binding whose keys the named binding now has (by the mark of its scale).
    float keysOf(const char* name) const { return walk->findBinding(name)->getScale(0).z; }
    void reflect(const char* left, const char* right, const char* plane = "PlaneYZ")
    {
        EXPECT_EQ(runPass("kaReflectAnimations", nullptr,
                          {{"_leftIdentString", left}, {"_rightIdentString", right}, {"_reflectionType", plane}}, infos),
                  "");
    }
};

// now holds before's keys mirrored across the plane normal to axis (none: -1): the translation's
// component along it and the rotation's about the other two axes change sign; scales stay.
void expectMirrored(const kaAnimationBinding* now, const kaAnimationBinding* before, int axis)
{
    for (int key = 0; key < 3; ++key) {
        kaVec3f t = before->getTranslation(key), r = now->getTranslation(key);
        kaQuatf p = before->getRotation(key), q = now->getRotation(key);
        kaVec3f turn(p.x, p.y, p.z);
        for (int a = 0; a < 3 && axis >= 0; ++a) (a == axis ? t[a] : turn[a]) *= -1.0f;
        EXPECT_EQ(r, t) << now->getName() << " key " << key;
        EXPECT_TRUE(kaVec3f(q.x, q.y, q.z) == turn && q.w == p.w) << now->getName() << " key " << key;
        EXPECT_EQ(now->getScale(key), before->getScale(key)) << now->getName() << " key " << key;
    }
}

} // namespace

TEST(ReflectAnimations, EachPlaneMirrorsItsAxisAndMirroringTwiceGivesTheKeysBack)
{
    const char* planes[] = {"PlaneYZ", "PlaneXZ", "PlaneXY"};
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(planes[axis]);
        Walk walk({"hip", "leg_L", "leg_R"}), original({"hip", "leg_L", "leg_R"});
        walk.reflect("_L", "_R", planes[axis]);
        // The left leg moves as the right one did, mirrored, and the other way round.
        for (auto [now, before] : {std::pair(0, 0), std::pair(1, 2), std::pair(2, 1)})
            expectMirrored(walk.walk->getBinding(now), original.walk->getBinding(before), axis);
        walk.reflect("_L", "_R", planes[axis]);
        for (int b = 0; b < 3; ++b) expectMirrored(walk.walk->getBinding(b), original.walk->getBinding(b), -1);
    }
}

TEST(ReflectAnimations, PairsLeftAndRightBindingsByTheirIdentifiers)
{
    const struct {
        std::initializer_list<const char*> names;
        const char *left, *right;
        std::vector<float> keys;  // whose keys each binding has afterwards, by mark
    } cases[] = {
        {{"Arm_L", "Spine", "Arm_R"}, "_L", "_R", {3, 2, 1}},
        {{"RightHand", "LeftHand", "LeftFoot"}, "Left", "Right", {2, 1, 3}},
        // "Hand" lies inside "HandR": HandR is a right binding, not the left of "HandRR".
        {{"HandR", "HandRR", "Hand"}, "Hand", "HandR", {3, 2, 1}},
        // Both identifiers are needed for pairing; every binding is still mirrored.
        {{"Arm_L", "Arm_R"}, "_L", "", {1, 2}},
        {{"Arm_L", "Arm_R"}, "", "_R", {1, 2}},
    };
    for (const auto& pairing : cases) {
        Walk animation(pairing.names);
        animation.reflect(pairing.left, pairing.right);
        std::vector<float> keys;
        for (const char* name : pairing.names) keys.push_back(animation.keysOf(name));
        EXPECT_EQ(keys, pairing.keys) << pairing.left << " / " << pairing.right;
        EXPECT_EQ(animation.walk->getBinding(0)->getTranslation(0).x, -keys[0]);
    }
}
