// kaConvertGeometryAttr over a table of vertex formats: the first-generation attribute is
// replaced at its place by a second-generation one drawing the same bits, what it shares stays
// shared, every other attribute stays the object it was, and a second run changes nothing.
#include "kaGeometryTestTools.h"
#include "kaTestTools.h"

#include "host/attrs/kaTextureAttr.h"

using namespace kaGeometryTest;
using namespace Lode::Attrs;
using namespace Lode::Sg;
using Lode::Gfx::kaIndexArray;
using Lode::Gfx::kaVertexArray2;

TEST(ConvertGeometryAttr, ReplacesFirstGenerationAttributesInPlaceWithTheSameVertices)
{
    for (const kaFormatCase& format : kFormats) {
        auto root = make<kaGroup>();
        auto node = make<kaGeometry>();
        auto twin = make<kaGeometry>();  // draws the same vertices through an attribute of its own
        root->appendChild(node);
        root->appendChild(twin);
        auto vertices = filledArray(format.word, format.vertexCount);
        auto old = make<kaGeometryAttr1_5>();
        old->setName("mesh");
        old->configureVertexArray(vertices);
        old->setIndexArray(make<kaIndexArray>());
        old->setBoundingBox(make<kaBoundingBox>());
        old->setOffset(3);
        old->setPrimitiveType(Lode::Gfx::KA_GFX_DRAW_TRIANGLE_FAN);
        old->setPrimitiveCount(5);
        auto texture = make<kaTextureAttr>();
        auto current = make<kaGeometryAttr2>();
        auto bare = make<kaGeometryAttr1_5>();  // no vertex array: nothing to convert
        for (kaAttr* attr : std::initializer_list<kaAttr*>{texture.get(), old.get(), current.get(), bare.get()})
            node->appendAttr(attr);
        auto twinAttr = make<kaGeometryAttr1_5>();
        twinAttr->configureVertexArray(vertices);
        twin->appendAttr(twinAttr);
        twin->appendAttr(old);  // the same attribute in a second list

        EXPECT_EQ(kaTest::runPass("kaConvertGeometryAttr", {}, root), "") << format.name;
        ASSERT_EQ(node->getAttrCount(), 4);
        EXPECT_EQ(node->getAttr(0), texture.get());
        EXPECT_EQ(node->getAttr(2), current.get());
        EXPECT_EQ(node->getAttr(3), bare.get());
        auto* converted = kaGeometryAttr2::dynamicCast(node->getAttr(1));
        ASSERT_NE(converted, nullptr) << format.name;
        EXPECT_EQ(twin->getAttr(1), converted) << "an attribute in two lists is converted once";
        auto* newVertices = kaVertexArray2::dynamicCast(converted->getVertexArray());
        ASSERT_NE(newVertices, nullptr);
        EXPECT_NE(newVertices, vertices.get());
        EXPECT_EQ(twin->getGeometryAttr(0)->getVertexArray(), newVertices) << "shared vertices stay shared";
        EXPECT_EQ(newVertices->getVertexFormat().getWord(), format.word) << format.name;
        expectBlocksKept(*vertices, *newVertices, format.name);
        EXPECT_STREQ(converted->getName(), "mesh");
        EXPECT_EQ(converted->getIndexArray(), old->getIndexArray());
        EXPECT_EQ(converted->getBoundingBox(), old->getBoundingBox());
        EXPECT_EQ(converted->getOffset(), 3);
        EXPECT_EQ(converted->getPrimitiveType(), Lode::Gfx::KA_GFX_DRAW_TRIANGLE_FAN);
        EXPECT_EQ(converted->getPrimitiveCount(), 5);

        kaTest::runPass("kaConvertGeometryAttr", {}, root);
        EXPECT_EQ(node->getAttr(1), converted) << "a second run finds nothing to convert";
        EXPECT_EQ(converted->getVertexArray(), newVertices);
    }
}
