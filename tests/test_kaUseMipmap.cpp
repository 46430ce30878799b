// kaUseMipmap on hand-built textures: levels, names, formats, selection, configure's keys, messages.
#include "kaPassTestTools.h"
#include "kaTestTools.h"
#include "passes/texture/kaUseMipmap.h"

using namespace kaTest;
using namespace Lode::Gfx;
using Lode::OptExtension::kaUseMipmap;

namespace {
// A texture of one image of the size, its bytes counting up by 7.
kaSmartPointer<kaTextureAttr> texture(const char* imageName, int width, int height, KA_GFX_TEXTURE_FORMAT format = KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                      KA_GFX_TEXTURE_MODE mode = KA_GFX_TEXTURE_MODE_MIPMAP)
{
    auto image = make<kaImage>(imageName);
    image->setup(width, height, format);
    for (size_t i = 0; i < image->getSize(); ++i) image->pixelData()[i] = static_cast<uint8_t>(i * 7);
    auto attr = make<kaTextureAttr>();
    attr->setImage(image, 0);
    attr->setMipMapMode(mode);
    return attr;
}

// What kaUseMipmap, given fields and registry keys, prints over a geometry node with the textures.
std::string runMipmap(const std::vector<kaSmartPointer<kaTextureAttr>>& textures, const kaSettings& fields = {}, const kaSettings& keys = {})
{
    auto geometry = make<kaGeometry>();
    for (auto& attr : textures) geometry->appendAttr(attr);
    return kaPassRun("kaUseMipmap", fields, keys).run(geometry.get());
}

std::string levels(const kaTextureAttr* attr)
{
    std::string text;
    for (int i = 0; i < attr->getImageCount(); ++i) text += kaFormat("%dx%d ", attr->getImage(i)->getWidth(), attr->getImage(i)->getHeight());
    return text;
}

const char* const kConfigure = "kaUseMipmap::configure: we are here...\n";
} // namespace

// Level names keep the whole name around the level number, folders and dots included.
TEST(UseMipmap, LevelCountsSizesNamesAndMessages)
{
    const struct {
        const char* name;
        int width, height;
        const char *levels, *level1;
    } cases[] = {
        {"textures/wall.png", 256, 64, "256x64 128x32 64x16 32x8 16x4 8x2 4x1 2x1 1x1 ", "textures/wall-1.png"},
        {"wall.diffuse.png", 5, 3, "5x3 2x1 1x1 ", "wall.diffuse-1.png"},
        {"dir.v2/plain", 1, 6, "1x6 1x3 1x1 ", "dir.v2/plain-1"},
        {"C:\\art\\rock.tga", 4, 4, "4x4 2x2 1x1 ", "C:\\art\\rock-1.tga"},
        {nullptr, 2, 2, "2x2 1x1 ", "image-1"},
        {"", 2, 2, "2x2 1x1 ", "image-1"},
        {"t.png", 1, 1, "1x1 ", nullptr},
        {"t.png", 0, 5, "0x5 ", nullptr},  // no pixels: one level, the resizer is never asked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.levels);
        auto attr = texture(c.name, c.width, c.height);
        attr->setMinFilter(KA_GFX_TEXTURE_FILTER_NEAREST);
        const std::string out = runMipmap({attr});
        EXPECT_EQ(levels(attr), c.levels);
        std::string expected = std::string(kConfigure) + "Setting Filter Type to 6\n";
        for (int level = 1; level < attr->getImageCount(); ++level)
            expected += "kaUseMipmap: generating mipmap level " + std::to_string(level) + ".\n";
        EXPECT_EQ(out, expected);
        EXPECT_EQ(attr->getMipMapMode(), KA_GFX_TEXTURE_MODE_NONE);
        EXPECT_EQ(attr->getMinFilter(), KA_GFX_TEXTURE_FILTER_NEAREST) << "a tagged texture keeps its filters";
        EXPECT_STREQ(attr->getImage(0)->getName(), c.name && *c.name ? c.name : "image");
        EXPECT_STREQ(attr->getImageCount() > 1 ? attr->getImage(1)->getName() : nullptr, c.level1);
    }
}

TEST(UseMipmap, ChainsReplaceSurplusLevelsAndFormatsComeBack)
{
    // A texture with more images than its chain loses the surplus; levels come back in the
    // incoming format and the host's order, each made from the one before.
    auto attr = texture("packed.png", 4, 4, KA_GFX_TEXTURE_FORMAT_RGB_565);
    for (int level = 1; level < 6; ++level) attr->setImage(make<kaImage>(), level);
    auto blueFirst = texture("bgra.png", 2, 2);
    blueFirst->getImage(0)->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
    runMipmap({attr, blueFirst});
    ASSERT_EQ(attr->getImageCount(), 3);
    for (int level = 0; level < 3; ++level) {
        EXPECT_EQ(attr->getImage(level)->getFormat(), KA_GFX_TEXTURE_FORMAT_RGB_565) << level;
        EXPECT_EQ(blueFirst->getImage(std::min(level, 1))->getOrder(), kaImage::getPlatformSpecificOrder());
    }
}

TEST(UseMipmap, SelectionByListModeTagAndPalette)
{
    const auto rgba = KA_GFX_TEXTURE_FORMAT_RGBA_8;
    const auto tagged = KA_GFX_TEXTURE_MODE_MIPMAP, plain = KA_GFX_TEXTURE_MODE_NONE;
    const struct {
        kaSettings fields, keys;
        const char* name;
        KA_GFX_TEXTURE_FORMAT format;
        KA_GFX_TEXTURE_MODE mode;
        bool processed;
        const char* message;
    } cases[] = {
        // Defaults: exclude mode, empty list: everything tagged goes. Names are case-sensitive.
        {{}, {}, "a/wall.png", rgba, tagged, true, ""},
        {{{"_imageList", "other/wall.png"}}, {}, "a/wall.png", rgba, tagged, false, "kaUseMipmap: (a/wall.png) excluded from mipmap generation\n"},
        {{{"_imageList", "Wall.png"}}, {}, "wall.png", rgba, tagged, true, ""},
        {{}, {{"isExclude", "InClUdE"}}, "a\\wall.png", rgba, tagged, false, "kaUseMipmap: (a\\wall.png) not included in mipmap generation\n"},
        {{{"_imageList", "x/y\\wall.png"}}, {{"isExclude", "include"}}, "a\\wall.png", rgba, tagged, true, ""},
        // Include mode with an empty list still treats unnamed images.
        {{}, {{"isExclude", "include"}}, nullptr, rgba, tagged, true, ""},
        {{}, {}, "sign.png", KA_GFX_TEXTURE_FORMAT_PALETTE_8, tagged, false, "kaUseMipmap: (sign.png) skipping palettized image\n"},
        {{}, {}, "plain.png", rgba, plain, false, ""},
        {{{"mipmapTaggedOnly", "false"}}, {}, "plain.png", rgba, plain, true, ""},
    };
    for (const auto& c : cases) {
        auto attr = texture(c.name, 2, 2, c.format, c.mode);
        const std::string out = runMipmap({attr}, c.fields, c.keys);
        SCOPED_TRACE(c.name ? c.name : "(unnamed)");
        EXPECT_EQ(attr->getImageCount(), c.processed ? 2 : 1);
        EXPECT_EQ(attr->getMipMapMode(), c.processed ? KA_GFX_TEXTURE_MODE_NONE : c.mode);
        EXPECT_EQ(out.substr(0, out.find("Setting")), kConfigure + std::string(c.message));
        // Untagged textures that get chains take the pass's filters.
        const bool filtersSet = c.processed && c.mode == KA_GFX_TEXTURE_MODE_NONE;
        EXPECT_EQ(attr->getMinFilter(), filtersSet ? KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR : KA_GFX_TEXTURE_FILTER_LINEAR);
    }
}

TEST(UseMipmap, ConfigureKeysAndListFile)
{
    kaScratchDir scratch;
    // CRLF line ends, comments, blanks, bytes that are not UTF-8, a very long line, a directory.
    const std::string listPath = (scratch / "list.txt").string();
    writeText(listPath, "# comment\r\n\r\n  textures/wood.png \r\n\xff\xfe.png\n" + std::string(100000, 'x') +
                            "\nC:\\art\\skin.png");
    // A configured pass: what configure printed, whether it refused, the list read and the filter.
    auto configured = [](const kaSettings& keys) {
        kaPassRun run("kaUseMipmap", {}, keys);
        const std::string out = run.run(nullptr);
        kaUseMipmap* pass = run.as<kaUseMipmap>();
        std::vector<std::string> list;
        for (int i = 0; i < pass->getImageList()->getCount(); ++i) list.push_back(pass->getImageList()->get(i)->getString());
        return std::make_tuple(out, run.result == kaOptInterface::RunResult::Refused, list, pass->k_magFilter->get(pass),
                               pass->getIsExclude());
    };
    const std::vector<std::string> listed{"wood.png", "\xff\xfe.png", std::string(100000, 'x'), "skin.png"};
    EXPECT_EQ(configured({{"imageListFilename", listPath.c_str()}, {"magFilter", "Nearest"}}),
              std::make_tuple(std::string(kConfigure), false, listed, KA_GFX_TEXTURE_FILTER_NEAREST, true));

    // A wrong-case filter name stops configure before the later keys are read.
    EXPECT_EQ(configured({{"minFilter", "linear"}, {"magFilter", "Nearest"}, {"isExclude", "include"}, {"imageListFilename", listPath.c_str()}}),
              std::make_tuple(std::string(kConfigure) + "kaUseMipmap: Format linear not recognized\n", true,
                              std::vector<std::string>(), KA_GFX_TEXTURE_FILTER_LINEAR, true));

    // A file that cannot be opened is passed over; an unknown isExclude value changes nothing.
    EXPECT_EQ(configured({{"imageListFilename", (scratch / "absent.txt").c_str()}, {"isExclude", "maybe"}}),
              std::make_tuple(std::string(kConfigure), false, std::vector<std::string>(), KA_GFX_TEXTURE_FILTER_LINEAR, true));
}
