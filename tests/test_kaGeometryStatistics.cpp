// kaGeometryStatistics on hand-built scenes: every report line character for character.
#include "kaPassTestTools.h"

using namespace kaTest;
using Lode::Core::kaFormat;

namespace {

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
    expected += kaFormat("P=T N=T C=F T=1 B=4 I=4 S=0        2           1        KA_GFX_DRAW_TRIANGLE_STRIP         1   "
                       "    %-40s 0x%08x: body\n",
                       "Weight sorted=F", low(scene.body.get()));
    // A primitive type outside the table leaves its column blank.
    expected += kaFormat("P=T N=F C=F T=1 B=2 I=2 S=0        1           9        %-30s     0       %-40s 0x%08x: hand\n",
                       "", "Weight sorted=T Smallest weight=0.500", low(scene.hand.get()));
    expected += kaFormat("P=T N=T C=F T=1 B=3 I=3 S=0        3          12        KA_GFX_DRAW_TRIANGLES              0   "
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
                       kaFormat("0x%08x", low(scene.body.get())) + ": body\n";
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
    EXPECT_NE(out.find(kaFormat("%-40s 0x%08x: body\n", "Weight sorted=T Smallest weight=0.600", low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(kaFormat("KA_GFX_DRAW_POINTS                 0       %-40s 0x%08x: body", "Weight sorted=T Sm"
                                                                                                "allest weight=0.600",
                              low(scene.body.get()))),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(kaFormat("B=0 I=0 S=0        0           2        KA_GFX_DRAW_LINES                  0       %40s "
                              "0x%08x: hand\n",
                              "", low(scene.hand.get()))),
              std::string::npos)
        << out;
}
