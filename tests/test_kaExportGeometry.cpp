// kaExportGeometry: what lands in the files, what the saved scene refers to, and that reading it
// again gives the scene as it was, shared objects included.
#include "host/io/kaSceneDump.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

using namespace kaTest;
namespace fs = std::filesystem;

namespace {
// A scene info over a root group holding geometry nodes of the names.
kaSmartPointer<kaInfoList> sceneOf(const std::vector<std::string>& names)
{
    auto infos = make<kaInfoList>();
    auto sceneInfo = make<kaSceneInfo>("scene");
    auto root = make<kaGroup>("root");
    for (const std::string& name : names) root->appendChild(make<kaGeometry>(name));
    sceneInfo->setSceneGraph(root);
    infos->append(sceneInfo);
    return infos;
}

kaGroup* rootOf(kaInfoList* infos) { return kaGroup::dynamicCast(kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph()); }
} // namespace

TEST(kaExportGeometry, SplitSceneReadsBackAsTheOriginal)
{
    kaScratchDir scratch;
    kaSmartPointer<kaInfoList> infos = Lode::Tools::kaMakeExampleScene();
    const std::string original = Lode::Io::kaDumpScene("scene", infos, nullptr, Lode::Io::kaDumpFormat::Text);
    kaPassRun run("kaExportGeometry", {{"_subDirectory", "parts"}}, {}, scratch.path());
    // The two nodes named crate would share a file: the second may not replace the first.
    EXPECT_EQ(run.run(rootOf(infos), infos), "error writing " + (scratch / "parts/crate.kab").string());
    for (const char* name : {"body", "arms", "face", "barrel", "crate", "lantern"})
        EXPECT_TRUE(fs::is_regular_file(scratch / "parts" / (std::string(name) + ".kab"))) << name;
    std::string error;
    ASSERT_TRUE(run.host->writeScene((scratch / "split.kab").c_str(), infos, error)) << error;
    EXPECT_EQ(readText(scratch / "split.kab").find("lantern_mesh"), std::string::npos)
        << "exported geometry is not in the scene file";

    // Vertices, attributes and which objects are shared (numbered in the dump) are as they were.
    auto reader = make<kaOptInterface>();
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(reader->readScene((scratch / "split.kab").c_str(), read, error)) << error;
    EXPECT_EQ(Lode::Io::kaDumpScene("scene", read, nullptr, Lode::Io::kaDumpFormat::Text), original);
    fs::remove(scratch / "parts/barrel.kab");
    EXPECT_FALSE(reader->readScene((scratch / "split.kab").c_str(), read, error));
    EXPECT_NE(error.find("parts/barrel.kab: cannot open"), std::string::npos) << error;
}

TEST(kaExportGeometry, SelectsByNameAndPassesOverWhatItCannotOrNeedNotWrite)
{
    // Letters of the base name in another order are not its start.
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {"rock_a", "rock_b", "tree"}}, {"rock", {"rock_a", "rock_b"}}, {"kcor", {}}};
    for (const auto& [baseName, written] : cases) {
        // An unnamed node, and rock_c that already has an entry.
        kaScratchDir scratch;
        auto infos = sceneOf({"rock_a", "tree", "", "rock_b", "rock_c"});
        kaPassRun run("kaExportGeometry", {{"_baseName", baseName}}, {}, scratch.path());
        auto entry = make<kaExternalDirEntry>();
        entry->bindObject(rootOf(infos)->getChild(4));
        run.host->addExternalReference(entry);
        // The warning is kaopt's own line on standard error, not among the pass's messages.
        testing::internal::CaptureStderr();
        EXPECT_EQ(run.run(rootOf(infos), infos), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "WARNING: 1 geometry node(s) without a name not exported: a file is named after its node\n");
        std::vector<std::string> files;
        for (const auto& file : fs::directory_iterator(scratch.path())) files.push_back(file.path().stem().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, written) << baseName;
        // Each file written is referred to by an entry "root" of NAME.kab; no other node has one.
        for (int i = 0; i < 4; ++i) {
            kaNode* node = rootOf(infos)->getChild(i);
            const kaExternalDirEntry* made = run.host->getExternalEntry(node);
            const bool exported = node->getName() && std::count(written.begin(), written.end(), node->getName());
            EXPECT_TRUE(exported ? made && made->getDirectoryName() == std::string(node->getName()) + ".kab" &&
                                       std::string(made->getEntryName()) == "root"
                                 : !made) << baseName << " " << i;
        }
    }
}

TEST(kaExportGeometry, NamesNeverLeadOutOfTheOutputFolderAndParentsStay)
{
    kaScratchDir scratch;
    fs::create_directory(scratch / "out");
    const std::string absolute = (scratch / "absolute").string(), folder = (scratch / "out").string();
    auto infos = sceneOf({});
    auto other = make<kaGroup>("other");
    rootOf(infos)->appendChild(other);
    for (const std::string& name : {std::string("../escaped"), std::string("a/../../escaped"), absolute, std::string("inner/ok")}) {
        auto node = make<kaGeometry>(name);
        rootOf(infos)->appendChild(node);
        other->appendChild(node);
    }
    kaPassRun run("kaExportGeometry", {}, {}, folder);
    EXPECT_EQ(run.run(rootOf(infos), infos),
              "error writing " + folder + "/../escaped.kab" + "error writing " + folder + "/a/../../escaped.kab");
    EXPECT_TRUE(fs::is_regular_file(scratch / "out/inner/ok.kab"));
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + absolute + ".kab")) << "an absolute name is a path inside the folder";
    EXPECT_FALSE(fs::exists(scratch / "escaped.kab"));
    EXPECT_FALSE(fs::exists(absolute + ".kab"));
    for (int i = 1; i < rootOf(infos)->getChildCount(); ++i) {
        kaNode* node = rootOf(infos)->getChild(i);
        EXPECT_EQ(node->getParentCount(), 2) << node->getName();
        EXPECT_EQ(run.host->getExternalEntry(node) != nullptr, i > 2) << node->getName();
    }
    // Without an output path the working folder is the output folder.
    auto lone = sceneOf({absolute});
    EXPECT_EQ(kaPassRun("kaExportGeometry").run(rootOf(lone), lone), "error writing " + absolute + ".kab");
    EXPECT_FALSE(fs::exists(absolute + ".kab"));
}
