// kaCreateLod: the ranges configure computes, and the level-of-detail node built from level
// files of every kind, usable or not.
#include "host/io/kaKABFile.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaLod.h"
#include "kaTestTools.h"
#include "passes/scene/kaCreateLod.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::OptExtension::kaCreateLod;
namespace fs = std::filesystem;

namespace {

struct LodRun {
    kaSmartPointer<kaOptInterface> optInterface = make<kaOptInterface>();
    kaSmartPointer<kaCreateLod> pass = make<kaCreateLod>();
    int section;

    LodRun(unsigned int levels, const std::vector<std::pair<const char*, const char*>>& keys)
    {
        optInterface->setRegistry(make<kaRegistry>());
        section = optInterface->getRegistry()->addSection();
        for (const auto& [key, value] : keys) optInterface->getRegistry()->setValue(section, key, value);
        pass->setInterface(optInterface);
        pass->setLodCount(levels);
    }
    std::vector<float> ranges() const
    {
        std::vector<float> values;
        for (int i = 0; i < pass->getLodRange()->getCount(); ++i) values.push_back(pass->getLodRange()->get(i));
        return values;
    }
};

} // namespace

TEST(kaCreateLod, RangesAreSpreadEvenlyUnlessGiven)
{
    struct Case {
        unsigned int levels;
        std::vector<std::pair<const char*, const char*>> keys;
        std::vector<float> ranges;
    };
    const Case cases[] = {
        {1, {}, {500.0f}},
        {4, {}, {132.5f, 255.0f, 377.5f, 500.0f}},
        {4, {{"range2", "7.5"}}, {132.5f, 7.5f, 377.5f, 500.0f}},
    };
    for (const Case& test : cases) {
        LodRun run(test.levels, test.keys);
        ASSERT_TRUE(run.pass->configure(run.section));
        EXPECT_EQ(run.ranges(), test.ranges) << test.levels << " levels";
    }
    LodRun none(0, {});
    EXPECT_FALSE(none.pass->configure(none.section));
}

TEST(kaCreateLod, EveryLevelFileGivesAChildOrAnEmptyLevelWithItsMessage)
{
    kaTest::kaScratchDir scratch;
    const fs::path out = scratch / "out";
    for (const char* folder : {"node", "scene", "external", "string", "truncated"}) fs::create_directories(out / folder);
    auto writeRoot = [&](const fs::path& path, kaObject* object) {
        auto file = make<kaKABFile>();
        auto entry = make<kaObjectDirEntry>();
        entry->setEntryName("root");
        entry->setObject(object);
        file->getDirectory()->append(entry);
        ASSERT_TRUE(file->write(path.c_str())) << file->getError();
    };
    writeRoot(out / "node/rock.kab", make<kaGeometry>("rock_near"));
    writeRoot(out / "rock.kab", make<kaGeometry>("rock_here"));
    auto sceneInfo = make<kaSceneInfo>("level");
    sceneInfo->setSceneGraph(make<kaGroup>("rock_scene"));
    writeRoot(out / "scene/rock.kab", sceneInfo);
    writeRoot(out / "string/rock.kab", make<kaStringObj>());
    auto external = make<kaKABFile>();
    auto entry = make<kaExternalDirEntry>();
    entry->setEntryName("root");
    entry->setDirectoryName("../rock.kab");
    external->getDirectory()->append(entry);
    ASSERT_TRUE(external->write((out / "external/rock.kab").c_str()));
    std::string bytes = kaTest::readText(out / "node/rock.kab");
    kaTest::writeText(out / "truncated/rock.kab", bytes.substr(0, bytes.size() / 2));

    // Levels: a node, a scene info, none, the output folder itself, a missing file, a file whose
    // root is an external entry, one holding no node, a damaged one.
    LodRun run(8, {{"directory1", "node"}, {"directory2", "scene"}, {"directory4", ""}, {"directory5", "missing"},
                   {"directory6", "external"}, {"directory7", "string"}, {"directory8", "truncated"}, {"range1", "5"}});
    run.optInterface->setFilePath(out.c_str());
    ASSERT_TRUE(run.pass->configure(run.section));
    auto root = make<kaGroup>("root");
    root->appendChild(make<kaGeometry>("rock"));
    root->appendChild(make<kaGeometry>("rock"));
    kaSmartPointer<kaNode> top = root;
    testing::internal::CaptureStdout();
    run.pass->apply(top);
    const std::string printed = testing::internal::GetCapturedStdout();

    const std::string o = out.string();
    EXPECT_EQ(printed, "File is Empty : " + o + "/missing/rock.kab\n" + "Not Object file : " + o + "/external/rock.kab\n" +
                           "Not valid file : " + o + "/string/rock.kab\n" + "File is Empty : " + o +
                           "/truncated/rock.kab\n");
    auto* lod = kaLod::dynamicCast(root->getChild(0));
    ASSERT_NE(lod, nullptr);
    EXPECT_STREQ(lod->getName(), "rock");
    ASSERT_EQ(lod->getChildCount(), 8);
    const char* expected[] = {"rock_near", "rock_scene", nullptr, "rock_here", nullptr, nullptr, nullptr, nullptr};
    for (int i = 0; i < 8; ++i) {
        kaNode* child = lod->getChild(i);
        EXPECT_STREQ(child ? child->getName() : nullptr, expected[i]) << "level " << i + 1;
    }
    EXPECT_EQ(lod->getRangeCount(), 8);
    EXPECT_EQ(lod->getRange(0), 5.0f);
    EXPECT_EQ(lod->getRange(7), 500.0f);
    EXPECT_EQ(kaLod::dynamicCast(root->getChild(1)), nullptr) << "only the first geometry node is replaced";
    EXPECT_EQ(run.pass->getLodCount(), 0u);
    EXPECT_FALSE(run.pass->configure(run.section));
}
