// kaConvertGeometryAttr over vertex formats: the first-generation attribute is replaced at its
// place by a second-generation one drawing the same bits; everything else stays as it was.
#include "kaPassTestTools.h"

using namespace kaTest;
using namespace Lode::Attrs;

TEST(ConvertGeometryAttr, ReplacesFirstGenerationAttributesInPlaceWithTheSameVertices)
{
    for (const kaFormatCase& format : kFormats) {
        auto root = make<kaGroup>();
        auto node = make<kaGeometry>(), twin = make<kaGeometry>();
        root->appendChild(node), root->appendChild(twin);
        auto vertices = filledArray(format.word, format.vertexCount);
        // The twin draws the same vertices through another attribute.
        auto old = geometryAttr(vertices, 5, Lode::Gfx::KA_GFX_DRAW_TRIANGLE_FAN), twinAttr = geometryAttr(vertices, 0, 0);
        old->setName("mesh");
        old->setIndexArray(make<Lode::Gfx::kaIndexArray>());
        old->setBoundingBox(make<kaBoundingBox>());
        old->setOffset(3);
        // Around it: another kind of attribute, a current one, and a first-generation one
        // without vertices (nothing to convert); the old attribute also sits in the twin's list.
        const std::vector<kaSmartPointer<kaAttr>> others{make<kaTextureAttr>(), make<kaGeometryAttr2>(),
                                                         make<kaGeometryAttr1_5>()};
        for (kaAttr* attr : {others[0].get(), static_cast<kaAttr*>(old.get()), others[1].get(), others[2].get()})
            node->appendAttr(attr);
        twin->appendAttr(twinAttr);
        twin->appendAttr(old);

        const kaAttr* firstConversion = nullptr;
        for (int run = 1; run <= 2; ++run) {
            EXPECT_EQ(runPass("kaConvertGeometryAttr", root.get()), "") << format.name;
            ASSERT_EQ(node->getAttrCount(), 4);
            EXPECT_TRUE(node->getAttr(0) == others[0].get() && node->getAttr(2) == others[1].get() &&
                        node->getAttr(3) == others[2].get());
            auto* converted = kaGeometryAttr2::dynamicCast(node->getAttr(1));
            ASSERT_NE(converted, nullptr) << format.name;
            EXPECT_EQ(twin->getAttr(1), converted) << "an attribute in two lists is converted once";
            EXPECT_TRUE(run == 1 || converted == firstConversion) << "a second run finds nothing to convert";
            firstConversion = converted;
            auto* newVertices = Lode::Gfx::kaVertexArray2::dynamicCast(converted->getVertexArray());
            ASSERT_TRUE(newVertices && newVertices != vertices.get());
            EXPECT_EQ(twin->getGeometryAttr(0)->getVertexArray(), newVertices) << "shared vertices stay shared";
            EXPECT_EQ(newVertices->getVertexFormat().getWord(), format.word) << format.name;
            expectBlocksKept(*vertices, *newVertices, format.name);
            EXPECT_STREQ(converted->getName(), "mesh");
            EXPECT_TRUE(converted->getIndexArray() == old->getIndexArray() &&
                        converted->getBoundingBox() == old->getBoundingBox());
            EXPECT_TRUE(converted->getOffset() == 3 && converted->getPrimitiveCount() == 5 &&
                        converted->getPrimitiveType() == Lode::Gfx::KA_GFX_DRAW_TRIANGLE_FAN);
        }
    }
}
