// kaReflectAnimations: mirroring a walk twice, and the pairing of left and right bindings by their
// identifiers.
#include "host/sg/kaAnimationDatabase.h"
#include "kaPassTestTools.h"

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Math;

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

struct Database {
    kaSmartPointer<kaAnimationDatabase> database = make<kaAnimationDatabase>();
    kaSmartPointer<kaAnimation> walk = make<kaAnimation>("walk");
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();

    explicit Database(std::initializer_list<const char*> names)
    {
        float mark = 1.0f;
        for (const char* name : names) walk->appendBinding(binding(name, mark++));
        database->appendAnimation(walk);
        infos->append(database);
    }
    // The binding whose keys the named binding now has (by the mark of its scale).
    float keysOf(const char* name) const { return walk->findBinding(name)->getScale(0).z; }
    void reflect(const char* left, const char* right, const char* plane = "PlaneYZ")
    {
        EXPECT_EQ(kaTest::runPass("kaReflectAnimations", nullptr,
                                  {{"_leftIdentString", left}, {"_rightIdentString", right}, {"_reflectionType", plane}}, infos),
                  "");
    }
};

} // namespace

TEST(ReflectAnimations, MirroringAWalkTwiceGivesItsKeysBack)
{
    for (const char* plane : {"PlaneYZ", "PlaneXZ", "PlaneXY"}) {
        Database walk({"hip", "leg_L", "leg_R", "arm_L"});
        Database original({"hip", "leg_L", "leg_R", "arm_L"});
        walk.reflect("_L", "_R", plane);
        EXPECT_EQ(walk.keysOf("leg_L"), 3.0f);
        walk.reflect("_L", "_R", plane);
        for (int b = 0; b < 4; ++b) {
            const kaAnimationBinding *now = walk.walk->getBinding(b), *before = original.walk->getBinding(b);
            for (int key = 0; key < 3; ++key) {
                EXPECT_EQ(now->getTranslation(key), before->getTranslation(key)) << plane;
                EXPECT_EQ(now->getScale(key), before->getScale(key)) << plane;
                const kaQuatf q = now->getRotation(key), p = before->getRotation(key);
                EXPECT_EQ(kaVec3f(q.x, q.y, q.z), kaVec3f(p.x, p.y, p.z)) << plane;
                EXPECT_EQ(q.w, p.w) << plane;
            }
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
        // Both identifiers are needed for pairing.
        {{"Arm_L", "Arm_R"}, "_L", "", {1, 2}},
    };
    for (const auto& pairing : cases) {
        Database animation(pairing.names);
        animation.reflect(pairing.left, pairing.right);
        std::vector<float> keys;
        for (const char* name : pairing.names) keys.push_back(animation.keysOf(name));
        EXPECT_EQ(keys, pairing.keys) << pairing.left << " / " << pairing.right;
        // Mirrored across x: the translation's x changes sign, scale stays.
        EXPECT_EQ(animation.walk->getBinding(0)->getTranslation(0).x, -keys[0]);
    }
}
