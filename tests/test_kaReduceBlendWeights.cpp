// kaReduceBlendWeights: its blend-weight operations against a literal transcription of the sort and
// the reduction and tables of hand-picked cases, and the pass's messages on hand-built scenes.
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

// The renormalisation: the sum in slot order, one reciprocal, then products; no usable sum gives
// the first slot all the influence.
std::vector<float> normalised(std::vector<float> w)
{
    float sum = 0.0f;
    for (const float x : w) sum += x;
    if (!std::isfinite(sum) || std::fabs(sum) <= 5e-7f) {
        std::fill(w.begin(), w.end(), 0.0f);
        w[0] = 1.0f;
        return w;
    }
    const float factor = 1.0f / sum;
    for (float& x : w) x = x * factor;
    return w;
}

// The reduction through the per-vertex accessors, of entries already in order: the count lowered
// once for each slot in which no weight is above the threshold, the first entries kept, the last
// kept weight replaced (0.0, or 1.0 alone), then renormalised.
struct Reduced {
    Rows weights;
    kaIndexRows indices;
    int cleared = 0; // vertices whose replaced weight was above the threshold
};
Reduced referenceReduction(kaVertexArray& ordered, unsigned count, float threshold)
{
    for (int k = ordered.getBlendWeightCount() - 1; k >= 0; --k) {
        bool inUse = false;
        for (int v = 0; v < ordered.getVertexCount(); ++v) inUse |= ordered.getBlendWeight(v, k) > threshold;
        if (!inUse && count != 0) --count;
    }
    const int kept = std::max(1, int(count));
    Reduced reduced;
    for (int v = 0; v < ordered.getVertexCount(); ++v) {
        std::vector<float> weights;
        std::vector<int> indices;
        for (int k = 0; k < kept; ++k)
            weights.push_back(ordered.getBlendWeight(v, k)), indices.push_back(ordered.getBlendIndex(v, k));
        reduced.cleared += kept >= 2 && weights.back() > threshold;
        weights.back() = kept >= 2 ? 0.0f : 1.0f;
        reduced.weights.push_back(normalised(weights));
        reduced.indices.push_back(indices);
    }
    return reduced;
}

// Mostly few distinct values (ties, which a stable sort keeps in order), in some rows NaN and
// infinities.
float randomWeight(std::mt19937& random, int v)
{
    static const float palette[] = {0.0f, -0.0f, 0.25f, 0.5f, 0.125f, 1.0f, -0.5f, NAN, INFINITY, -INFINITY, 1e-30f};
    return random() % 4 == 0 ? std::uniform_real_distribution<float>(-1, 1)(random)
                             : palette[random() % (v % 7 == 0 ? 11 : 6)];
}
} // namespace

TEST(BlendWeightSort, ByValueMatchesTheExchangeSortBitForBitOnRandomData)
{
    for (const kaValueSortKernel kernel :
         {kaValueSortKernel::Fastest, kaValueSortKernel::Network, kaValueSortKernel::Exchange}) {
        SCOPED_TRACE("kernel " + std::to_string(int(kernel)));
        std::mt19937 random(1234);
        for (int weightCount = 1; weightCount <= 15; ++weightCount) {
            const Rows rows(500, std::vector<float>(weightCount));
            auto fast = weightedArray(rows), reference = weightedArray(rows);
            for (int v = 0; v < 500; ++v)
                for (int k = 0; k < weightCount; ++k) {
                    const float w = randomWeight(random, v);
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

// Sorting as the reduction goes gives what sorting first and reducing after gives, bit for bit:
// the AVX2 blocks (2 to 8 weights; blocks with and without NaN) and the vertices past them, the
// scalar path for more weights. Kept, the array ends sorted; let go, it gives its blocks away.
TEST(BlendWeightReduction, SortingAsItGoesMatchesSortingFirstBitForBit)
{
    std::mt19937 random(4321);
    for (int weightCount = 2; weightCount <= 15; ++weightCount)
        for (const float threshold : {0.0f, 0.6f})
            for (const kaReducedSource source : {kaReducedSource::Kept, kaReducedSource::LetGo}) {
                const unsigned count = 1 + random() % (weightCount - 1);
                SCOPED_TRACE(testing::Message() << "W=" << weightCount << " count " << count << " threshold "
                                                << threshold << " kept " << (source == kaReducedSource::Kept));
                Rows rows(203, std::vector<float>(weightCount));
                kaIndexRows indices(rows.size(), std::vector<int>(weightCount));
                for (int v = 0; v < int(rows.size()); ++v)
                    for (int k = 0; k < weightCount; ++k)
                        rows[v][k] = randomWeight(random, v), indices[v][k] = random() % 256;
                auto array = weightedArray(rows, true, indices), sorted = weightedArray(rows, true, indices);
                const kaReducedBlendWeights reduced =
                    kaReduceBlendWeightArray(*array, count, threshold, kaKeptOrder::ByValue, source);
                referenceSortByValue(*sorted);
                const Reduced expected = referenceReduction(*sorted, count, threshold);

                const int kept = int(expected.weights[0].size());
                ASSERT_EQ(reduced.array->getBlendWeightCount(), kept);
                for (int v = 0; v < int(rows.size()); ++v)
                    ASSERT_EQ(
                        std::memcmp(reduced.array->blendWeightData() + v * kept, expected.weights[v].data(), 4 * kept),
                        0)
                        << "vertex " << v << ": " << testing::PrintToString(weightsOf(*reduced.array, v)) << " against "
                        << testing::PrintToString(expected.weights[v]);
                EXPECT_EQ(blendIndices(*reduced.array), expected.indices);
                EXPECT_EQ(reduced.clearedVertices, expected.cleared);
                if (source == kaReducedSource::Kept) {
                    EXPECT_EQ(blendIndices(*array), blendIndices(*sorted));
                    EXPECT_EQ(
                        std::memcmp(array->blendWeightData(), sorted->blendWeightData(), 4 * weightCount * rows.size()),
                        0);
                }
                EXPECT_EQ(array->getVertexFormat().hasPositions(), source == kaReducedSource::Kept);
            }
}

TEST(BlendWeightReduction, EmptySlotsLowerTheCountAndTheOtherComponentsCarryOver)
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
        {{0.6f, 0.4f, 0.0f, 0.0f}, 3, 0.0f, {1.0f}}, {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.0f, {1.0f, 0.0f}},
        {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.4f, {1.0f}}, {{0.6f, 0.4f, 0.0f, 0.0f}, 4, 0.39f, {1.0f, 0.0f}},
        {{0.6f, 0.4f, 0.0f, 0.0f}, 0, 0.0f, {1.0f}}, {{0.5f, 0.3f, 0.15f, 0.05f}, 3, 0.0f, {0.625f, 0.375f, 0.0f}},
    };
    const std::vector<int> kept{5, 6, 7};
    for (const auto& c : cases)
        for (const kaReducedSource source : {kaReducedSource::Kept, kaReducedSource::LetGo}) {
            SCOPED_TRACE(testing::Message() << "count " << c.count << " threshold " << c.threshold);
            const Rows rows{c.weights, c.weights, c.weights};
            auto array = weightedArray(rows, true, {{5, 6, 7, 8}}),
                 original = weightedArray(rows, true, {{5, 6, 7, 8}});
            for (auto* a : {array.get(), original.get()})
                a->setPosition(2, kaVec3f(1, 2, 3)), a->setNormal(1, kaVec3f(0, 1, 0)),
                    a->setTexCoord(1, 0, Lode::Math::kaVec2f(0.5f, 0.25f));
            const kaReducedBlendWeights reduced =
                kaReduceBlendWeightArray(*array, c.count, c.threshold, kaKeptOrder::ByValue, source);
            ASSERT_NE(reduced.array.get(), array.get());
            EXPECT_EQ(weightsOf(*reduced.array, 0), c.expected);
            EXPECT_EQ(blendIndices(*reduced.array)[0],
                      std::vector<int>(kept.begin(), kept.begin() + c.expected.size()));
            EXPECT_EQ(reduced.array->getUsage(), 7u) << "the third set-up value comes from the old array";
            EXPECT_FALSE(reduced.array->isSetupOpen());
            EXPECT_EQ(reduced.array->getVertexFormat().getWord() & ~0xFF0u,
                      original->getVertexFormat().getWord() & ~0xFF0u)
                << "only the weight and index counts change";
            for (auto [block, from, size] : {std::tuple{reduced.array->positionData(), original->positionData(), 9},
                                             {reduced.array->normalData(), original->normalData(), 9},
                                             {reduced.array->texCoordData(0), original->texCoordData(0), 6}})
                EXPECT_TRUE(block && std::equal(from, from + size, block)) << "the other blocks carry over";
        }
    // Sorted by value, a vertex with a NaN keeps the exchange sort's order, in which its weights
    // above the threshold need not come first: here slot 2 is in use, slot 3 alone is empty.
    auto withNaN = weightedArray({{0.1f, NAN, 0.5f, 0.0f}, {0.9f, 0.8f, 0.0f, 0.0f}});
    EXPECT_EQ(kaReduceBlendWeightArray(*withNaN, 3, 0.0f, kaKeptOrder::ByValue).array->getBlendWeightCount(), 2);
    // A count above the weight count is not lowered: nothing to reduce gives the array itself.
    auto array = weightedArray({{0.6f, 0.4f, 0.0f, 0.0f}});
    EXPECT_EQ(kaReduceBlendWeightArray(*array, 5, 0.0f, kaKeptOrder::ByValue).array.get(), array.get());
    auto none = kaReduceBlendWeightArray(*weightedArray(Rows(0, std::vector<float>(4))), 2, 0.0f, kaKeptOrder::ByValue);
    EXPECT_EQ(none.array->getVertexCount(), 0);
}

// Single-precision sum in slot order, one reciprocal, then products; a vertex with nothing to
// scale by gives the first slot all the influence. By bone distance, the zero band includes both
// its ends as single-precision floats: a sum on an end is the nearest bone's alone (the other
// slots left as they are), one step outside is scaled. Each row is kept whole by a reduction
// from two more slots, whose last kept one (the 0.0 appended to the expected row) changes no
// sum; the second vertex puts every slot in use.
TEST(BlendWeightNormalisation, ExactScalingAndDegenerateVertices)
{
    const float factor = 1.0f / (0.1f + 0.7f + 0.3f), band = 5e-7f;
    const float above = std::nextafter(band, 1.0f), below = std::nextafter(-band, -1.0f);
    const struct {
        std::vector<float> weights;
        kaKeptOrder order;
        std::vector<float> expected;
    } cases[] = {
        {{0.2f, 0.2f, 0.0f}, kaKeptOrder::AsStored, {0.5f, 0.5f, 0.0f}},
        {{0.1f, 0.7f, 0.3f}, kaKeptOrder::AsStored, {0.1f * factor, 0.7f * factor, 0.3f * factor}},
        {{0.0f, 0.0f, 0.0f}, kaKeptOrder::AsStored, {1.0f, 0.0f, 0.0f}},
        {{NAN, 0.5f, 0.0f}, kaKeptOrder::AsStored, {1.0f, 0.0f, 0.0f}},
        {{0.0f, 3e-7f}, kaKeptOrder::ByBoneDistance, {1.0f, 3e-7f}},
        {{0.0f, band}, kaKeptOrder::ByBoneDistance, {1.0f, band}},
        {{0.0f, -band}, kaKeptOrder::ByBoneDistance, {1.0f, -band}},
        {{0.0f, above}, kaKeptOrder::ByBoneDistance, {0.0f, above * (1.0f / above)}},
        {{0.0f, below}, kaKeptOrder::ByBoneDistance, {0.0f, below * (1.0f / below)}},
    };
    for (const auto& c : cases) {
        std::vector<float> row = c.weights, expected = c.expected;
        row.insert(row.end(), {0.5f, 0.5f});
        expected.push_back(0.0f);
        auto array = weightedArray({row, std::vector<float>(row.size(), 0.5f)});
        const kaReducedBlendWeights reduced =
            kaReduceBlendWeightArray(*array, unsigned(c.weights.size() + 1), 0.0f, c.order);
        EXPECT_EQ(weightsOf(*reduced.array, 0), expected) << testing::PrintToString(c.weights);
    }
}

// The same rules in blocks of eight vertices sorted by value (the AVX2 path where the processor
// has it): each row keeps three slots, its two largest weights and the cleared one, whose sum
// lands on either end of the zero band or one step outside; -1.0 fills the other slots, above
// the threshold.
TEST(BlendWeightNormalisation, ZeroBandEndsInBlocksOfEight)
{
    const float band = 5e-7f, above = std::nextafter(band, 1.0f), below = std::nextafter(-band, -1.0f);
    const float third = 1.0f / 0.75f;
    const struct {
        float first, second;
        std::vector<float> expected;
    } cases[] = {
        {3e-7f, band - 3e-7f, {1.0f, 0.0f, 0.0f}},
        {0.0f, -band, {1.0f, 0.0f, 0.0f}},
        {3e-7f, above - 3e-7f, {3e-7f * (1.0f / above), (above - 3e-7f) * (1.0f / above), 0.0f}},
        {0.0f, below, {0.0f, below * (1.0f / below), 0.0f}},
        {0.0f, 0.0f, {1.0f, 0.0f, 0.0f}},
        {INFINITY, 0.5f, {1.0f, 0.0f, 0.0f}},
        {0.5f, 0.25f, {0.5f * third, 0.25f * third, 0.0f}},
    };
    for (const auto& c : cases) {
        auto array = weightedArray(Rows(8, {-1.0f, c.first, c.second, -1.0f}));
        const kaReducedBlendWeights reduced = kaReduceBlendWeightArray(*array, 3, -2.0f, kaKeptOrder::ByValue);
        for (int v = 0; v < 8; ++v) EXPECT_EQ(weightsOf(*reduced.array, v), c.expected) << c.first << " " << c.second;
        EXPECT_EQ(blendIndices(*reduced.array)[7], (std::vector<int>{11, 12, 10}));
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

// The pass gives a reduced array its attribute's old blocks only when nothing else holds the old
// array; one held elsewhere is left whole, sorted.
TEST(ReduceBlendWeights, AnArrayHeldElsewhereIsLeftWholeAndSorted)
{
    SkinnedScene scene;
    const kaSmartPointer<kaVertexArray> held = scene.body->getGeometryAttr(1)->getVertexArray();
    scene.run("kaReduceBlendWeights", {{"_blendWeightCount", "2"}});
    EXPECT_EQ(scene.body->getGeometryAttr(1)->getVertexArray()->getBlendWeightCount(), 2);
    EXPECT_TRUE(held->getVertexFormat().hasPositions() && held->positionData());
    EXPECT_EQ(weightsOf(*held, 0), (std::vector<float>{0.4f, 0.4f, 0.1f, 0.1f}));
    EXPECT_EQ(blendIndices(*held)[0], (std::vector<int>{11, 12, 10, 13}));
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
