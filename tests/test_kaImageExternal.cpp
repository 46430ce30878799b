// kaImageExternal: file names from image names, the PNG files, entries and flags, the saved scene.
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaImageFiles.h"
#include "host/sg/kaAttrSet.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"

using namespace kaTest;
using Lode::Gfx::kaExternalImageEntry;
using Lode::Gfx::kaImage;
namespace fs = std::filesystem;

namespace {
// A scene whose one texture holds a 2x2 image per name, image i's first byte 10 + i; images
// 0 .. earlier-1 already have an entry in the run's file.
struct ImageScene {
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();
    kaSmartPointer<kaGroup> root = make<kaGroup>("root");
    std::vector<kaSmartPointer<kaImage>> images;
    std::vector<kaSmartPointer<kaExternalImageEntry>> entries;

    ImageScene(kaPassRun& run, const std::vector<const char*>& names, int earlier)
    {
        auto sceneInfo = make<kaSceneInfo>("scene");
        sceneInfo->setSceneGraph(root);
        infos->append(sceneInfo);
        auto holder = make<kaAttrSet>("holder");
        auto texture = make<kaTextureAttr>("texture");
        for (const char* name : names) {
            images.push_back(make<kaImage>(name));
            images.back()->setup(2, 2, Lode::Gfx::KA_GFX_TEXTURE_FORMAT_RGBA_8);
            images.back()->pixelData()[0] = static_cast<uint8_t>(9 + images.size());
            texture->setImage(images.back(), texture->getImageCount());
        }
        for (int i = 0; i < earlier; ++i) {
            entries.push_back(make<kaExternalImageEntry>());
            entries.back()->bindObject(images[i]);
            run.host->addExternalReference(entries.back());
        }
        holder->appendAttr(texture), root->appendChild(holder);
    }
};
} // namespace

TEST(kaImageExternal, FileNamesComeFromImageNamesAndAreUniquePerFolder)
{
    kaScratchDir scratch;
    fs::create_directory(scratch / "images");
    kaPassRun run("kaImageExternal", {{"_imageSubDirectory", "images"}}, {}, scratch.path());
    ImageScene scene(run, {"wall", "textures/wall.tga", nullptr, "dir\\", ".png", "C:\\art\\wall.psd.bak", "../../up",
                           "wall.diffuse.png", "wall.normal.png"}, 1);
    const std::vector<std::string> files = {"wall.png", "wall_1.png", "DefaultImageName.png", "DefaultImageName_1.png",
                                            "DefaultImageName_2.png", "wall.psd.png", "up.png", "wall.diffuse.png",
                                            "wall.normal.png"};
    std::string expected;
    for (const std::string& file : files) expected += "saving image file <" + file + ">\n";
    EXPECT_EQ(run.run(scene.root.get(), scene.infos), expected);
    for (size_t i = 0; i < files.size(); ++i) {
        auto read = make<kaImage>();
        std::string error;
        ASSERT_TRUE(kaReadPngImage(*read, scratch / "images" / files[i], error)) << error;
        EXPECT_EQ(read->pixelData()[0], 10 + i) << files[i];
        kaExternalDirEntry* entry = run.host->getExternalEntry(scene.images[i]);
        ASSERT_NE(kaExternalImageEntry::dynamicCast(entry), nullptr) << files[i];
        EXPECT_EQ(entry->getDirectoryName(), files[i]);
        EXPECT_EQ(entry->getEntryName(), files[i]);
    }
    EXPECT_EQ(run.host->getExternalEntry(scene.images[0]), scene.entries[0].get()) << "an image's entry is reused";

    // Saved, the scene refers to the files in images/ and reads its pixels back from them.
    std::string error;
    ASSERT_TRUE(run.host->writeScene((scratch / "scene.kab").c_str(), scene.infos, error)) << error;
    EXPECT_NE(readText(scratch / "scene.kab").find("images/wall_1.png"), std::string::npos);
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(make<kaOptInterface>()->readScene((scratch / "scene.kab").c_str(), read, error)) << error;
    fs::remove(scratch / "images/up.png");
    EXPECT_FALSE(make<kaOptInterface>()->readScene((scratch / "scene.kab").c_str(), read, error));
    EXPECT_NE(error.find("images/up.png"), std::string::npos) << error;
}

TEST(kaImageExternal, FlagsDecideWhatTheSceneRefersTo)
{
    const struct {
        const char *forcePngUsage, *forceInternalImage;
        std::vector<bool> entries;  // per image, after the run; the first two had one before
    } cases[] = {
        {"true", "false", {true, true, true}},
        {"false", "false", {true, true, false}},
        // Each image's removal walk comes before its own entry: only the last one keeps one.
        {"true", "true", {false, false, true}},
        {"false", "true", {false, false, false}},
    };
    for (const auto& c : cases) {
        kaScratchDir scratch;
        kaPassRun run("kaImageExternal", {{"_forcePngUsage", c.forcePngUsage}, {"_forceInternalImage", c.forceInternalImage}},
                      {}, scratch.path());
        ImageScene scene(run, {"a", "b", "c"}, 2);
        run.run(scene.root.get(), scene.infos);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(fs::is_regular_file(scratch / (std::string(1, char('a' + i)) + ".png")));
            EXPECT_EQ(run.host->getExternalEntry(scene.images[i]) != nullptr, c.entries[i])
                << c.forcePngUsage << c.forceInternalImage << " image " << i;
        }
    }
}

TEST(kaImageExternal, MissingFolderRefusesBeforeWritingAnything)
{
    kaScratchDir scratch;
    kaPassRun run("kaImageExternal", {{"_imageSubDirectory", "missing"}}, {}, scratch.path());
    ImageScene scene(run, {"a"}, 0);
    EXPECT_EQ(run.run(scene.root.get(), scene.infos), "ERROR: The directory missing does not exist\n");
    EXPECT_EQ(run.result, kaOptInterface::RunResult::Refused);
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}
