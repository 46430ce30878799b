// kaNameUnique: the numbering of shared names, numbers already taken skipped, the host's own
// texts (paths, folders, field defaults) no holders.
#include "host/io/kaDirectory.h"
#include "kaPassTestTools.h"

using namespace kaTest;

TEST(NameUnique, SharedNamesAreNumberedDownToTheBareName)
{
    const struct {
        std::vector<const char*> names;  // children of an unnamed root, in visiting order
        std::vector<std::string> expected;
    } cases[] = {
        {{"a", "b", "c"}, {"a", "b", "c"}},
        {{"wheel", "wheel", "wheel"}, {"wheel_2", "wheel_1", "wheel"}},
        // wheel_2 is taken, so the first wheel goes on to wheel_3; the second starts at 1.
        {{"wheel", "wheel", "wheel", "wheel_2"}, {"wheel_3", "wheel_1", "wheel", "wheel_2"}},
        {{"a_1", "a_1"}, {"a_1_1", "a_1"}},
        {{"Tree", "tree", nullptr}, {"Tree", "tree", "(null)"}},
        // The host's empty input folder, base folder and field defaults and its output folder
        // "out" hold the same texts; they are not counted.
        {{"", ""}, {"_1", ""}},
        {{"out", "out"}, {"out_1", "out"}},
    };
    for (const auto& c : cases) {
        auto root = make<kaGroup>();
        std::vector<kaGroup*> children;
        for (const char* name : c.names) root->appendChild(children.emplace_back(make<kaGroup>(name)));
        kaPassRun run("kaNameUnique", {}, {}, "out");
        auto input = make<kaFileInfo>();
        input->setPath("scene.kab");
        auto entry = make<kaExternalDirEntry>();
        entry->setBaseFolder("");
        run.run(root.get());
        std::vector<std::string> names;
        for (kaGroup* child : children) names.push_back(child->getName() ? child->getName() : "(null)");
        EXPECT_EQ(names, c.expected);
    }
}
