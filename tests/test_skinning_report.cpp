// kaReduceBlendWeights and kaGeometryStatistics on hand-built scenes: every message and report
// line character for character, and what the pass leaves in the scene.
#include "kaPassTestTools.h"

#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSkeleton.h"
#include "passes/skinning/kaReduceBlendWeights.h"

#include <gtest/gtest.h>

#include <cstdarg>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Attrs::kaTextureAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using Lode::OptExtension::kaReduceBlendWeights;

namespace {

std::string format(const char* pattern, ...)
{
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

unsigned low(const void* object) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(object)); }

kaSmartPointer<kaVertexArray> weightedArray(const std::vector<std::vector<float>>& weights, bool normals = true)
{
    kaVertexFormat vertexFormat;
    vertexFormat.setPositions(true);
    vertexFormat.setNormals(normals);
    vertexFormat.setTextureCoordSetCount(1);
    int count = weights.empty() ? 0 : static_cast<int>(weights[0].size());
    vertexFormat.setBlendWeightCount(count);
    vertexFormat.setBlendIndexCount(count);
    auto array = kaSmartPointer<kaVertexArray>::adopt(kaVertexArray::_instantiate());
    array->setup(vertexFormat, static_cast<int>(weights.size()), 0, 0);
    for (size_t v = 0; v < weights.size(); ++v)
        for (int k = 0; k < count; ++k) {
            array->setBlendWeight(static_cast<int>(v), k, weights[v][k]);
            array->setBlendIndex(static_cast<int>(v), k, static_cast<uint8_t>(10 + k));
        }
    array->closeSetup();
    return array;
}

kaSmartPointer<kaGeometryAttr> geometryAttr(kaSmartPointer<kaVertexArray> array, int primitiveCount, int type)
{
    auto attr = kaSmartPointer<kaGeometryAttr>::adopt(kaGeometryAttr1_5::_instantiate());
    attr->configureVertexArray(array);
    attr->setPrimitiveCount(primitiveCount);
    attr->setPrimitiveType(static_cast<Lode::Gfx::KA_GFX_DRAW>(type));
    return attr;
}

struct SkinnedScene {
    kaSmartPointer<kaGroup> root = kaSmartPointer<kaGroup>::adopt(kaGroup::_instantiate());
    kaSmartPointer<kaGeometry> body = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    kaSmartPointer<kaGeometry> hand = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    kaSmartPointer<kaMorphInstance> face = kaSmartPointer<kaMorphInstance>::adopt(kaMorphInstance::_instantiate());
    kaSmartPointer<kaInfoList> infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());

    SkinnedScene()
    {
        body->setName("body");
        // A texture first: the geometry attribute behind it sits at position 1.
        body->appendAttr(kaSmartPointer<kaTextureAttr>::adopt(kaTextureAttr::_instantiate()));
        body->appendAttr(geometryAttr(weightedArray({{0.1f, 0.4f, 0.4f, 0.1f}, {0.7f, 0.1f, 0.1f, 0.1f}}), 1, 4));
        hand->setName("hand");
        hand->appendAttr(geometryAttr(weightedArray({{0.5f, 0.5f}}, false), 9, 7));
        face->setName("face");
        auto base = kaSmartPointer<kaMorphBase>::adopt(kaMorphBase::_instantiate());
        base->setVertexArray(weightedArray({{0.2f, 0.5f, 0.3f}, {0.9f, 0.1f, 0.0f}, {0.6f, 0.3f, 0.1f}}));
        face->setBase(base);
        face->appendAttr(geometryAttr(weightedArray({}), 12, 3));
        root->appendChild(body);
        root->appendChild(hand);
        root->appendChild(face);
    }
};

// Runs a pass by class name with the fields given as text; returns what it printed.
std::string runPass(const char* className, const std::vector<std::pair<const char*, const char*>>& fields,
                    SkinnedScene& scene, kaOptInterface::RunResult* result = nullptr)
{
    return kaTest::runPassCapturing(className, fields, scene.root.get(), scene.infos, result);
}

const char* const kNote = "\nNOTE: If there are several infos referring to the same data, \n"
                          "such as kaActorInfos or kaSceneInfos referring to objects already \n"
                          "in an kaAnimationDatabase, then the optimization pass may fail for \n"
                          "that info, but succeed for the kaAnimationDatabase. Compare failure \n"
                          "notification's pointer values with other success messages and run \n"
                          "geometry statistics to ensure the process was applied to the data\n"
                          "successfully.\n\n";

const char* const kHeader =
    "Key:\n(P)ositions (N)ormals Vertex(C)olors\n(T)extureCoordCount (B)lendWeightCount Blend(I)ndexCount\n"
    "Point(S)priteSizes\n(T)rue (F)alse\n\n"
    "Vertex Format               Vertex Count Primitive Count Primitive Type                 Attr Index Weight "
    "Statistic                         Geometry Name\n";

} // namespace

TEST(GeometryStatistics, ReportsEveryAttributeAndMorphInstance)
{
    SkinnedScene scene;
    std::string out = runPass("kaGeometryStatistics", {}, scene);
    std::string expected = kHeader;
    expected += format("P=T N=T C=F T=1 B=4 I=4 S=0        2           1        KA_GFX_DRAW_TRIANGLE_STRIP         1   "
                       "    %-40s 0x%08x: body\n",
                       "Weight sorted=F", low(scene.body.get()));
    // A primitive type outside the table leaves its column blank.
    expected += format("P=T N=F C=F T=1 B=2 I=2 S=0        1           9        %-30s     0       %-40s 0x%08x: hand\n",
                       "", "Weight sorted=T Smallest weight=0.500", low(scene.hand.get()));
    expected += format("P=T N=T C=F T=1 B=3 I=3 S=0        3          12        KA_GFX_DRAW_TRIANGLES              0   "
                       "    %-40s 0x%08x: face (morphInstance)\n",
                       "Weight sorted=F", low(scene.face.get()));
    EXPECT_EQ(out, expected);

    // A scene without geometry prints the key and the titles only.
    SkinnedScene empty;
    while (empty.root->getChildCount()) empty.root->removeChild(0);
    EXPECT_EQ(runPass("kaGeometryStatistics", {}, empty), kHeader);
}

TEST(GeometryStatistics, LineLayoutOfTheReferenceExample)
{
    // 1234 vertices with positions, normals, one texture set and four sorted weights whose least
    // first weight is 0.25, 400 triangle-strip primitives, at position 2 of the node's list.
    SkinnedScene scene;
    std::vector<std::vector<float>> weights(1234, {0.5f, 0.25f, 0.25f, 0.0f});
    weights[17] = {0.25f, 0.25f, 0.25f, 0.25f};
    scene.body->appendAttr(geometryAttr(weightedArray(weights), 400, 4));
    scene.hand->getAttrs()->removeAll();
    scene.root->removeChild(scene.face);
    std::string out = runPass("kaGeometryStatistics", {}, scene);
    std::string line = "P=T N=T C=F T=1 B=4 I=4 S=0     1234         400        KA_GFX_DRAW_TRIANGLE_STRIP         2       "
                       "Weight sorted=T Smallest weight=0.250    " +
                       format("0x%08x", low(scene.body.get())) + ": body\n";
    EXPECT_NE(out.find(line), std::string::npos) << out;
}

TEST(GeometryStatistics, SmallestFirstWeightAndFormatsWithoutWeights)
{
    SkinnedScene scene;
    scene.body->getAttrs()->remove(0);
    scene.body->getAttrs()->set(0, geometryAttr(weightedArray({{0.9f, 0.1f}, {0.6f, 0.4f}, {0.6f, 0.4f}}), 1, 0));
    // The format names no weights: the column stays blank although the array has none either.
    scene.hand->getAttrs()->set(0, geometryAttr(weightedArray({}), 2, 1));
    std::string out = runPass("kaGeometryStatistics", {}, scene);
    EXPECT_NE(out.find(format("%-40s 0x%08x: body\n", "Weight sorted=T Smallest weight=0.600", low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(format("KA_GFX_DRAW_POINTS                 0       %-40s 0x%08x: body", "Weight sorted=T Sm"
                                                                                                "allest weight=0.600",
                              low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(format("B=0 I=0 S=0        0           2        KA_GFX_DRAW_LINES                  0       %40s "
                              "0x%08x: hand\n",
                              "", low(scene.hand.get()))),
              std::string::npos)
        << out;
}

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
    expected += format("Geometry 0x%08x \"body\" attr1: blend weights sorted highest to lowest by value.\n", body);
    expected += format("Geometry 0x%08x \"body\", attr1: blend weight count reduced from 4 to 2.\n", body);
    expected += format("Geometry 0x%08x \"hand\" attr0: blend weights sorted highest to lowest by value.\n", hand);
    expected += format("Geometry 0x%08x \"hand\", attr0: reduction skipped because current 2 <= specified 2.\n", hand);
    expected += format("MorphInstance 0x%08x \"face\": blend weights sorted highest to lowest by value.\n", face);
    expected += format("MorphInstance 0x%08x \"face\": blend weight count reduced from 3 to 2.\n", face);
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
    EXPECT_NE(out.find(format("B=2 I=2 S=0        2           1        KA_GFX_DRAW_TRIANGLE_STRIP         1       %-40s "
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
    EXPECT_NE(out.find(format("Geometry 0x%08x \"hand\" attr0: failed to sort blend weights highest to lowest by bone "
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
    EXPECT_NE(out.find(format("Geometry 0x%08x \"body\" attr1: ERROR: no skeleton \"hero\" found in animation database "
                              "\"anims\".\nGeometry 0x%08x \"body\" attr1: blend weights sorted highest to lowest by bone "
                              "distance.\nGeometry 0x%08x \"body\", attr1: blend weight count reduced from 4 to 1.\n",
                              low(scene.body.get()), low(scene.body.get()), low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(format("MorphInstance 0x%08x \"face\": ERROR: no skeleton", low(scene.face.get()))),
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
