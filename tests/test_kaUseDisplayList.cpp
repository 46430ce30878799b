// kaUseDisplayList over a table of settings and earlier flags: flags 4 and 8 of every geometry
// node (morph instances too) end as the fields say, set or cleared, whatever they held; other
// flags and other nodes keep theirs; a second run gives the same flags.
#include "kaGeometryTestTools.h"
#include "kaTestTools.h"

#include "host/sg/kaMorph.h"

using namespace kaGeometryTest;
using namespace Lode::Sg;

TEST(UseDisplayList, WritesBothFlagsOnEveryGeometryNodeAndNothingElse)
{
    struct Case {
        const char* enable;  // null: the default, true
        const char* deleteOriginal;  // null: the default, false
        uint32_t before;
        uint32_t after;
    };
    const Case cases[] = {
        {nullptr, nullptr, 0x0, 0x4},     {nullptr, nullptr, 0x8, 0x4},    {"false", nullptr, 0x4, 0x0},
        {"false", "true", 0x0, 0x8},      {"true", "true", 0x1, 0x1 | 0xC}, {"false", "false", 0xFF, 0xF3},
    };
    for (const Case& c : cases) {
        auto root = make<kaGroup>();
        auto group = make<kaGroup>();
        auto geometry = make<kaGeometry>();
        auto face = make<kaMorphInstance>();
        root->appendChild(group);
        group->appendChild(geometry);
        group->appendChild(face);
        for (kaNode* node : std::initializer_list<kaNode*>{root.get(), group.get(), geometry.get(), face.get()})
            node->setFlag(c.before, true);
        std::vector<std::pair<const char*, const char*>> fields;
        if (c.enable) fields.emplace_back("_enable", c.enable);
        if (c.deleteOriginal) fields.emplace_back("_deleteOriginal", c.deleteOriginal);
        for (int run = 1; run <= 2; ++run) {
            EXPECT_EQ(kaTest::runPass("kaUseDisplayList", fields, root), "");
            EXPECT_EQ(geometry->getFlags(), c.after) << "case " << &c - cases << ", run " << run;
            EXPECT_EQ(face->getFlags(), c.after) << "case " << &c - cases << ", run " << run;
            EXPECT_EQ(root->getFlags(), c.before);
            EXPECT_EQ(group->getFlags(), c.before);
        }
    }
}
