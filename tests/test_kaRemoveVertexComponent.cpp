// kaRemoveVertexComponent over a table of vertex formats and settings: the format word loses
// exactly the chosen components, every remaining block is kept bit for bit, vertices shared by
// two attributes stay shared, second-generation attributes are not touched, and a second run
// gives the same result.
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
            auto first = make<kaGeometryAttr1_5>(), second = make<kaGeometryAttr1_5>();
            auto current = make<kaGeometryAttr2>();
            for (kaGeometryAttr* attr : std::initializer_list<kaGeometryAttr*>{first.get(), second.get(), current.get()}) {
                attr->configureVertexArray(vertices);
                root->appendAttr(attr);
            }
            root->appendAttr(make<kaGeometryAttr1_5>());  // without vertices: left alone
            for (int run = 1; run <= 2; ++run) {
                EXPECT_EQ(runPass("kaRemoveVertexComponent", root.get(),
                                          {{"_normal", setting.normal}, {"_color", setting.color}, {"_texture", setting.texture}}),
                          "");
                kaVertexArray* reduced = first->getVertexArray();
                ASSERT_NE(reduced, vertices.get()) << where << ", run " << run;
                EXPECT_EQ(first->getVertexFormat().getWord(), format.word & ~setting.clearedBits) << where;
                expectBlocksKept(*vertices, *reduced, where);
                EXPECT_EQ(second->getVertexArray(), reduced) << where << ": shared vertices stay shared";
                EXPECT_EQ(current->getVertexArray(), vertices.get()) << where;
            }
        }
}
