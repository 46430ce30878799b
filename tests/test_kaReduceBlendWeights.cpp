// kaReduceBlendWeights: its blend-weight operations against a literal transcription of their
// defining steps (hand-picked cases and random data with ties, signed zeros and NaNs), and the
// pass on hand-built scenes, every message and report line character for character.
#include "kaPassTestTools.h"
#include "passes/skinning/kaBlendWeightAlgorithms.h"
#include "passes/skinning/kaReduceBlendWeights.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

using namespace kaTest;
using namespace Lode::OptExtension;
using Lode::Core::kaFormat;

namespace {

kaSmartPointer<kaVertexArray> makeArray(int vertexCount, int weightCount, bool withNormals = true)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(withNormals);
    format.setTextureCoordSetCount(1);
    format.setBlendWeightCount(weightCount);
    format.setBlendIndexCount(weightCount);
    auto array = kaSmartPointer<kaVertexArray>::adopt(kaVertexArray::_instantiate());
    array->setup(format, vertexCount, 7, 0);
    return array;
}

void setVertex(kaVertexArray& array, int v, std::initializer_list<float> weights, std::initializer_list<int> indices)
{
    int k = 0;
    for (float w : weights) array.setBlendWeight(v, k++, w);
    k = 0;
    for (int i : indices) array.setBlendIndex(v, k++, static_cast<uint8_t>(i));
}

std::vector<float> weightsOf(const kaVertexArray& array, int v)
{
    std::vector<float> out;
    for (int k = 0; k < array.getBlendWeightCount(); ++k) out.push_back(array.getBlendWeight(v, k));
    return out;
}

std::vector<int> indicesOf(const kaVertexArray& array, int v)
{
    std::vector<int> out;
    for (int k = 0; k < array.getBlendIndexCount(); ++k) out.push_back(array.getBlendIndex(v, k));
    return out;
}

// The neighbour-exchange sort, step by step, through the per-vertex accessors.
void referenceSortByValue(kaVertexArray& array)
{
    int n = array.getVertexCount();
    if (n <= 0) return;
    for (int v = 0; v < n; ++v) {
        int w = array.getBlendWeightCount();
        if (w < 2) return;
        int start = 1;
        while (true) {
            float prev = array.getBlendWeight(v, start - 1);
            int first = 0;
            for (int j = start; j < w; ++j) {
                float cur = array.getBlendWeight(v, j);
                if (cur > prev) {
                    float wa = array.getBlendWeight(v, j - 1), wb = array.getBlendWeight(v, j);
                    uint8_t ia = array.getBlendIndex(v, j - 1), ib = array.getBlendIndex(v, j);
                    array.setBlendWeight(v, j - 1, wb);
                    array.setBlendWeight(v, j, wa);
                    array.setBlendIndex(v, j - 1, ib);
                    array.setBlendIndex(v, j, ia);
                    if (first == 0) first = j - 1 < 1 ? 1 : j - 1;
                }
                prev = cur;
            }
            if (first > 0)
                start = first;
            else
                break;
        }
    }
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

TEST(BlendWeightSort, ByValueIsStableLargestFirst)
{
    auto array = makeArray(3, 4);
    setVertex(*array, 0, {0.1f, 0.4f, 0.4f, 0.1f}, {3, 5, 7, 9});
    setVertex(*array, 1, {0.7f, 0.2f, 0.1f, 0.0f}, {1, 2, 3, 4});
    setVertex(*array, 2, {0.0f, 0.0f, 0.25f, 0.75f}, {8, 6, 4, 2});
    kaSortBlendWeightsByValue(*array);
    EXPECT_EQ(weightsOf(*array, 0), (std::vector<float>{0.4f, 0.4f, 0.1f, 0.1f}));
    EXPECT_EQ(indicesOf(*array, 0), (std::vector<int>{5, 7, 3, 9}));
    EXPECT_EQ(indicesOf(*array, 1), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(weightsOf(*array, 2), (std::vector<float>{0.75f, 0.25f, 0.0f, 0.0f}));
    EXPECT_EQ(indicesOf(*array, 2), (std::vector<int>{2, 4, 8, 6}));

    auto single = makeArray(2, 1);
    setVertex(*single, 0, {0.3f}, {4});
    kaSortBlendWeightsByValue(*single);
    EXPECT_EQ(weightsOf(*single, 0), (std::vector<float>{0.3f}));
}

TEST(BlendWeightSort, MatchesTheExchangeSortBitForBitOnRandomData)
{
    std::mt19937 random(1234);
    const float palette[] = {0.0f, -0.0f, 0.25f, 0.5f, 0.125f, 1.0f, -0.5f, NAN, INFINITY, -INFINITY, 1e-30f};
    for (int weightCount = 2; weightCount <= 15; ++weightCount) {
        const int vertexCount = 500;
        auto fast = makeArray(vertexCount, weightCount);
        auto reference = makeArray(vertexCount, weightCount);
        for (int v = 0; v < vertexCount; ++v)
            for (int k = 0; k < weightCount; ++k) {
                // Mostly few distinct values (ties), sometimes NaN, sometimes any float.
                float w = random() % 4 == 0 ? std::uniform_real_distribution<float>(-1, 1)(random)
                                            : palette[random() % (v % 7 == 0 ? 11 : 6)];
                uint8_t index = static_cast<uint8_t>(random());
                for (auto* array : {fast.get(), reference.get()}) {
                    array->setBlendWeight(v, k, w);
                    array->setBlendIndex(v, k, index);
                }
            }
        kaSortBlendWeightsByValue(*fast);
        referenceSortByValue(*reference);
        for (int v = 0; v < vertexCount; ++v)
            for (int k = 0; k < weightCount; ++k) {
                ASSERT_TRUE(sameBits(fast->getBlendWeight(v, k), reference->getBlendWeight(v, k)))
                    << "W=" << weightCount << " vertex " << v << " slot " << k;
                ASSERT_EQ(fast->getBlendIndex(v, k), reference->getBlendIndex(v, k))
                    << "W=" << weightCount << " vertex " << v << " slot " << k;
            }
    }
}

TEST(BlendWeightSort, ByBoneDistancePutsNearestFirstAndWeightlessLast)
{
    using Lode::Math::kaMatrix44f;
    // Bone k sits at (k, 0, 0): its inverse joint matrix translates by -k.
    std::vector<kaMatrix44f> inverseJoints(4);
    for (int k = 0; k < 4; ++k) inverseJoints[k].setTranslation(Lode::Math::kaVec3f(-float(k), 0, 0));
    std::vector<int> lookups;
    kaInverseJointMatrixLookup lookup = [&](int index) -> const kaMatrix44f* {
        lookups.push_back(index);
        return index < 4 ? &inverseJoints[index] : nullptr;
    };
    auto array = makeArray(2, 3);
    array->setPosition(0, Lode::Math::kaVec3f(2.9f, 0, 0));
    setVertex(*array, 0, {0.2f, 0.0f, 0.8f}, {0, 3, 2});
    array->setPosition(1, Lode::Math::kaVec3f(0, 0, 0));
    setVertex(*array, 1, {0.5f, 0.5f, 0.0f}, {9, 1, 0});
    kaSortBlendWeightsByBoneDistance(*array, lookup);
    // Vertex 0: bone 3 would be nearest but has no weight, so it goes last.
    EXPECT_EQ(indicesOf(*array, 0), (std::vector<int>{2, 0, 3}));
    EXPECT_EQ(weightsOf(*array, 0), (std::vector<float>{0.8f, 0.2f, 0.0f}));
    // Vertex 1: index 9 has no bone (looked up, reported by the caller) and stands at the far point.
    EXPECT_EQ(indicesOf(*array, 1), (std::vector<int>{1, 9, 0}));
    EXPECT_NE(std::find(lookups.begin(), lookups.end(), 9), lookups.end());

    // Without a skeleton nothing moves.
    auto unchanged = makeArray(1, 3);
    setVertex(*unchanged, 0, {0.1f, 0.5f, 0.4f}, {1, 2, 3});
    kaSortBlendWeightsByBoneDistance(*unchanged, nullptr);
    EXPECT_EQ(indicesOf(*unchanged, 0), (std::vector<int>{1, 2, 3}));
}

TEST(BlendWeightReduction, EmptySlotsLowerTheCountAndTheLastSlotIsOverwritten)
{
    auto array = makeArray(3, 4);
    for (int v = 0; v < 3; ++v) setVertex(*array, v, {0.6f, 0.4f, 0.0f, 0.0f}, {5, 6, 7, 8});
    array->setPosition(2, Lode::Math::kaVec3f(1, 2, 3));
    array->setTexCoord(1, 0, Lode::Math::kaVec2f(0.5f, 0.25f));
    // 3 requested, two empty slots: one weight remains, set to 1.0.
    kaSmartPointer<kaVertexArray> reduced = kaReduceBlendWeightArray(*array, 3, 0.0f);
    ASSERT_NE(reduced.get(), array.get());
    EXPECT_EQ(reduced->getBlendWeightCount(), 1);
    EXPECT_EQ(reduced->getBlendIndexCount(), 1);
    EXPECT_EQ(weightsOf(*reduced, 0), (std::vector<float>{1.0f}));
    EXPECT_EQ(indicesOf(*reduced, 0), (std::vector<int>{5}));
    EXPECT_EQ(reduced->getUsage(), 7u) << "the third set-up value comes from the old array";
    Lode::Math::kaVec3f position;
    reduced->getPosition(2, position);
    EXPECT_EQ(position, Lode::Math::kaVec3f(1, 2, 3));
    Lode::Math::kaVec2f uv;
    reduced->getTexCoord(1, 0, uv);
    EXPECT_EQ(uv.y, 0.25f);
    EXPECT_EQ(reduced->getVertexFormat().getWord() & ~0xFF0u, array->getVertexFormat().getWord() & ~0xFF0u)
        << "only the weight and index counts change";

    // A count above the weight count is not lowered: nothing to reduce gives the array itself.
    auto same = kaReduceBlendWeightArray(*array, 5, 0.0f);
    EXPECT_EQ(same.get(), array.get());
    // A count equal to it is lowered by the empty slots like any other.
    EXPECT_EQ(kaReduceBlendWeightArray(*array, 4, 0.0f)->getBlendWeightCount(), 2);
    // The threshold decides what counts as empty: above 0.4 only slot 0 is in use.
    EXPECT_EQ(kaReduceBlendWeightArray(*array, 4, 0.4f)->getBlendWeightCount(), 1);
    EXPECT_EQ(kaReduceBlendWeightArray(*array, 4, 0.39f)->getBlendWeightCount(), 2);

    auto zero = kaReduceBlendWeightArray(*array, 0, 0.0f);
    EXPECT_EQ(zero->getBlendWeightCount(), 1);
    EXPECT_EQ(weightsOf(*zero, 1), (std::vector<float>{1.0f}));
}

TEST(BlendWeightReduction, ReducedAndNormalisedWeightsSumToOne)
{
    auto array = makeArray(1, 4);
    setVertex(*array, 0, {0.5f, 0.3f, 0.15f, 0.05f}, {1, 2, 3, 4});
    auto reduced = kaReduceBlendWeightArray(*array, 2, 0.0f);
    ASSERT_EQ(reduced->getBlendWeightCount(), 2);
    EXPECT_EQ(weightsOf(*reduced, 0), (std::vector<float>{0.5f, 0.0f}));
    kaNormalizeBlendWeights(*reduced, false);
    EXPECT_EQ(weightsOf(*reduced, 0), (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(indicesOf(*reduced, 0), (std::vector<int>{1, 2}));
    EXPECT_FALSE(reduced->isSetupOpen()) << "normalisation closes the set-up";

    auto empty = makeArray(0, 4);
    auto emptyReduced = kaReduceBlendWeightArray(*empty, 2, 0.0f);
    EXPECT_EQ(emptyReduced->getVertexCount(), 0);
    kaNormalizeBlendWeights(*emptyReduced, false);
}

TEST(BlendWeightNormalisation, ExactScalingAndDegenerateVertices)
{
    auto array = makeArray(4, 3);
    setVertex(*array, 0, {0.2f, 0.2f, 0.0f}, {});
    setVertex(*array, 1, {0.1f, 0.7f, 0.3f}, {});
    setVertex(*array, 2, {0.0f, 0.0f, 0.0f}, {});
    setVertex(*array, 3, {NAN, 0.5f, 0.0f}, {});
    kaNormalizeBlendWeights(*array, false);
    EXPECT_EQ(weightsOf(*array, 0), (std::vector<float>{0.5f, 0.5f, 0.0f}));
    // Single-precision sum in slot order, one reciprocal, then products.
    float sum = 0.0f;
    sum += 0.1f;
    sum += 0.7f;
    sum += 0.3f;
    const float factor = 1.0f / sum;
    EXPECT_EQ(weightsOf(*array, 1), (std::vector<float>{0.1f * factor, 0.7f * factor, 0.3f * factor}));
    // Nothing to scale by: the first entry takes the whole influence; never NaN or infinity.
    EXPECT_EQ(weightsOf(*array, 2), (std::vector<float>{1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(weightsOf(*array, 3), (std::vector<float>{1.0f, 0.0f, 0.0f}));

    auto byDistance = makeArray(1, 2);
    setVertex(*byDistance, 0, {0.0f, 3e-7f}, {});
    kaNormalizeBlendWeights(*byDistance, true);
    EXPECT_EQ(weightsOf(*byDistance, 0), (std::vector<float>{1.0f, 3e-7f})) << "the nearest bone takes it all";
}

// The zero band includes both its ends, as single-precision floats: a sum on an end is the
// nearest bone's alone (the other slots left as they are), one step outside is scaled.
TEST(BlendWeightNormalisation, TheZeroBandEndsAreInsideAndTheNextFloatsOutside)
{
    const float band = 5e-7f;
    const struct {
        float weight;
        bool inBand;
    } cases[] = {
        {band, true},
        {-band, true},
        {std::nextafter(band, 1.0f), false},
        {std::nextafter(-band, -1.0f), false},
    };
    for (const auto& c : cases) {
        auto array = makeArray(1, 2);
        setVertex(*array, 0, {0.0f, c.weight}, {});
        kaNormalizeBlendWeights(*array, true);
        const std::vector<float> weights = weightsOf(*array, 0);
        if (c.inBand)
            EXPECT_EQ(weights, (std::vector<float>{1.0f, c.weight})) << c.weight;
        else
            EXPECT_EQ(weights, (std::vector<float>{0.0f, c.weight * (1.0f / c.weight)})) << c.weight;
    }
}

// ---- the pass on scenes ----

namespace {

const char* const kNote = "\nNOTE: If there are several infos referring to the same data, \n"
                          "such as kaActorInfos or kaSceneInfos referring to objects already \n"
                          "in an kaAnimationDatabase, then the optimization pass may fail for \n"
                          "that info, but succeed for the kaAnimationDatabase. Compare failure \n"
                          "notification's pointer values with other success messages and run \n"
                          "geometry statistics to ensure the process was applied to the data\n"
                          "successfully.\n\n";

} // namespace

TEST(ReduceBlendWeights, ConfigureNotesWarningsAndRefusal)
{
    SkinnedScene scene;
    kaOptInterface::RunResult result;
    std::string out = runPass("kaReduceBlendWeights",
                              {{"_weightSortMethod", "NO_SORT"}, {"_blendWeightCount", "0"}}, scene, &result);
    EXPECT_EQ(result, kaOptInterface::RunResult::Applied);
    EXPECT_EQ(out.rfind(std::string(kNote) +
                            "WARNING: a new blend weight count of zero has been specified.\n"
                            "The new vertex arrays will have zero blend weights, but still\n"
                            "one blend index will remain, and it will be up to the platform\n"
                            "to assume that the blend weight is 1.0\n"
                            "WARNING: sorting of blend weights has been disabled. Any removing \n"
                            "of blend weights will remove weights with the highest ordinal \n"
                            "value in the vertex, meaning unless sorted from highest \n"
                            "influence to lowest, very influential weights can potentially \n"
                            "be removed.Geometry ",
                        0),
              0u)
        << out;

    SkinnedScene untouched;
    out = runPass("kaReduceBlendWeights", {{"_weightSortMethod", "SORT_BY_DISTANCE_TO_BONE"}}, untouched, &result);
    EXPECT_EQ(result, kaOptInterface::RunResult::Refused);
    EXPECT_EQ(out, std::string(kNote) + "ERROR: A skeleton name must be specified for using \nSORT_BY_DISTANCE_TO_BONE.");
    EXPECT_EQ(untouched.hand->getGeometryAttr(0)->getVertexArray()->getBlendWeightCount(), 2);
}

TEST(ReduceBlendWeights, SortsReducesAndReportsEachArray)
{
    SkinnedScene scene;
    kaVertexArray* handArray = scene.hand->getGeometryAttr(0)->getVertexArray();
    std::string out = runPass("kaReduceBlendWeights", {{"_blendWeightCount", "2"}}, scene);
    unsigned body = low(scene.body.get()), hand = low(scene.hand.get()), face = low(scene.face.get());
    std::string expected = kNote;
    expected += kaFormat("Geometry 0x%08x \"body\" attr1: blend weights sorted highest to lowest by value.\n", body);
    expected += kaFormat("Geometry 0x%08x \"body\", attr1: blend weight count reduced from 4 to 2.\n", body);
    expected += kaFormat("Geometry 0x%08x \"hand\" attr0: blend weights sorted highest to lowest by value.\n", hand);
    expected += kaFormat("Geometry 0x%08x \"hand\", attr0: reduction skipped because current 2 <= specified 2.\n", hand);
    expected += kaFormat("MorphInstance 0x%08x \"face\": blend weights sorted highest to lowest by value.\n", face);
    expected += kaFormat("MorphInstance 0x%08x \"face\": blend weight count reduced from 3 to 2.\n", face);
    EXPECT_EQ(out, expected);

    // The body's vertex 0 (0.1 0.4 0.4 0.1, indices 10..13) sorted: 0.4 (11) 0.4 (12); the last kept
    // slot is cleared and the renormalisation gives the first all the weight.
    kaVertexArray* bodyArray = scene.body->getGeometryAttr(1)->getVertexArray();
    EXPECT_EQ(bodyArray->getBlendWeightCount(), 2);
    EXPECT_EQ(bodyArray->getBlendWeight(0, 0), 1.0f);
    EXPECT_EQ(bodyArray->getBlendIndex(0, 0), 11);
    EXPECT_EQ(scene.body->getGeometryAttr(1)->getVertexFormat().getBlendIndexCount(), 2);
    // Skipped arrays stay the same object, sorted.
    EXPECT_EQ(scene.hand->getGeometryAttr(0)->getVertexArray(), handArray);
    EXPECT_EQ(scene.face->getBase()->getVertexArray()->getBlendWeightCount(), 2);
    EXPECT_EQ(scene.face->getBase()->getVertexArray()->getBlendIndex(0, 0), 11);

    // The statistics now show the reduced counts, sorted.
    out = runPass("kaGeometryStatistics", {}, scene);
    EXPECT_NE(out.find(kaFormat("B=2 I=2 S=0        2           1        KA_GFX_DRAW_TRIANGLE_STRIP         1       %-40s "
                              "0x%08x: body",
                              "Weight sorted=T Smallest weight=1.000", body)),
              std::string::npos)
        << out;
}

TEST(ReduceBlendWeights, SortByBoneDistanceNeedsTheRememberedDatabase)
{
    SkinnedScene scene;
    std::string out = runPass("kaReduceBlendWeights",
                              {{"_weightSortMethod", "SORT_BY_DISTANCE_TO_BONE"}, {"_skeletonName", "hero"}}, scene);
    EXPECT_NE(out.find(kaFormat("Geometry 0x%08x \"hand\" attr0: failed to sort blend weights highest to lowest by bone "
                              "distance because no animation database is available. Reduction will be skipped.\n",
                              low(scene.hand.get()))),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("reduced"), std::string::npos) << "nothing is reduced without a database";
    EXPECT_EQ(scene.body->getGeometryAttr(1)->getVertexArray()->getBlendWeightCount(), 4);

    // A database with another skeleton: the lookup fails, is reported, and the arrays are still
    // treated. Infos come before the walk, so the scene's own geometry sees the database.
    auto database = kaSmartPointer<kaAnimationDatabase>::adopt(kaAnimationDatabase::_instantiate());
    database->setName("anims");
    auto skeleton = kaSmartPointer<kaSkeleton>::adopt(kaSkeleton::_instantiate());
    skeleton->setName("villain");
    database->appendSkeleton(skeleton);
    scene.infos->append(database);
    out = runPass("kaReduceBlendWeights",
                  {{"_weightSortMethod", "SORT_BY_DISTANCE_TO_BONE"}, {"_skeletonName", "hero"}}, scene);
    EXPECT_NE(out.find(kaFormat("Geometry 0x%08x \"body\" attr1: ERROR: no skeleton \"hero\" found in animation database "
                              "\"anims\".\nGeometry 0x%08x \"body\" attr1: blend weights sorted highest to lowest by bone "
                              "distance.\nGeometry 0x%08x \"body\", attr1: blend weight count reduced from 4 to 1.\n",
                              low(scene.body.get()), low(scene.body.get()), low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(kaFormat("MorphInstance 0x%08x \"face\": ERROR: no skeleton", low(scene.face.get()))),
              std::string::npos);
}

TEST(ReduceBlendWeights, InfosAndDefaults)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto pass = kaSmartPointer<kaReduceBlendWeights>::adopt(kaReduceBlendWeights::_instantiate());
    EXPECT_EQ(pass->getAnimationDatabase(), nullptr);
    EXPECT_EQ(pass->getBlendWeightCount(), 1u);
    EXPECT_EQ(pass->getWeightSortMethod(), kaReduceBlendWeights::SORT_BY_WEIGHT);
    EXPECT_EQ(pass->getSkeletonName(), nullptr);
    EXPECT_TRUE(pass->getNotifyOfError());
    auto database = kaSmartPointer<kaAnimationDatabase>::adopt(kaAnimationDatabase::_instantiate());
    auto sceneInfo = kaSmartPointer<kaSceneInfo>::adopt(kaSceneInfo::_instantiate());
    EXPECT_TRUE(pass->canOptimize(database.get()));
    EXPECT_FALSE(pass->canOptimize(sceneInfo.get()));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(pass->applyInfo(database.get()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pass->getAnimationDatabase(), database.get());
    EXPECT_EQ(database->getRefCount(), 2);
    pass = nullptr;
    EXPECT_EQ(database->getRefCount(), 1) << "the pass releases the database it remembered";
}
