// kaScalePerVertexColors over vertex formats and factors, unusual ones included: red, green and
// blue become exactly the single-precision product, unclamped; everything else keeps its bits.
#include "kaPassTestTools.h"

#include <cmath>

using namespace kaTest;
using namespace Lode::Attrs;

TEST(ScalePerVertexColors, MultipliesRedGreenBlueExactlyOncePerRunAndKeepsEverythingElse)
{
    for (const kaFormatCase& format : kFormats)
        for (const char* factorText : {"" /* the default, 1 */, "0.5", "0", "-1", "2", "1e30", "nan"}) {
            const std::string where = std::string(format.name) + ", factor " + factorText;
            const float factor = *factorText ? std::strtof(factorText, nullptr) : 1.0f;
            auto root = make<kaGroup>();
            auto node = make<kaGeometry>();
            auto face = make<kaMorphInstance>();
            root->appendChild(node), root->appendChild(face);
            auto vertices = filledArray(format.word, format.vertexCount);
            // Three holders of one array (two of them on one node): it is scaled once per run; and
            // the morph instance's base array, scaled with it.
            for (kaGeometry* holder : {node.get(), node.get(), static_cast<kaGeometry*>(face.get())})
                holder->appendAttr(geometryAttr(vertices, 0, 0));
            face->setBase(make<kaMorphBase>());
            face->getBase()->setVertexArray(filledArray(format.word, format.vertexCount));

            const auto original = filledArray(format.word, format.vertexCount);
            for (int run = 1; run <= 2; ++run) {
                const kaSettings fields = *factorText ? kaSettings{{"_scaleFactor", factorText}} : kaSettings{};
                EXPECT_EQ(runPass("kaScalePerVertexColors", root.get(), fields), "") << where;
                for (kaVertexArray* scaled : {vertices.get(), face->getBase()->getVertexArray()}) {
                    expectBlocksKept(*original, *scaled, where, "colours");
                    for (int i = 0; i < format.vertexCount * 4 && (format.word & 4); ++i) {
                        float expected = original->colorData()[i];
                        for (int k = 0; k < run && i % 4 < 3; ++k) expected *= factor;
                        const float actual = scaled->colorData()[i];
                        // Which NaN a product of two NaNs carries is the processor's choice.
                        if (std::isnan(expected) && std::isnan(actual)) continue;
                        EXPECT_EQ(std::memcmp(&actual, &expected, 4), 0)
                            << where << ", run " << run << ", value " << i << ": " << actual << " for " << expected;
                    }
                }
            }
        }
}
