// kaUseMipmap on hand-built textures: level counts, sizes and names, the image list and its
// file, configure's keys, the messages, and a second run.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "kaTestTools.h"
#include "passes/texture/kaUseMipmap.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaTextureAttr;
using Lode::OptExtension::kaUseMipmap;
using Settings = std::vector<std::pair<const char*, const char*>>;

namespace {

kaSmartPointer<kaTextureAttr> texture(const char* imageName, int width, int height,
                                      KA_GFX_TEXTURE_FORMAT format = KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                      KA_GFX_TEXTURE_MODE mode = KA_GFX_TEXTURE_MODE_MIPMAP)
{
    auto image = make<kaImage>();
    image->setup(width, height, format);
    for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = static_cast<uint8_t>(i * 7);
    if (imageName) image->setName(imageName);
    auto attr = make<kaTextureAttr>();
    attr->setImage(image, 0);
    attr->setMipMapMode(mode);
    return attr;
}

// Runs kaUseMipmap over a geometry node holding the textures; fields are set by name and the
// other settings go to the registry section. Returns what it printed.
std::string runMipmap(const std::vector<kaSmartPointer<kaTextureAttr>>& textures, const Settings& fields = {},
                      const Settings& keys = {}, bool* applied = nullptr)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto host = make<kaOptInterface>();
    host->setRegistry(make<kaRegistry>());
    const int section = host->getRegistry()->addSection();
    for (auto& [key, value] : keys) host->getRegistry()->setValue(section, key, value);
    auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaUseMipmap"));
    for (auto& [name, value] : fields) {
        std::string error;
        EXPECT_TRUE(pass->getMetaField(name)->setFromText(pass, value, error)) << error;
    }
    kaSmartPointer<kaNode> root = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    for (auto& attr : textures) static_cast<kaGeometry*>(root.get())->appendAttr(attr);
    auto infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    testing::internal::CaptureStdout();
    auto result = host->runPass(pass, section, root, infos);
    if (applied) *applied = result == kaOptInterface::RunResult::Applied;
    return testing::internal::GetCapturedStdout();
}

std::string levels(const kaTextureAttr* attr)
{
    std::string text;
    for (int level = 0; level < attr->getImageCount(); ++level) {
        const kaImage* image = attr->getImage(level);
        text += std::to_string(image->getWidth()) + "x" + std::to_string(image->getHeight()) + " ";
    }
    return text;
}

const char* const kConfigure = "kaUseMipmap::configure: we are here...\n";

} // namespace

TEST(UseMipmap, LevelCountsSizesAndMessages)
{
    struct Case {
        int width, height;
        const char* levels;
    };
    const Case cases[] = {
        {256, 64, "256x64 128x32 64x16 32x8 16x4 8x2 4x1 2x1 1x1 "},
        {1, 1, "1x1 "},
        {4, 1, "4x1 2x1 1x1 "},
        {8, 2, "8x2 4x1 2x1 1x1 "},
        {5, 3, "5x3 2x1 1x1 "},
        {1, 6, "1x6 1x3 1x1 "},
        {0, 5, "0x5 "},  // no pixels: one level, the resizer is never asked
    };
    for (const Case& c : cases) {
        auto attr = texture("t.png", c.width, c.height);
        attr->setMinFilter(KA_GFX_TEXTURE_FILTER_NEAREST);
        const std::string out = runMipmap({attr});
        EXPECT_EQ(levels(attr), c.levels) << c.width << "x" << c.height;
        std::string expected = std::string(kConfigure) + "Setting Filter Type to 6\n";
        for (int level = 1; level < attr->getImageCount(); ++level)
            expected += "kaUseMipmap: generating mipmap level " + std::to_string(level) + ".\n";
        EXPECT_EQ(out, expected);
        EXPECT_EQ(attr->getMipMapMode(), KA_GFX_TEXTURE_MODE_NONE);
        EXPECT_EQ(attr->getMinFilter(), KA_GFX_TEXTURE_FILTER_NEAREST) << "a tagged texture keeps its filters";
    }
}

TEST(UseMipmap, LevelNamesKeepPathAndExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"textures/wall.png", "textures/wall-1.png"}, {"wall.diffuse.png", "wall.diffuse-1.png"},
        {"dir.v2/plain", "dir.v2/plain-1"},           {"C:\\art\\rock.tga", "C:\\art\\rock-1.tga"},
        {nullptr, "image-1"},                         {"", "image-1"},
    };
    for (auto [name, expected] : cases) {
        auto attr = texture(name, 4, 4);
        runMipmap({attr});
        EXPECT_STREQ(attr->getImage(0)->getName(), name && *name ? name : "image");
        EXPECT_STREQ(attr->getImage(1)->getName(), expected);
    }
}

TEST(UseMipmap, ChainReplacesSurplusLevelsAndFormatsComeBack)
{
    // A texture with more images than its chain loses the surplus; levels come back in the
    // incoming format and the host's order, each made from the one before.
    auto attr = texture("packed.png", 4, 4, KA_GFX_TEXTURE_FORMAT_RGB_565);
    for (int level = 1; level < 6; ++level) attr->setImage(kaSmartPointer<kaImage>::adopt(kaImage::_instantiate()), level);
    auto blueFirst = texture("bgra.png", 2, 2);
    blueFirst->getImage(0)->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
    runMipmap({attr, blueFirst});
    ASSERT_EQ(attr->getImageCount(), 3);
    for (int level = 0; level < 3; ++level)
        EXPECT_EQ(attr->getImage(level)->getFormat(), KA_GFX_TEXTURE_FORMAT_RGB_565) << level;
    for (int level = 0; level < 2; ++level)
        EXPECT_EQ(blueFirst->getImage(level)->getOrder(), kaImage::getPlatformSpecificOrder());
}

TEST(UseMipmap, SelectionByListModeTagAndPalette)
{
    struct Case {
        Settings fields, keys;
        const char* name;
        KA_GFX_TEXTURE_FORMAT format;
        KA_GFX_TEXTURE_MODE mode;
        bool processed;
        const char* message;
    };
    const Case cases[] = {
        // Defaults: exclude mode, empty list: everything tagged goes.
        {{}, {}, "a/wall.png", KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_MIPMAP, true, ""},
        {{{"_imageList", "other/wall.png"}}, {}, "a/wall.png", KA_GFX_TEXTURE_FORMAT_RGBA_8,
         KA_GFX_TEXTURE_MODE_MIPMAP, false, "kaUseMipmap: (a/wall.png) excluded from mipmap generation\n"},
        {{{"_imageList", "Wall.png"}}, {}, "wall.png", KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_MIPMAP, true,
         ""},  // case-sensitive
        {{}, {{"isExclude", "InClUdE"}}, "a\\wall.png", KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_MIPMAP,
         false, "kaUseMipmap: (a\\wall.png) not included in mipmap generation\n"},
        {{{"_imageList", "x/y\\wall.png"}}, {{"isExclude", "include"}}, "a\\wall.png", KA_GFX_TEXTURE_FORMAT_RGBA_8,
         KA_GFX_TEXTURE_MODE_MIPMAP, true, ""},
        // Include mode with an empty list still treats unnamed images.
        {{}, {{"isExclude", "include"}}, nullptr, KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_MIPMAP, true, ""},
        {{}, {}, "sign.png", KA_GFX_TEXTURE_FORMAT_PALETTE_8, KA_GFX_TEXTURE_MODE_MIPMAP, false,
         "kaUseMipmap: (sign.png) skipping palettized image\n"},
        {{}, {}, "plain.png", KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_NONE, false, ""},
        {{{"mipmapTaggedOnly", "false"}}, {}, "plain.png", KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_TEXTURE_MODE_NONE,
         true, ""},
    };
    for (const Case& c : cases) {
        auto attr = texture(c.name, 2, 2, c.format, c.mode);
        const std::string out = runMipmap({attr}, c.fields, c.keys);
        SCOPED_TRACE(c.name ? c.name : "(unnamed)");
        EXPECT_EQ(attr->getImageCount(), c.processed ? 2 : 1);
        EXPECT_EQ(attr->getMipMapMode(), c.processed ? KA_GFX_TEXTURE_MODE_NONE : c.mode);
        EXPECT_EQ(out.substr(0, out.find("Setting")), kConfigure + std::string(c.message));
        // Untagged textures that get chains take the pass's filters.
        const bool filtersSet = c.processed && c.mode == KA_GFX_TEXTURE_MODE_NONE;
        EXPECT_EQ(attr->getMinFilter(), filtersSet ? KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR : KA_GFX_TEXTURE_FILTER_LINEAR);
        if (!c.name) {
            EXPECT_STREQ(attr->getImage(0)->getName(), "image");
        }
    }
}

TEST(UseMipmap, ConfigureKeysAndListFile)
{
    kaTest::kaScratchDir scratch;
    // CRLF line ends, comments, blanks, bytes that are not UTF-8, a very long line, a directory.
    const std::string listPath = (scratch / "list.txt").string();
    kaTest::writeText(listPath, "# comment\r\n\r\n  textures/wood.png \r\n\xff\xfe.png\n" + std::string(100000, 'x') +
                                    "\nC:\\art\\skin.png");

    Lode::kaOptExtensionLibrary_arkRegister();
    auto host = make<kaOptInterface>();
    host->setRegistry(make<kaRegistry>());
    // A pass configured with the keys: the pass, configure's result and what it printed.
    auto configured = [&](const Settings& keys) {
        const int section = host->getRegistry()->addSection();
        for (auto& [key, value] : keys) host->getRegistry()->setValue(section, key, value);
        auto pass = kaSmartPointer<kaUseMipmap>::adopt(static_cast<kaUseMipmap*>(host->createOptBase("kaUseMipmap")));
        testing::internal::CaptureStdout();
        const bool ok = pass->configure(section);
        return std::make_tuple(pass, ok, testing::internal::GetCapturedStdout());
    };
    auto [read, readOk, readOut] = configured({{"imageListFilename", listPath.c_str()}, {"magFilter", "Nearest"}});
    EXPECT_TRUE(readOk);
    EXPECT_EQ(readOut, kConfigure);
    ASSERT_EQ(read->getImageList()->getCount(), 4);
    EXPECT_STREQ(read->getImageList()->get(0)->getString(), "wood.png");
    EXPECT_STREQ(read->getImageList()->get(1)->getString(), "\xff\xfe.png");
    EXPECT_EQ(read->getImageList()->get(2)->length(), 100000);
    EXPECT_STREQ(read->getImageList()->get(3)->getString(), "skin.png");
    EXPECT_EQ(read->k_magFilter->get(read.get()), KA_GFX_TEXTURE_FILTER_NEAREST);

    // A wrong-case filter name stops configure before the later keys are read.
    auto [failed, failedOk, failedOut] =
        configured({{"minFilter", "linear"}, {"magFilter", "Nearest"}, {"isExclude", "include"}, {"imageListFilename", listPath.c_str()}});
    EXPECT_FALSE(failedOk);
    EXPECT_EQ(failedOut, std::string(kConfigure) + "kaUseMipmap: Format linear not recognized\n");
    EXPECT_EQ(failed->k_magFilter->get(failed.get()), KA_GFX_TEXTURE_FILTER_LINEAR);
    EXPECT_TRUE(failed->getIsExclude());
    EXPECT_EQ(failed->getImageList()->getCount(), 0);

    // A file that cannot be opened is passed over; an unknown isExclude value changes nothing.
    auto [missing, missingOk, missingOut] =
        configured({{"imageListFilename", (scratch / "absent.txt").string().c_str()}, {"isExclude", "maybe"}});
    EXPECT_TRUE(missingOk);
    EXPECT_EQ(missingOut, kConfigure);
    EXPECT_TRUE(missing->getIsExclude());
    EXPECT_EQ(missing->getImageList()->getCount(), 0);
}

TEST(UseMipmap, SecondRunRebuildsOnlyWhenUntaggedTexturesAreTreated)
{
    auto attr = texture("wall.png", 8, 8);
    runMipmap({attr});
    kaSmartPointer<kaImage> firstLevel1 = attr->getImage(1);
    EXPECT_EQ(runMipmap({attr}), kConfigure) << "mode 0 now: nothing to do";
    EXPECT_EQ(attr->getImage(1), firstLevel1.get());

    runMipmap({attr}, {{"mipmapTaggedOnly", "false"}});
    EXPECT_EQ(levels(attr), "8x8 4x4 2x2 1x1 ");
    EXPECT_NE(attr->getImage(1), firstLevel1.get());
    EXPECT_STREQ(attr->getImage(3)->getName(), "wall-3.png");
    EXPECT_EQ(attr->getMinFilter(), KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR);
}
