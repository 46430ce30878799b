// kaExportGeometry: what lands in the files, what the saved scene refers to, and that reading it
// again gives the scene as it was, shared objects included.
#include "host/io/kaSceneDump.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "kaTestTools.h"
#include "passes/geometry/kaExportGeometry.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

#include <regex>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::OptExtension::kaExportGeometry;
namespace fs = std::filesystem;

namespace {

kaNode* sceneRoot(kaInfoList* infos) { return kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph(); }

// Runs the pass over the scene's graph; returns what it printed.
std::string exportGeometry(kaOptInterface* optInterface, kaInfoList* infos, const char* subDirectory,
                           const char* baseName = "")
{
    auto pass = make<kaExportGeometry>();
    pass->setInterface(optInterface);
    pass->setSubDirectory(subDirectory);
    pass->setBaseName(baseName);
    kaSmartPointer<kaNode> root = sceneRoot(infos);
    testing::internal::CaptureStdout();
    optInterface->runPass(pass, optInterface->getRegistry()->addSection(), root, infos);
    return testing::internal::GetCapturedStdout();
}

kaSmartPointer<kaOptInterface> interfaceWritingTo(const fs::path& folder)
{
    auto optInterface = make<kaOptInterface>();
    optInterface->setRegistry(make<kaRegistry>());
    optInterface->setFilePath(folder.c_str());
    return optInterface;
}

} // namespace

TEST(kaExportGeometry, SplitSceneReadsBackAsTheOriginal)
{
    kaTest::kaScratchDir scratch;
    kaSmartPointer<kaInfoList> infos = Lode::Tools::kaMakeExampleScene();
    auto optInterface = interfaceWritingTo(scratch.path());
    const std::string original = Lode::Io::kaDumpScene("scene", infos, nullptr, Lode::Io::kaDumpFormat::Text);

    // The two nodes named crate would share a file: the second may not replace the first.
    EXPECT_EQ(exportGeometry(optInterface, infos, "parts"), "error writing " + (scratch / "parts/crate.kab").string());
    for (const char* name : {"body", "arms", "face", "barrel", "crate", "lantern"})
        EXPECT_TRUE(fs::is_regular_file(scratch / "parts" / (std::string(name) + ".kab"))) << name;
    std::string error;
    ASSERT_TRUE(optInterface->writeScene((scratch / "split.kab").c_str(), infos, error)) << error;
    EXPECT_EQ(kaTest::readText(scratch / "split.kab").find("lantern_mesh"), std::string::npos)
        << "exported geometry is not in the scene file";

    auto reader = make<kaOptInterface>();
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(reader->readScene((scratch / "split.kab").c_str(), read, error)) << error;
    // Vertices, attributes and which objects are shared (numbered in the dump) are as they were.
    EXPECT_EQ(Lode::Io::kaDumpScene("scene", read, nullptr, Lode::Io::kaDumpFormat::Text), original);

    fs::remove(scratch / "parts/barrel.kab");
    EXPECT_FALSE(reader->readScene((scratch / "split.kab").c_str(), read, error));
    EXPECT_NE(error.find("parts/barrel.kab: cannot open"), std::string::npos) << error;
}

TEST(kaExportGeometry, SelectsByNameAndPassesOverWhatItCannotOrNeedNotWrite)
{
    struct Case {
        const char* baseName;
        std::vector<const char*> written;
        const char* printed;
    };
    // Nodes: rock_a, rock_b, tree, an unnamed one, and rock_c that already has an entry.
    const Case cases[] = {
        {"", {"rock_a", "rock_b", "tree"}, "WARNING: 1 geometry node(s) without a name not exported: a file is named after its node\n"},
        {"rock", {"rock_a", "rock_b"}, "WARNING: 1 geometry node(s) without a name not exported: a file is named after its node\n"},
        // Letters of the base name in another order are not its start.
        {"kcor", {}, "WARNING: 1 geometry node(s) without a name not exported: a file is named after its node\n"},
    };
    for (const Case& test : cases) {
        kaTest::kaScratchDir scratch;
        auto optInterface = interfaceWritingTo(scratch.path());
        auto infos = make<kaInfoList>();
        auto sceneInfo = make<kaSceneInfo>("scene");
        auto root = make<kaGroup>("root");
        sceneInfo->setSceneGraph(root);
        infos->append(sceneInfo);
        for (const char* name : {"rock_a", "tree", static_cast<const char*>(nullptr), "rock_b", "rock_c"})
            root->appendChild(make<kaGeometry>(name));
        auto entry = make<kaExternalDirEntry>();
        entry->bindObject(root->getChild(4));
        optInterface->addExternalReference(entry);

        EXPECT_EQ(exportGeometry(optInterface, infos, "", test.baseName), test.printed) << test.baseName;
        std::vector<std::string> files;
        for (const auto& file : fs::directory_iterator(scratch.path())) files.push_back(file.path().stem().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, std::vector<std::string>(test.written.begin(), test.written.end())) << test.baseName;
        for (const char* name : test.written) {
            kaNode* node = nullptr;
            for (int i = 0; i < root->getChildCount(); ++i)
                if (root->getChild(i)->getName() && std::string(root->getChild(i)->getName()) == name) node = root->getChild(i);
            ASSERT_NE(optInterface->getExternalEntry(node), nullptr) << name;
            EXPECT_EQ(optInterface->getExternalEntry(node)->getDirectoryName(), std::string(name) + ".kab");
            EXPECT_STREQ(optInterface->getExternalEntry(node)->getEntryName(), "root");
        }
    }
}

TEST(kaExportGeometry, NamesNeverLeadOutOfTheOutputFolderAndParentsStay)
{
    kaTest::kaScratchDir scratch;
    fs::create_directory(scratch / "out");
    auto optInterface = interfaceWritingTo(scratch / "out");
    auto infos = make<kaInfoList>();
    auto sceneInfo = make<kaSceneInfo>("scene");
    auto root = make<kaGroup>("root");
    auto other = make<kaGroup>("other");
    root->appendChild(other);
    sceneInfo->setSceneGraph(root);
    infos->append(sceneInfo);
    const std::string absolute = (scratch / "absolute").string();
    const std::vector<std::string> names = {"../escaped", "a/../../escaped", absolute, "inner/ok"};
    for (const std::string& name : names) {
        auto node = make<kaGeometry>(name.c_str());
        root->appendChild(node);
        other->appendChild(node);
    }
    const std::string printed = exportGeometry(optInterface, infos, "");
    const std::string folder = (scratch / "out").string();
    EXPECT_EQ(printed, "error writing " + folder + "/../escaped.kab" + "error writing " + folder + "/a/../../escaped.kab");
    EXPECT_TRUE(fs::is_regular_file(scratch / "out/inner/ok.kab"));
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + absolute + ".kab")) << "an absolute name is a path inside the folder";
    EXPECT_FALSE(fs::exists(scratch / "escaped.kab"));
    EXPECT_FALSE(fs::exists(absolute + ".kab"));
    for (int i = 1; i < root->getChildCount(); ++i) {
        kaNode* node = root->getChild(i);
        EXPECT_EQ(node->getParentCount(), 2) << node->getName();
        EXPECT_EQ(optInterface->getExternalEntry(node) != nullptr, i > 2) << node->getName();
    }
    // Without an output path the working folder is the output folder.
    optInterface->setFilePath("");
    auto lone = make<kaGeometry>(absolute.c_str());
    auto wrapper = make<kaSceneInfo>("scene");
    wrapper->setSceneGraph(lone);
    auto loneInfos = make<kaInfoList>();
    loneInfos->append(wrapper);
    EXPECT_EQ(exportGeometry(optInterface, loneInfos, ""), "error writing " + absolute + ".kab");
    EXPECT_FALSE(fs::exists(absolute + ".kab"));
}

TEST(kaExportGeometry, AFailedRunLeavesNoFileAndChangesNone)
{
    kaTest::kaScratchDir scratch;
    fs::create_directory(scratch / "parts");
    kaTest::writeText(scratch / "parts/crate.kab", "old part");
    kaTest::writeText(scratch / "out.kab", "old scene");
    const std::string exportScript = "[kaExportGeometry]\n_subDirectory = parts\n[kaExportGeometry]\n_subDirectory = made\n";
    kaTest::writeText(scratch / "fails.ini", exportScript + "[kaImageExternal]\n_imageSubDirectory = missing\n");
    kaTest::writeText(scratch / "works.ini", exportScript);
    const std::string run = "run --quiet --example -o " + (scratch / "out.kab").string() + " --script ";

    kaTest::kaRunResult failed = kaTest::runKaopt(run + (scratch / "fails.ini").string());
    EXPECT_EQ(failed.status, 1) << failed.err;
    std::vector<std::string> left;
    for (const auto& file : fs::recursive_directory_iterator(scratch.path())) left.push_back(file.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"crate.kab", "fails.ini", "out.kab", "parts", "works.ini"}));
    EXPECT_TRUE(kaTest::readText(scratch / "parts/crate.kab") == "old part");
    EXPECT_EQ(kaTest::readText(scratch / "out.kab"), "old scene");

    kaTest::kaRunResult worked = kaTest::runKaopt(run + (scratch / "works.ini").string());
    EXPECT_EQ(worked.status, 0) << worked.err;
    EXPECT_NE(kaTest::readText(scratch / "parts/crate.kab"), "old part");
    EXPECT_TRUE(fs::is_regular_file(scratch / "parts/lantern.kab"));
    EXPECT_TRUE(fs::exists(scratch / "made")) << "the second export writes only the crate the first could not";
    EXPECT_EQ(kaTest::runKaopt("info " + (scratch / "out.kab").string()).status, 0);
}
