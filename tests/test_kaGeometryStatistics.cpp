// kaGeometryStatistics on hand-built scenes: every report line character for character (the
// example scene's lines, weightless ones among them, are checked by the golden runs).
#include "kaPassTestTools.h"

using namespace kaTest;

const char* const kHeader =
    "Key:\n(P)ositions (N)ormals Vertex(C)olors\n(T)extureCoordCount (B)lendWeightCount Blend(I)ndexCount\n"
    "Point(S)priteSizes\n(T)rue (F)alse\n\n"
    "Vertex Format               Vertex Count Primitive Count Primitive Type                 Attr Index Weight "
    "Statistic                         Geometry Name\n";

TEST(GeometryStatistics, ReportsEveryAttributeAndMorphInstance)
{
    SkinnedScene scene;
    // 1234 vertices with four sorted weights whose least first weight is 0.25, at position 2.
    std::vector<std::vector<float>> weights(1234, {0.5f, 0.25f, 0.25f, 0.0f});
    weights[17] = {0.25f, 0.25f, 0.25f, 0.25f};
    scene.body->appendAttr(geometryAttr(weightedArray(weights), 400, 4));
    const unsigned body = low(scene.body.get());
    std::string expected = kHeader;
    expected += kaFormat("P=T N=T C=F T=1 B=4 I=4 S=0        2           1        KA_GFX_DRAW_TRIANGLE_STRIP         1   "
                         "    %-40s 0x%08x: body\n", "Weight sorted=F", body);
    expected += kaFormat("P=T N=T C=F T=1 B=4 I=4 S=0     1234         400        KA_GFX_DRAW_TRIANGLE_STRIP         2   "
                         "    Weight sorted=T Smallest weight=0.250    0x%08x: body\n", body);
    // A primitive type outside the table leaves its column blank.
    expected += kaFormat("P=T N=F C=F T=1 B=2 I=2 S=0        1           9        %-30s     0       %-40s 0x%08x: hand\n", "",
                         "Weight sorted=T Smallest weight=0.500", low(scene.hand.get()));
    expected += kaFormat("P=T N=T C=F T=1 B=3 I=3 S=0        3          12        KA_GFX_DRAW_TRIANGLES              0   "
                         "    %-40s 0x%08x: face (morphInstance)\n", "Weight sorted=F", low(scene.face.get()));
    EXPECT_EQ(scene.run("kaGeometryStatistics"), expected);

    // A scene without geometry prints the key and the titles only.
    while (scene.root->getChildCount()) scene.root->removeChild(0);
    EXPECT_EQ(scene.run("kaGeometryStatistics"), kHeader);
}
