// kaInstanceGeometriesByName: which node of a name is kept, where it goes, what its list holds;
// and the run that merges its kept nodes into the list once against one sorted insertion each.
#include "kaPassTestTools.h"
#include "passes/geometry/kaInstanceGeometriesByName.h"

#include <cstring>
#include <map>
#include <random>
#include <sstream>

using namespace kaTest;
using Lode::OptExtension::kaInstanceGeometriesByName;

namespace {

// The visitor as first written: the kept nodes looked up in and inserted into the sorted list.
class kaTestInstanceOneByOne : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaTestInstanceOneByOne, kaOptVisitObject)
public:
    kaSmartPointer<kaGeometryList> list = make<kaGeometryList>();
    kaMetaObject* getVisitedObjectMeta() override { return kaGeometry::getClassMetaSafe(); }
    static int byName(const kaGeometry* a, const kaGeometry* b) { return std::strcmp(a->getName(), b->getName()); }
    bool visitor(kaObject* object) override
    {
        auto* geometry = static_cast<kaGeometry*>(object);
        if (!geometry->getName()) return true;
        const int found = list->sortedFind(geometry, &byName);
        if (found < 0) return list->sortedAdd(geometry, &byName), true;
        kaGeometry* kept = list->getShared(found);
        kaSmartPointer<kaGeometry> held = geometry;
        for (int p = geometry->getParentCount() - 1; kept != geometry && p >= 0; --p) {
            kaGroup* group = geometry->getParent(p);
            group->removeChild(geometry);
            group->appendChild(kept);
        }
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestInstanceOneByOne)

std::vector<std::string> childNames(kaGroup* group, const std::map<const kaNode*, int>& ids)
{
    std::vector<std::string> names;
    for (int i = 0; i < group->getChildCount(); ++i) {
        kaNode* child = group->getChild(i);
        const auto id = ids.find(child);
        names.push_back(std::string(child->getName() ? child->getName() : "(null)") + "#" +
                        std::to_string(id == ids.end() ? -1 : id->second));
    }
    return names;
}

} // namespace

TEST(InstanceGeometriesByName, LaterNamesakesLeaveEveryGroupForTheFirst)
{
    const std::map<std::string, const char*> names{
        {"tree1", "tree"}, {"tree2", "tree"}, {"tree3", "tree"}, {"tree4", "tree"}, {"Tree", "Tree"},
        {"empty1", ""},    {"empty2", ""},    {"shared", "barrel"}, {"unnamed1", nullptr}};
    std::map<std::string, kaSmartPointer<kaGeometry>> nodes;
    for (auto& [key, name] : names) nodes[key] = make<kaGeometry>(name);
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

    std::map<const kaNode*, int> ids;
    for (auto& [key, node] : nodes) ids[node] = static_cast<int>(ids.size());
    auto id = [&](const char* key) { return "#" + std::to_string(ids[nodes[key]]); };
    EXPECT_EQ(childNames(groups[0], ids), (std::vector<std::string>{"tree" + id("tree1"), "Tree" + id("Tree"),
                                                                     id("empty1"), "barrel" + id("shared")}));
    // The namesakes' places are not kept: the kept node is appended, once per namesake.
    EXPECT_EQ(childNames(groups[1], ids), (std::vector<std::string>{"(null)" + id("unnamed1"), "tree" + id("tree1"),
                                                                     "tree" + id("tree1"), id("empty1")}));
    EXPECT_EQ(childNames(groups[2], ids), (std::vector<std::string>{"barrel" + id("shared"), "tree" + id("tree1")}));
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
}

TEST(InstanceGeometriesByName, OneMergeGivesWhatSortedInsertionsGive)
{
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::vector<std::string> results[2];
        for (int literal = 0; literal < 2; ++literal) {
            std::mt19937 random(seed);
            kaSmartPointer<kaNode> root = make<kaGroup>();
            std::vector<kaGroup*> groups{static_cast<kaGroup*>(root.get())};
            std::vector<kaGeometry*> geometries;
            std::map<const kaNode*, int> ids;
            for (int i = 0; i < 2000; ++i) {
                kaGroup* parent = groups[random() % groups.size()];
                if (random() % 3 == 0) {
                    auto group = make<kaGroup>();
                    parent->appendChild(group);
                    groups.push_back(group);
                } else if (random() % 5 == 0 && !geometries.empty()) {
                    parent->appendChild(geometries[random() % geometries.size()]);
                } else {
                    const std::string name = "n" + std::to_string(random() % 300);
                    auto geometry = make<kaGeometry>(random() % 20 == 0 ? nullptr : name.c_str());
                    parent->appendChild(geometry);
                    geometries.push_back(geometry);
                }
            }
            for (kaGeometry* geometry : geometries) ids[geometry] = static_cast<int>(ids.size());
            kaTestInstanceOneByOne::arkRegister();
            auto oneByOne = make<kaTestInstanceOneByOne>();
            auto pass = make<kaInstanceGeometriesByName>();
            literal ? oneByOne->apply(root) : pass->apply(root);
            const kaGeometryList* list = literal ? oneByOne->list.get() : pass->getGeometryList();
            for (int i = 0; i < list->getCount(); ++i) results[literal].push_back(std::to_string(ids[list->get(i)]));
            for (kaGroup* group : groups)
                for (const std::string& child : childNames(group, ids)) results[literal].push_back(child);
        }
        EXPECT_EQ(results[0], results[1]) << "seed " << seed;
    }
}
