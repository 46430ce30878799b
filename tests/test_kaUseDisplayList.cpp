// kaUseDisplayList: flags 4 and 8 of every geometry node (morph instances too) end as the fields say,
// whatever they held; other flags and other nodes keep theirs.
#include "kaPassTestTools.h"

using namespace kaTest;

TEST(UseDisplayList, WritesBothFlagsOnEveryGeometryNodeAndNothingElse)
{
    const struct {
        std::vector<std::pair<const char*, const char*>> fields;
        uint32_t before, after;
    } cases[] = {{{}, 0x0, 0x4},
                 {{}, 0x8, 0x4},
                 {{{"_enable", "false"}}, 0x4, 0x0},
                 {{{"_enable", "false"}, {"_deleteOriginal", "true"}}, 0x0, 0x8},
                 {{{"_deleteOriginal", "true"}}, 0x1, 0xD},
                 {{{"_enable", "false"}, {"_deleteOriginal", "false"}}, 0xFF, 0xF3}};
    for (const auto& c : cases) {
        auto root = make<kaGroup>(), group = make<kaGroup>();
        auto geometry = make<kaGeometry>();
        auto face = make<kaMorphInstance>();
        root->appendChild(group), group->appendChild(geometry), group->appendChild(face);
        for (kaNode* node : std::initializer_list<kaNode*>{root.get(), group.get(), geometry.get(), face.get()})
            node->setFlag(c.before, true);
        for (int run = 1; run <= 2; ++run) {
            EXPECT_EQ(runPass("kaUseDisplayList", root.get(), c.fields), "");
            const std::string where = "case " + std::to_string(&c - cases) + ", run " + std::to_string(run);
            EXPECT_TRUE(geometry->getFlags() == c.after && face->getFlags() == c.after) << where;
            EXPECT_TRUE(root->getFlags() == c.before && group->getFlags() == c.before) << where;
        }
    }
}
