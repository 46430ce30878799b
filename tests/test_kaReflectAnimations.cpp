// kaReflectAnimations: each plane's mirror on the keys, and left and right bindings paired by name.
#include "kaPassTestTools.h"

using namespace kaTest;
using Lode::Math::kaQuatf;
using Lode::Math::kaVec3f;

namespace {
// Runs the pass with the identifiers and the plane on an animation database holding walk.
void reflectByPass(kaAnimation* walk, const char* left, const char* right, const char* plane = "PlaneYZ")
{
    auto database = make<kaAnimationDatabase>();
    database->appendAnimation(walk);
    auto infos = make<kaInfoList>();
    infos->append(database);
    EXPECT_EQ(runPass("kaReflectAnimations", nullptr,
                      {{"_leftIdentString", left}, {"_rightIdentString", right}, {"_reflectionType", plane}}, infos),
              "");
}

// A walk of bindings whose keys all carry the binding's mark (1, 2, ...), so that where its keys
// went can be told, reflected by the pass with the identifiers and the plane.
kaSmartPointer<kaAnimation> reflectedWalk(std::initializer_list<const char*> names, const char* left, const char* right,
                                          const char* plane = "PlaneYZ")
{
    auto walk = make<kaAnimation>("walk");
    float mark = 1.0f;
    for (const char* name : names) {
        auto binding = make<kaAnimationBinding>(name);
        for (int key = 0; key < 3; ++key) {
            binding->appendTranslationKey(0.5f * key, {mark, 0.25f * key, -1.0f});
            binding->appendRotationKey(0.5f * key, kaQuatf({1.0f, 2.0f, 3.0f}, 0.1f * mark + key));
            binding->appendScaleKey(0.5f * key, {1.0f, 1.0f + key, mark});
        }
        walk->appendBinding(binding);
        ++mark;
    }
    if (left) reflectByPass(walk, left, right, plane);
    return walk;
}
} // namespace

// The left leg takes the right one's keys and the other way round; every binding's keys are
// mirrored: the translation's component along the plane's normal and the rotation about the two
// axes in the plane change sign; scales stay.
TEST(ReflectAnimations, EachPlaneMirrorsItsAxisOnExchangedKeys)
{
    const char* planes[] = {"PlaneYZ", "PlaneXZ", "PlaneXY"};
    const auto original = reflectedWalk({"hip", "leg_L", "leg_R"}, nullptr, nullptr);
    for (int axis = 0; axis < 3; ++axis) {
        const auto walk = reflectedWalk({"hip", "leg_L", "leg_R"}, "_L", "_R", planes[axis]);
        for (auto [now, was] : {std::pair(0, 0), std::pair(1, 2), std::pair(2, 1)})
            for (int key = 0; key < 3; ++key) {
                const kaAnimationBinding *after = walk->getBinding(now), *before = original->getBinding(was);
                kaVec3f t = before->getTranslation(key);
                const kaQuatf p = before->getRotation(key), q = after->getRotation(key);
                kaVec3f turn(p.x, p.y, p.z);
                for (int a = 0; a < 3; ++a) (a == axis ? t[a] : turn[a]) *= -1.0f;
                SCOPED_TRACE(testing::Message() << planes[axis] << " " << after->getName() << " key " << key);
                EXPECT_EQ(after->getTranslation(key), t);
                EXPECT_TRUE(kaVec3f(q.x, q.y, q.z) == turn && q.w == p.w);
                EXPECT_EQ(after->getScale(key), before->getScale(key));
            }
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
        const auto walk = reflectedWalk(pairing.names, pairing.left, pairing.right);
        std::vector<float> keys;
        for (int b = 0; b < walk->getBindingCount(); ++b) keys.push_back(walk->getBinding(b)->getScale(0).z);
        EXPECT_EQ(keys, pairing.keys) << pairing.left << " / " << pairing.right;
        EXPECT_EQ(walk->getBinding(0)->getTranslation(0).x, -keys[0]);
    }
}

// Each binding of a name listed twice pairs with the next partner still free; a binding listed
// twice pairs once and is mirrored at each listing.
TEST(ReflectAnimations, NamesAndBindingsListedTwice)
{
    const struct {
        std::vector<const char*> names; // one binding each, marked 1, 2, ...
        std::vector<int> listed; // the walk's list, by binding
        std::vector<float> marks; // each binding's translation x afterwards: whose keys, and the mirror
    } cases[] = {
        {{"leg_L", "leg_L", "leg_R", "leg_R"}, {0, 1, 2, 3}, {-3, -4, -1, -2}},
        {{"arm_L", "arm_R"}, {0, 1, 0}, {2, -1}},
    };
    for (const auto& listing : cases) {
        std::vector<kaSmartPointer<kaAnimationBinding>> bindings;
        for (const char* name : listing.names) {
            bindings.push_back(make<kaAnimationBinding>(name));
            bindings.back()->appendTranslationKey(0, {float(bindings.size()), 0, 0});
        }
        auto walk = make<kaAnimation>("walk");
        for (int b : listing.listed) walk->appendBinding(bindings[b]);
        reflectByPass(walk, "_L", "_R");
        std::vector<float> marks;
        for (const auto& binding : bindings) marks.push_back(binding->getTranslation(0).x);
        EXPECT_EQ(marks, listing.marks) << testing::PrintToString(listing.listed);
    }
}

// A cubic spline's tangents are derivatives of its values: they mirror alike, and go with the
// keys and the interpolation to the partner binding.
TEST(ReflectAnimations, TangentsMirrorAndMoveWithTheirKeys)
{
    auto left = make<kaAnimationBinding>("arm_L"), right = make<kaAnimationBinding>("arm_R");
    left->setInterpolation(kaAnimationBinding::CubicSpline);
    right->setInterpolation(kaAnimationBinding::Step);
    const float vector[6] = {1, 2, 3, 4, 5, 6}, rotation[8] = {1, 2, 3, 4, 5, 6, 7, 8}, weights[2] = {0.5f, 0.5f};
    left->appendTranslationKey(0, {1, 2, 3}, vector);
    left->appendRotationKey(0, kaQuatf(0, 0, 0, 1), rotation);
    left->appendScaleKey(0, {1, 1, 1}, vector);
    left->appendWeightKey(0, weights, 2, rotation);
    right->appendTranslationKey(0, {1, 2, 3});
    auto walk = make<kaAnimation>("walk");
    walk->appendBinding(left);
    walk->appendBinding(right);
    auto database = make<kaAnimationDatabase>();
    database->appendAnimation(walk);
    auto infos = make<kaInfoList>();
    infos->append(database);
    EXPECT_EQ(runPass("kaReflectAnimations", nullptr, {{"_leftIdentString", "_L"}, {"_rightIdentString", "_R"}}, infos), "");

    const auto floats = [](const float* values, int count) { return values ? std::vector<float>(values, values + count) : std::vector<float>(); };
    EXPECT_EQ(right->getInterpolation(), kaAnimationBinding::CubicSpline);
    EXPECT_EQ(floats(right->getTranslationTangents(0), 6), (std::vector<float>{-1, 2, 3, -4, 5, 6})) << "x mirrored";
    EXPECT_EQ(floats(right->getRotationTangents(0), 8), (std::vector<float>{1, -2, -3, 4, 5, -6, -7, 8})) << "y and z mirrored";
    EXPECT_EQ(floats(right->getScaleTangents(0), 6), floats(vector, 6));
    EXPECT_EQ(floats(right->getWeightTangents(0), 4), floats(rotation, 4));
    EXPECT_EQ(left->getInterpolation(), kaAnimationBinding::Step);
    EXPECT_FALSE(left->getTranslationTangents(0));
}
