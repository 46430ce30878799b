// kaCreateLod: configure's ranges, and the level-of-detail node built from level files of every kind.
#include "host/io/kaKABFile.h"
#include "host/sg/kaLod.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"
#include "passes/scene/kaCreateLod.h"

using namespace kaTest;
using Lode::OptExtension::kaCreateLod;
namespace fs = std::filesystem;

TEST(kaCreateLod, RangesAreSpreadEvenlyUnlessGiven)
{
    const struct {
        const char* levels;
        kaSettings keys;
        std::vector<float> ranges;  // none: configure refuses
    } cases[] = {{"1", {}, {500.0f}}, {"4", {}, {132.5f, 255.0f, 377.5f, 500.0f}},
                 {"4", {{"range2", "7.5"}}, {132.5f, 7.5f, 377.5f, 500.0f}}, {"0", {}, {}},
                 // A present key that holds no number is read as the default 0, not as absent.
                 {"2", {{"range1", "12m"}}, {0.0f, 500.0f}}};
    for (const auto& c : cases) {
        kaPassRun run("kaCreateLod", {{"_lodCount", c.levels}}, c.keys);
        run.run(nullptr);
        EXPECT_EQ(run.result, c.ranges.empty() ? kaOptInterface::RunResult::Refused : kaOptInterface::RunResult::Applied);
        const kaFloatList* ranges = run.as<kaCreateLod>()->getLodRange();
        EXPECT_EQ(std::vector<float>(ranges->data(), ranges->data() + ranges->getCount()), c.ranges) << c.levels << " levels";
    }
}

TEST(kaCreateLod, EveryLevelFileGivesAChildOrAnEmptyLevelWithItsMessage)
{
    kaScratchDir scratch;
    const fs::path out = scratch / "out";
    for (const char* folder : {"node", "scene", "external", "string", "truncated"}) fs::create_directories(out / folder);
    // A file whose entry "root" is the given entry, or holds the given object.
    auto writeRoot = [&](const fs::path& path, kaDirEntry* entry) {
        auto file = make<kaKABFile>();
        entry->setEntryName("root");
        file->getDirectory()->append(entry);
        ASSERT_TRUE(file->write(path.c_str())) << file->getError();
    };
    auto holding = [](kaObject* object) { auto entry = make<kaObjectDirEntry>(); entry->setObject(object); return entry; };
    writeRoot(out / "node/rock.kab", holding(make<kaGeometry>("rock_near")));
    writeRoot(out / "rock.kab", holding(make<kaGeometry>("rock_here")));
    auto sceneInfo = make<kaSceneInfo>("level");
    sceneInfo->setSceneGraph(make<kaGroup>("rock_scene"));
    writeRoot(out / "scene/rock.kab", holding(sceneInfo));
    writeRoot(out / "string/rock.kab", holding(make<kaStringObj>()));
    auto external = make<kaExternalDirEntry>();
    external->setDirectoryName("../rock.kab");
    writeRoot(out / "external/rock.kab", external);
    std::string bytes = readText(out / "node/rock.kab");
    writeText(out / "truncated/rock.kab", bytes.substr(0, bytes.size() / 2));

    // Levels: a node, a scene info, none, the output folder itself, a missing file, a file whose
    // root is an external entry, one holding no node, a damaged one.
    kaPassRun run("kaCreateLod", {{"_lodCount", "8"}},
                  {{"directory1", "node"}, {"directory2", "scene"}, {"directory4", ""}, {"directory5", "missing"},
                   {"directory6", "external"}, {"directory7", "string"}, {"directory8", "truncated"}, {"range1", "5"}},
                  out);
    auto root = make<kaGroup>("root");
    root->appendChild(make<kaGeometry>("rock")), root->appendChild(make<kaGeometry>("rock"));
    const std::string printed = run.run(root.get());
    const std::string o = out.string();
    EXPECT_EQ(printed, "File is Empty : " + o + "/missing/rock.kab\n" + "Not Object file : " + o + "/external/rock.kab\n" +
                           "Not valid file : " + o + "/string/rock.kab\n" + "File is Empty : " + o +
                           "/truncated/rock.kab\n");
    auto* lod = kaLod::dynamicCast(root->getChild(0));
    ASSERT_NE(lod, nullptr);
    EXPECT_STREQ(lod->getName(), "rock");
    ASSERT_EQ(lod->getChildCount(), 8);
    const char* expected[] = {"rock_near", "rock_scene", nullptr, "rock_here", nullptr, nullptr, nullptr, nullptr};
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(lod->getChild(i) ? lod->getChild(i)->getName() : nullptr, expected[i]) << "level " << i + 1;
    EXPECT_EQ(lod->getRangeCount(), 8);
    EXPECT_EQ(lod->getRange(0), 5.0f);
    EXPECT_EQ(lod->getRange(7), 500.0f);
    EXPECT_EQ(kaLod::dynamicCast(root->getChild(1)), nullptr) << "only the first geometry node is replaced";
    // The levels are used up: a second run of the same pass refuses.
    run.run(root.get());
    EXPECT_EQ(run.result, kaOptInterface::RunResult::Refused);
}
