// kaNameUnique: the numbering of shared names, and the search that skips numbers known to be
// taken against the search that starts afresh for every object.
#include "host/core/kaWalk.h"
#include "host/sg/kaGroup.h"
#include "kaTestScenes.h"

#include <gtest/gtest.h>

#include <random>

using namespace Lode::Core;
using Lode::Sg::kaGroup;
using Lode::Sg::kaNode;

namespace {

// A root without a name holding one child per name, in visiting order; nullptr for no name.
std::vector<std::string> renamed(const std::vector<const char*>& names)
{
    kaSmartPointer<kaNode> root = make<kaGroup>();
    for (const char* name : names) static_cast<kaGroup*>(root.get())->appendChild(make<kaGroup>(name));
    kaTest::runPass("kaNameUnique", root);
    std::vector<std::string> result;
    for (int i = 0; i < static_cast<kaGroup*>(root.get())->getChildCount(); ++i) {
        const char* name = static_cast<kaGroup*>(root.get())->getChild(i)->getName();
        result.push_back(name ? name : "(null)");
    }
    return result;
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
    struct Case {
        std::vector<const char*> names;
        std::vector<std::string> expected;
    } cases[] = {
        {{"a", "b", "c"}, {"a", "b", "c"}},
        {{"wheel", "wheel", "wheel"}, {"wheel_2", "wheel_1", "wheel"}},
        // wheel_2 is taken, so the first wheel goes on to wheel_3; the second starts at 1.
        {{"wheel", "wheel", "wheel", "wheel_2"}, {"wheel_3", "wheel_1", "wheel", "wheel_2"}},
        {{"a_1", "a_1"}, {"a_1_1", "a_1"}},
        {{"Tree", "tree", nullptr}, {"Tree", "tree", "(null)"}},
    };
    for (const Case& test : cases) EXPECT_EQ(renamed(test.names), test.expected);
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
            kaSmartPointer<kaNode> root = make<kaGroup>();
            std::vector<kaGroup*> groups{static_cast<kaGroup*>(root.get())};
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
                kaTest::runPass("kaNameUnique", root);
            }
            for (kaGroup* group : groups) results[literal].push_back(group->getName() ? group->getName() : "(null)");
        }
        EXPECT_EQ(results[0], results[1]) << "seed " << seed;
    }
}
