// kaImageExternal: file names made from image names, the PNG files and the entries, the two
// flags, and a saved scene that loads its images back from the files.
#include "host/attrs/kaTextureAttr.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAttrSet.h"
#include "kaTestTools.h"
#include "passes/texture/kaImageExternal.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaTextureAttr;
using Lode::Gfx::kaExternalImageEntry;
using Lode::Gfx::kaImage;
using Lode::OptExtension::kaImageExternal;
namespace fs = std::filesystem;

namespace {

struct ImageScene {
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();
    kaSmartPointer<kaGroup> root = make<kaGroup>("root");
    std::vector<kaSmartPointer<kaImage>> images;

    explicit ImageScene(const std::vector<const char*>& names)
    {
        auto sceneInfo = make<kaSceneInfo>("scene");
        sceneInfo->setSceneGraph(root);
        infos->append(sceneInfo);
        auto holder = make<kaAttrSet>("holder");
        auto texture = make<kaTextureAttr>("texture");
        texture->setImageCount(static_cast<int>(names.size()));
        for (size_t i = 0; i < names.size(); ++i) {
            auto image = make<kaImage>(names[i]);
            image->setup(2, 2, Lode::Gfx::KA_GFX_TEXTURE_FORMAT_RGBA_8);
            image->pixelData()[0] = static_cast<uint8_t>(10 + i);
            texture->setImage(image, static_cast<int>(i));
            images.push_back(image);
        }
        holder->appendAttr(texture);
        root->appendChild(holder);
    }
};

struct ImageRun {
    kaSmartPointer<kaOptInterface> optInterface = make<kaOptInterface>();
    kaSmartPointer<kaImageExternal> pass = make<kaImageExternal>();

    ImageRun(const fs::path& output, const char* subDirectory)
    {
        optInterface->setRegistry(make<kaRegistry>());
        optInterface->setFilePath(output.c_str());
        pass->setInterface(optInterface);
        pass->setImageSubDirectory(subDirectory);
    }
    // configure and apply; what the pass printed.
    std::string run(ImageScene& scene, bool& configured)
    {
        kaSmartPointer<kaNode> root = scene.root;
        testing::internal::CaptureStdout();
        configured = optInterface->runPass(pass, 0, root, scene.infos) == kaOptInterface::RunResult::Applied;
        return testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST(kaImageExternal, FileNamesComeFromImageNamesAndAreUniquePerFolder)
{
    kaTest::kaScratchDir scratch;
    fs::create_directory(scratch / "images");
    ImageScene scene({"textures/wall.tga", "wall", nullptr, "dir\\", ".png", "C:\\art\\wall.psd.bak", "../../up"});
    const std::vector<std::string> files = {"wall.png",         "wall_1.png", "DefaultImageName.png", "DefaultImageName_1.png",
                                            "DefaultImageName_2.png", "wall_2.png", "up.png"};
    auto reused = make<kaExternalImageEntry>();
    reused->bindObject(scene.images[1]);
    ImageRun run(scratch.path(), "images");
    run.optInterface->addExternalReference(reused);
    bool configured = false;
    const std::string printed = run.run(scene, configured);
    ASSERT_TRUE(configured);

    std::string expected;
    for (size_t i = 0; i < files.size(); ++i) {
        expected += "saving image file <" + files[i] + ">\n";
        auto read = make<kaImage>();
        std::string error;
        ASSERT_TRUE(read->readFromFile((scratch / "images" / files[i]).c_str(), error)) << error;
        EXPECT_EQ(read->pixelData()[0], 10 + i) << files[i];
        kaExternalDirEntry* entry = run.optInterface->getExternalEntry(scene.images[i]);
        ASSERT_NE(kaExternalImageEntry::dynamicCast(entry), nullptr) << files[i];
        EXPECT_EQ(entry->getDirectoryName(), files[i]);
        EXPECT_EQ(entry->getEntryName(), files[i]);
    }
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(run.optInterface->getExternalEntry(scene.images[1]), reused.get()) << "an image's entry is reused";

    // Saved, the scene refers to the files in images/ and reads its pixels back from them.
    std::string error;
    ASSERT_TRUE(run.optInterface->writeScene((scratch / "scene.kab").c_str(), scene.infos, error)) << error;
    EXPECT_NE(kaTest::readText(scratch / "scene.kab").find("images/wall_1.png"), std::string::npos);
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(make<kaOptInterface>()->readScene((scratch / "scene.kab").c_str(), read, error)) << error;
    fs::remove(scratch / "images/up.png");
    EXPECT_FALSE(make<kaOptInterface>()->readScene((scratch / "scene.kab").c_str(), read, error));
    EXPECT_NE(error.find("images/up.png"), std::string::npos) << error;
}

TEST(kaImageExternal, FlagsDecideWhatTheSceneRefersTo)
{
    struct Case {
        bool forcePngUsage;
        bool forceInternalImage;
        std::vector<bool> entries;  // per image, after the run
    };
    const Case cases[] = {
        {true, false, {true, true, true}},
        {false, false, {false, false, false}},
        // Each image's removal walk comes before its own entry: only the last one keeps one.
        {true, true, {false, false, true}},
        {false, true, {false, false, false}},
    };
    for (const Case& test : cases) {
        kaTest::kaScratchDir scratch;
        ImageScene scene({"a", "b", "c"});
        ImageRun run(scratch.path(), nullptr);
        run.pass->setForcePngUsage(test.forcePngUsage);
        run.pass->setForceInternalImage(test.forceInternalImage);
        for (int i = 0; i < 2; ++i) {
            auto earlier = make<kaExternalImageEntry>();
            earlier->bindObject(scene.images[i]);
            run.optInterface->addExternalReference(earlier);
        }
        bool configured = false;
        run.run(scene, configured);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(fs::is_regular_file(scratch / (std::string(1, char('a' + i)) + ".png")));
            const bool hasEntry = run.optInterface->getExternalEntry(scene.images[i]) != nullptr;
            EXPECT_EQ(hasEntry, test.entries[i] || (i < 2 && !test.forceInternalImage))
                << test.forcePngUsage << test.forceInternalImage << " image " << i;
        }
    }
}

TEST(kaImageExternal, MissingFolderRefusesBeforeWritingAnything)
{
    kaTest::kaScratchDir scratch;
    ImageScene scene({"a"});
    ImageRun run(scratch.path(), "missing");
    bool configured = true;
    EXPECT_EQ(run.run(scene, configured), "ERROR: The directory missing does not exist\n");
    EXPECT_FALSE(configured);
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}
