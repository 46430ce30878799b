// kaRemoveVertexComponent over vertex formats and settings: exactly the chosen components go, the
// rest is kept bit for bit, shared vertices stay shared, a stored bounding box stays as it was,
// second-generation attributes stay.
#include "kaPassTestTools.h"

using namespace kaTest;
using namespace Lode::Attrs;

TEST(RemoveVertexComponent, DropsTheChosenComponentsFromFormatAndArrayAndKeepsTheRest)
{
    const struct {
        const char *normal, *color, *texture;
        uint32_t clearedBits;
    } settings[] = {{"false", "false", "false", 0}, {"true", "false", "false", 0x2}, {"false", "true", "true", 0xF0004},
                    {"true", "true", "true", 0xF0006}};
    for (const kaFormatCase& format : kFormats)
        for (const auto& setting : settings) {
            const std::string where = std::string(format.name) + ", clearing " + std::to_string(setting.clearedBits);
            auto root = make<Lode::Sg::kaGeometry>();
            auto vertices = filledArray(format.word, format.vertexCount);
            auto first = geometryAttr(vertices, 0, 0), second = geometryAttr(vertices, 0, 0);
            auto current = make<kaGeometryAttr2>();
            current->configureVertexArray(vertices);
            for (kaGeometryAttr* attr : {first.get(), second.get(), static_cast<kaGeometryAttr*>(current.get())}) root->appendAttr(attr);
            root->appendAttr(make<kaGeometryAttr1_5>());  // without vertices: left alone
            auto box = make<kaBoundingBox>();
            box->setBounds({-10, -10, -10}, {10, 10, 10});
            first->setBoundingBox(box);
            for (int run = 1; run <= 2; ++run) {
                const kaSettings fields{{"_normal", setting.normal}, {"_color", setting.color}, {"_texture", setting.texture}};
                EXPECT_EQ(runPass("kaRemoveVertexComponent", root.get(), fields), "");
                kaVertexArray* reduced = first->getVertexArray();
                ASSERT_NE(reduced, vertices.get()) << where << ", run " << run;
                EXPECT_EQ(first->getVertexFormat().getWord(), format.word & ~setting.clearedBits) << where;
                expectBlocksKept(*vertices, *reduced, where);
                EXPECT_EQ(second->getVertexArray(), reduced) << where << ": shared vertices stay shared";
                EXPECT_TRUE(first->getBoundingBox() == box && box->getMinimum() == Lode::Math::kaVec3f(-10, -10, -10) &&
                            box->getMaximum() == Lode::Math::kaVec3f(10, 10, 10))
                    << where << ": the box is kept";
                EXPECT_EQ(current->getVertexArray(), vertices.get()) << where;
            }
        }
}
