// kaInstanceGeometriesByName: which namesake is kept, where it goes, what the pass's list holds.
#include "kaPassTestTools.h"
#include "passes/geometry/kaInstanceGeometriesByName.h"

#include <map>
#include <sstream>

using namespace kaTest;
using Lode::OptExtension::kaInstanceGeometriesByName;

TEST(InstanceGeometriesByName, LaterNamesakesLeaveEveryGroupForTheFirst)
{
    std::map<std::string, kaSmartPointer<kaGeometry>> nodes;
    for (auto [key, name] : {std::pair<const char*, const char*>{"tree1", "tree"}, {"tree2", "tree"}, {"tree3", "tree"},
                             {"tree4", "tree"}, {"Tree", "Tree"}, {"empty1", ""}, {"empty2", ""}, {"shared", "barrel"},
                             {"unnamed1", nullptr}})
        nodes[key] = make<kaGeometry>(name);
    auto root = make<kaGroup>();
    std::vector<kaSmartPointer<kaGroup>> groups;
    for (const char* keys : {"tree1 Tree empty1 shared", "tree2 tree4 empty2 unnamed1", "tree3 shared"}) {
        groups.push_back(make<kaGroup>());
        root->appendChild(groups.back());
        std::istringstream words(keys);
        for (std::string key; words >> key;) groups.back()->appendChild(nodes[key]);
    }
    auto pass = make<kaInstanceGeometriesByName>();
    kaSmartPointer<kaNode> top = root.get();
    pass->apply(top);

    using Keys = std::vector<std::string>;
    std::map<const kaNode*, std::string> keys;
    for (auto& [key, node] : nodes) keys[node] = key;
    auto childKeys = [&](kaGroup* group) {
        Keys result;
        for (int i = 0; i < group->getChildCount(); ++i) result.push_back(keys.at(group->getChild(i)));
        return result;
    };
    EXPECT_EQ(childKeys(groups[0]), (Keys{"tree1", "Tree", "empty1", "shared"}));
    // The namesakes' places are not kept: the kept node is appended, once per namesake.
    EXPECT_EQ(childKeys(groups[1]), (Keys{"unnamed1", "tree1", "tree1", "empty1"}));
    EXPECT_EQ(childKeys(groups[2]), (Keys{"shared", "tree1"}));
    for (const char* gone : {"tree2", "tree3", "tree4", "empty2"}) EXPECT_EQ(nodes[gone]->getParentCount(), 0) << gone;

    std::vector<std::string> listed;
    for (int i = 0; i < pass->getGeometryList()->getCount(); ++i) listed.push_back(pass->getGeometryList()->get(i)->getName());
    EXPECT_EQ(listed, (std::vector<std::string>{"", "Tree", "barrel", "tree"}));

    // A namesake below its kept node (a morph instance under its geometry) stays there.
    kaSmartPointer<kaNode> nested = make<kaGeometry>("mesh");
    auto inner = make<kaGeometry>("mesh");
    static_cast<kaGroup*>(nested.get())->appendChild(inner);
    pass->apply(nested);
    EXPECT_EQ(static_cast<kaGroup*>(nested.get())->getChildCount(), 1);
    EXPECT_EQ(inner->getParentCount(), 1);

    // The same pass object on another scene still keeps the first run's node.
    kaSmartPointer<kaNode> other = make<kaGroup>();
    static_cast<kaGroup*>(other.get())->appendChild(make<kaGeometry>("tree"));
    pass->apply(other);
    EXPECT_EQ(static_cast<kaGroup*>(other.get())->getChild(0), nodes["tree1"].get());

    // A node kept below a namesake that leaves its group loses its last parent there; the list
    // holds it from the moment its name is met. root -> G1 -> mesh, root -> G2 -> mesh -> child0.
    auto scene = make<kaGroup>(), g1 = make<kaGroup>("G1"), g2 = make<kaGroup>("G2");
    auto firstMesh = make<kaGeometry>("mesh");
    scene->appendChild(g1), scene->appendChild(g2), g1->appendChild(firstMesh);
    g2->appendChild(make<kaGeometry>("mesh"));
    static_cast<kaGroup*>(g2->getChild(0))->appendChild(make<kaGeometry>("child0"));
    auto fresh = make<kaInstanceGeometriesByName>();
    top = scene.get();
    fresh->apply(top);
    ASSERT_EQ(g2->getChildCount(), 1);
    EXPECT_EQ(g2->getChild(0), firstMesh.get());
    ASSERT_EQ(fresh->getGeometryList()->getCount(), 2);
    EXPECT_STREQ(fresh->getGeometryList()->get(0)->getName(), "child0");
    EXPECT_EQ(fresh->getGeometryList()->get(0)->getRefCount(), 1) << "held by the list alone";
}

// Names alike in their first 16 bytes, one the start of another, bytes above 0x7f: the list
// is in strcmp order, and only the same text, not the same start, finds an earlier run's node.
TEST(InstanceGeometriesByName, NamesOrderAndMatchByEveryByteAsStrcmpDoes)
{
    const std::vector<std::vector<const char*>> runs = {
        {"rock_formation_large_02", "rock_formation_large_01", "rock_formation_large_0", "rock_formation_large_01",
         "caf\xc3\xa9", "cafeteria", "cag", "zebra"},
        {"rock_formation_large_03", "rock_formation_large_01", "zebra"}};
    // The node each one's group holds after its run, as {run, place in that run}.
    const std::vector<std::vector<std::pair<int, int>>> holds = {
        {{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 4}, {0, 5}, {0, 6}, {0, 7}}, {{1, 0}, {0, 1}, {0, 7}}};
    auto pass = make<kaInstanceGeometriesByName>();
    std::vector<std::vector<kaSmartPointer<kaGeometry>>> nodes(runs.size());
    for (size_t r = 0; r < runs.size(); ++r) {
        auto root = make<kaGroup>();
        std::vector<kaSmartPointer<kaGroup>> groups;
        for (const char* name : runs[r]) {
            nodes[r].push_back(make<kaGeometry>(name));
            groups.push_back(make<kaGroup>());
            groups.back()->appendChild(nodes[r].back());
            root->appendChild(groups.back());
        }
        kaSmartPointer<kaNode> top = root.get();
        pass->apply(top);
        for (size_t i = 0; i < groups.size(); ++i) {
            ASSERT_EQ(groups[i]->getChildCount(), 1);
            EXPECT_EQ(groups[i]->getChild(0), nodes[holds[r][i].first][holds[r][i].second].get()) << runs[r][i];
        }
    }
    std::vector<std::string> listed;
    for (int i = 0; i < pass->getGeometryList()->getCount(); ++i)
        listed.push_back(pass->getGeometryList()->get(i)->getName());
    EXPECT_EQ(listed, (std::vector<std::string>{"cafeteria", "caf\xc3\xa9", "cag", "rock_formation_large_0",
                                                "rock_formation_large_01", "rock_formation_large_02",
                                                "rock_formation_large_03", "zebra"}));
}
