// kaNameUnique: the numbering of shared names, and the search that skips numbers known to be
// taken against the search that starts afresh for every object.
#include "host/core/kaWalk.h"
#include "kaPassTestTools.h"

#include <random>

using namespace kaTest;

namespace {

std::vector<std::string> namesOf(const std::vector<kaGroup*>& groups)
{
    std::vector<std::string> names;
    for (kaGroup* group : groups) names.push_back(group->getName() ? group->getName() : "(null)");
    return names;
}

// The search as first written: from the number of other holders upwards, every number tried
// again for every object.
void makeNameUniqueAfresh(kaNamedObject* object)
{
    kaStringRef name = object->getNameRef();
    if (name.isNull()) return;
    const int32_t holders = name.getRefCount();
    const std::string oldName = name.c_str();
    name = nullptr;
    if (holders == 2) return;
    kaStringRef candidate;
    for (int32_t n = holders - 2; candidate.getRefCount() != 1; ++n) candidate = (oldName + "_" + std::to_string(n)).c_str();
    object->setName(candidate.c_str());
}

} // namespace

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
    };
    for (const auto& c : cases) {
        auto root = make<kaGroup>();
        std::vector<kaGroup*> children;
        for (const char* name : c.names) root->appendChild(children.emplace_back(make<kaGroup>(name)));
        runPass("kaNameUnique", root.get());
        EXPECT_EQ(namesOf(children), c.expected);
    }
}

TEST(NameUnique, SkippingTakenNumbersGivesWhatSearchingAfreshGives)
{
    // Few base names, many holders, and names that are already numbered: the searches run
    // long and meet each other's results.
    const char* pool[] = {"x", "x_1", "x_2", "x_3", "x_1_1", "y", "y_5", "", "Y"};
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::vector<std::string> results[2];
        for (int literal = 0; literal < 2; ++literal) {
            std::mt19937 random(seed);
            auto root = make<kaGroup>();
            std::vector<kaGroup*> groups{root.get()};
            for (int i = 0; i < 1500; ++i) {
                auto node = make<kaGroup>(random() % 10 == 0 ? nullptr : pool[random() % std::size(pool)]);
                groups[random() % groups.size()]->appendChild(node);
                groups.push_back(node);
            }
            if (literal) {
                for (kaObject* object : kaCollectReachable({root.get()}))
                    if (object->isOfType(kaNamedObject::getClassMetaSafe()))
                        makeNameUniqueAfresh(static_cast<kaNamedObject*>(object));
            } else {
                runPass("kaNameUnique", root.get());
            }
            results[literal] = namesOf(groups);
        }
        EXPECT_EQ(results[0], results[1]) << "seed " << seed;
    }
}
