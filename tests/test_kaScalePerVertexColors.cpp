// kaScalePerVertexColors over a table of vertex formats and factors, the unusual ones
// included: red, green and blue become exactly the single-precision product, unclamped, alpha
// and every other block keep their bits, an array reached twice in a run is scaled once, a
// morph instance's base is scaled with it, and a second run scales again.
#include "kaGeometryTestTools.h"
#include "kaTestTools.h"

#include "host/sg/kaMorph.h"

#include <cmath>
#include <limits>

using namespace kaGeometryTest;
using namespace Lode::Attrs;
using namespace Lode::Sg;

TEST(ScalePerVertexColors, MultipliesRedGreenBlueExactlyOncePerRunAndKeepsEverythingElse)
{
    const char* const factors[] = {nullptr /* the default, 1 */, "0.5", "0", "-1", "2", "1e30", "nan"};
    for (const kaFormatCase& format : kFormats)
        for (const char* factorText : factors) {
            const std::string where = std::string(format.name) + ", factor " + (factorText ? factorText : "default");
            const float factor = factorText ? std::strtof(factorText, nullptr) : 1.0f;
            auto root = make<kaGroup>();
            auto node = make<kaGeometry>();
            auto face = make<kaMorphInstance>();
            root->appendChild(node);
            root->appendChild(face);
            auto vertices = filledArray(format.word, format.vertexCount);
            auto baseVertices = filledArray(format.word, format.vertexCount);
            for (int twice = 0; twice < 2; ++twice) {
                auto attr = make<kaGeometryAttr1_5>();
                attr->configureVertexArray(vertices);
                node->appendAttr(attr);
            }
            auto faceAttr = make<kaGeometryAttr2>();
            faceAttr->configureVertexArray(vertices);  // a third holder, on another node
            face->appendAttr(faceAttr);
            face->setBase(make<kaMorphBase>());
            face->getBase()->setVertexArray(baseVertices);

            std::vector<std::pair<const char*, const char*>> fields;
            if (factorText) fields.emplace_back("_scaleFactor", factorText);
            const auto original = filledArray(format.word, format.vertexCount);
            for (int run = 1; run <= 2; ++run) {
                EXPECT_EQ(kaTest::runPass("kaScalePerVertexColors", fields, root), "") << where;
                for (const kaVertexArray* scaled : {vertices.get(), baseVertices.get()}) {
                    expectBlocksKept(*original, *scaled, where, "colours");
                    for (int v = 0; v < format.vertexCount && format.word & 4; ++v)
                        for (int c = 0; c < 4; ++c) {
                            float expected = original->colorData()[v * 4 + c];
                            for (int k = 0; k < run && c < 3; ++k) expected *= factor;
                            const float actual = scaled->colorData()[v * 4 + c];
                            // Which NaN a product of two NaNs carries is the processor's choice.
                            if (std::isnan(expected) && std::isnan(factor)) {
                                EXPECT_TRUE(std::isnan(actual)) << where;
                                continue;
                            }
                            EXPECT_EQ(std::memcmp(&actual, &expected, 4), 0)
                                << where << ", run " << run << ", vertex " << v << " component " << c << ": "
                                << actual << " instead of " << expected;
                        }
                }
            }
        }
}
