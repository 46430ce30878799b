// kaReduceBlendWeights: its blend-weight operations against a literal transcription of the sort and
// tables of hand-picked cases, and the pass's messages on hand-built scenes.
#include "kaPassTestTools.h"
#include "passes/skinning/kaBlendWeightAlgorithms.h"

#include <cmath>
#include <cstring>
#include <random>

using namespace kaTest;
using namespace Lode::OptExtension;
using Lode::Math::kaMatrix44f;
using Lode::Math::kaVec3f;

namespace {
using Rows = std::vector<std::vector<float>>;

// Vertex v's blend weights (each vertex's slots lie side by side).
std::vector<float> weightsOf(kaVertexArray& a, int v)
{
    return {a.blendWeightData() + v * a.getBlendWeightCount(), a.blendWeightData() + (v + 1) * a.getBlendWeightCount()};
}

// The neighbour-exchange sort through the per-vertex accessors: passes exchanging each weight
// with a larger one behind it, the next pass starting one before the first exchange.
void referenceSortByValue(kaVertexArray& array)
{
    const int w = array.getBlendWeightCount();
    for (int v = 0; v < array.getVertexCount() && w >= 2; ++v)
        for (int start = 1, first = 1; first > 0; start = first) {
            float prev = array.getBlendWeight(v, start - 1);
            first = 0;
            for (int j = start; j < w; ++j) {
                const float cur = array.getBlendWeight(v, j), before = array.getBlendWeight(v, j - 1);
                if (cur > prev) {
                    const uint8_t index = array.getBlendIndex(v, j - 1);
                    array.setBlendWeight(v, j - 1, cur);
                    array.setBlendIndex(v, j - 1, array.getBlendIndex(v, j));
                    array.setBlendWeight(v, j, before);
                    array.setBlendIndex(v, j, index);
                    if (first == 0) first = std::max(j - 1, 1);
                }
                prev = cur;
            }
        }
}
} // namespace

TEST(BlendWeightSort, ByValueMatchesTheExchangeSortBitForBitOnRandomData)
{
    for (const kaValueSortKernel kernel :
         {kaValueSortKernel::Fastest, kaValueSortKernel::Network, kaValueSortKernel::Exchange}) {
        SCOPED_TRACE("kernel " + std::to_string(int(kernel)));
        std::mt19937 random(1234);
        const float palette[] = {0.0f, -0.0f, 0.25f, 0.5f, 0.125f, 1.0f, -0.5f, NAN, INFINITY, -INFINITY, 1e-30f};
        for (int weightCount = 1; weightCount <= 15; ++weightCount) {
            const Rows rows(500, std::vector<float>(weightCount));
            auto fast = weightedArray(rows), reference = weightedArray(rows);
            for (int v = 0; v < 500; ++v)
                for (int k = 0; k < weightCount; ++k) {
                    // Mostly few distinct values (ties, which a stable sort keeps in order), sometimes NaN.
                    const float w = random() % 4 == 0 ? std::uniform_real_distribution<float>(-1, 1)(random)
                                                      : palette[random() % (v % 7 == 0 ? 11 : 6)];
                    const uint8_t index = static_cast<uint8_t>(random());
                    for (auto* array : {fast.get(), reference.get()}) {
                        array->setBlendWeight(v, k, w);
                        array->setBlendIndex(v, k, index);
                    }
                }
            kaSortBlendWeightsByValue(*fast, kernel);
            referenceSortByValue(*reference);
            ASSERT_EQ(blendIndices(*fast), blendIndices(*reference)) << "W=" << weightCount;
            for (int v = 0; v < 500; ++v)
                ASSERT_EQ(std::memcmp(fast->blendWeightData() + v * weightCount, reference->blendWeightData() + v * weightCount,
                                      4 * weightCount), 0) << "W=" << weightCount << " vertex " << v;
        }
    }
}

TEST(BlendWeightSort, ByBoneDistancePutsNearestFirstAndWeightlessLast)
{
    // Bone k sits at (k, 0, 0): its inverse joint matrix translates by -k.
    std::vector<kaMatrix44f> inverseJoints(4);
    for (int k = 0; k < 4; ++k) inverseJoints[k].setTranslation(kaVec3f(-float(k), 0, 0));
    kaInverseJointMatrixLookup lookup = [&](int index) { return index < 4 ? &inverseJoints[index] : nullptr; };
    auto array = weightedArray({{0.2f, 0.0f, 0.8f}, {0.5f, 0.5f, 0.0f}}, true, {{0, 3, 2}, {9, 1, 0}});
    array->setPosition(0, kaVec3f(2.9f, 0, 0)), array->setPosition(1, kaVec3f(0, 0, 0));
    kaSortBlendWeightsByBoneDistance(*array, lookup);
    // Vertex 0: bone 3 would be nearest but has no weight, so it goes last. Vertex 1: index 9 has
    // no bone (reported by the caller) and stands at the far point.
    EXPECT_EQ(blendIndices(*array), (kaIndexRows{{2, 0, 3}, {1, 9, 0}}));
    EXPECT_EQ(weightsOf(*array, 0), (std::vector<float>{0.8f, 0.2f, 0.0f}));

    // Without a skeleton nothing moves.
    auto unchanged = weightedArray({{0.1f, 0.5f, 0.4f}});
    kaSortBlendWeightsByBoneDistance(*unchanged, nullptr);
    EXPECT_EQ(blendIndices(*unchanged), (kaIndexRows{{10, 11, 12}}));
}

TEST(BlendWeightReduction, EmptySlotsLowerTheCountAndTheLastKeptSlotIsOverwritten)
{
    const struct {
        std::vector<float> weights;
        unsigned count;
        float threshold;
        std::vector<float> expected;  // the first vertex's weights after; their number is the new count
    } cases[] = {
        // The last kept slot gives way to the renormalisation (0.0), or carries the whole
        // influence when it is the only one (1.0). A count equal to the weight count is lowered
        // by the empty slots like any other; the threshold decides what counts as empty.
        {{0.6f, 0.4f, 0.0f, 0.0f}, 3, 0.0f, {1.0f}}, {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.0f, {0.6f, 0.0f}},
        {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.4f, {1.0f}}, {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.39f, {0.6f, 0.0f}},
        {{0.6f, 0.4f, 0.0f, 0.0f}, 0, 0.0f, {1.0f}}, {{0.5f, 0.3f, 0.15f, 0.05f}, 2, 0.0f, {0.5f, 0.0f}},
    };
    const std::vector<int> kept{5, 6};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << " threshold " << c.threshold);
        auto array = weightedArray({c.weights, c.weights, c.weights}, true, {{5, 6, 7, 8}});
        array->setPosition(2, kaVec3f(1, 2, 3));
        array->setTexCoord(1, 0, Lode::Math::kaVec2f(0.5f, 0.25f));
        auto reduced = kaReduceBlendWeightArray(*array, c.count, c.threshold);
        ASSERT_NE(reduced.get(), array.get());
        EXPECT_EQ(weightsOf(*reduced, 0), c.expected);
        EXPECT_EQ(blendIndices(*reduced)[0], std::vector<int>(kept.begin(), kept.begin() + c.expected.size()));
        EXPECT_EQ(reduced->getUsage(), 7u) << "the third set-up value comes from the old array";
        kaVec3f position;
        Lode::Math::kaVec2f uv;
        reduced->getPosition(2, position), reduced->getTexCoord(1, 0, uv);
        EXPECT_TRUE(position == kaVec3f(1, 2, 3) && uv.y == 0.25f) << "the other blocks are copied";
        EXPECT_EQ(reduced->getVertexFormat().getWord() & ~0xFF0u, array->getVertexFormat().getWord() & ~0xFF0u)
            << "only the weight and index counts change";
    }
    // A count above the weight count is not lowered: nothing to reduce gives the array itself.
    auto array = weightedArray({{0.6f, 0.4f, 0.0f, 0.0f}});
    EXPECT_EQ(kaReduceBlendWeightArray(*array, 5, 0.0f).get(), array.get());
    // Reduced and normalised weights sum to one, and the set-up is closed for drawing.
    auto reduced = kaReduceBlendWeightArray(*weightedArray({{0.5f, 0.3f, 0.15f, 0.05f}}), 2, 0.0f);
    kaNormalizeBlendWeights(*reduced, false);
    EXPECT_EQ(weightsOf(*reduced, 0), (std::vector<float>{1.0f, 0.0f}));
    EXPECT_FALSE(reduced->isSetupOpen());
    auto none = kaReduceBlendWeightArray(*weightedArray(Rows(0, std::vector<float>(4))), 2, 0.0f);
    EXPECT_EQ(none->getVertexCount(), 0);
    kaNormalizeBlendWeights(*none, false);
}

// Single-precision sum in slot order, one reciprocal, then products; a vertex with nothing to
// scale by gives the first slot all the influence. By bone distance, the zero band includes both
// its ends as single-precision floats: a sum on an end is the nearest bone's alone (the other
// slots left as they are), one step outside is scaled.
TEST(BlendWeightNormalisation, ExactScalingAndDegenerateVertices)
{
    const float factor = 1.0f / (0.1f + 0.7f + 0.3f), band = 5e-7f;
    const float above = std::nextafter(band, 1.0f), below = std::nextafter(-band, -1.0f);
    const struct {
        std::vector<float> weights;
        bool nearestBoneTakesAll;
        std::vector<float> expected;
    } cases[] = {
        {{0.2f, 0.2f, 0.0f}, false, {0.5f, 0.5f, 0.0f}}, {{0.1f, 0.7f, 0.3f}, false, {0.1f * factor, 0.7f * factor, 0.3f * factor}},
        {{0.0f, 0.0f, 0.0f}, false, {1.0f, 0.0f, 0.0f}}, {{NAN, 0.5f, 0.0f}, false, {1.0f, 0.0f, 0.0f}},
        {{0.0f, 3e-7f}, true, {1.0f, 3e-7f}}, {{0.0f, band}, true, {1.0f, band}}, {{0.0f, -band}, true, {1.0f, -band}},
        {{0.0f, above}, true, {0.0f, above * (1.0f / above)}}, {{0.0f, below}, true, {0.0f, below * (1.0f / below)}},
    };
    for (const auto& c : cases) {
        auto array = weightedArray({c.weights});
        kaNormalizeBlendWeights(*array, c.nearestBoneTakesAll);
        EXPECT_EQ(weightsOf(*array, 0), c.expected) << testing::PrintToString(c.weights);
    }
}

// ---- the pass on scenes (its sorted arrays and report lines are pinned by a golden run) ----

TEST(ReduceBlendWeights, WarningsForAZeroCountAndForNoSorting)
{
    SkinnedScene scene;
    const std::string out = scene.run("kaReduceBlendWeights", {{"_weightSortMethod", "NO_SORT"}, {"_blendWeightCount", "0"}});
    const std::string warnings = "WARNING: a new blend weight count of zero has been specified.\n"
                                 "The new vertex arrays will have zero blend weights, but still\n"
                                 "one blend index will remain, and it will be up to the platform\n"
                                 "to assume that the blend weight is 1.0\n"
                                 "WARNING: sorting of blend weights has been disabled. Any removing \n"
                                 "of blend weights will remove weights with the highest ordinal \n"
                                 "value in the vertex, meaning unless sorted from highest \n"
                                 "influence to lowest, very influential weights can potentially \n"
                                 "be removed.Geometry ";
    EXPECT_THAT(out, HasSubstr("successfully.\n\n" + warnings));
}

TEST(ReduceBlendWeights, SortByBoneDistanceNeedsTheRememberedDatabase)
{
    SkinnedScene scene;
    const kaSettings byDistance{{"_weightSortMethod", "SORT_BY_DISTANCE_TO_BONE"}, {"_skeletonName", "hero"}};
    std::string out = scene.run("kaReduceBlendWeights", byDistance);
    EXPECT_THAT(out, HasSubstr(kaFormat("Geometry 0x%08x \"hand\" attr0: failed to sort blend weights highest to lowest by "
                                        "bone distance because no animation database is available. Reduction will be "
                                        "skipped.\n", low(scene.hand.get()))));
    EXPECT_EQ(out.find("reduced"), std::string::npos) << "nothing is reduced without a database";
    EXPECT_EQ(scene.body->getGeometryAttr(1)->getVertexArray()->getBlendWeightCount(), 4);

    // A database with another skeleton: the lookup fails, is reported, and the arrays are still
    // treated. Infos come before the walk, so the scene's own geometry sees the database.
    auto database = make<kaAnimationDatabase>("anims");
    database->appendSkeleton(make<kaSkeleton>("villain"));
    scene.infos->append(database);
    out = scene.run("kaReduceBlendWeights", byDistance);
    const unsigned body = low(scene.body.get());
    EXPECT_THAT(out, HasSubstr(kaFormat("Geometry 0x%08x \"body\" attr1: ERROR: no skeleton \"hero\" found in animation "
                                        "database \"anims\".\nGeometry 0x%08x \"body\" attr1: blend weights sorted highest "
                                        "to lowest by bone distance.\nGeometry 0x%08x \"body\", attr1: blend weight count "
                                        "reduced from 4 to 1.\n", body, body, body)));
    EXPECT_THAT(out, HasSubstr(kaFormat("MorphInstance 0x%08x \"face\": ERROR: no skeleton", low(scene.face.get()))));
}
