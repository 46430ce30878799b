// kaTextureStatistics: the report's layout, its totals and names, on hand-built scenes.
#include "kaPassTestTools.h"

using namespace kaTest;
using namespace Lode::Gfx;

namespace {
const char* const kHeader = "WIDTH HEIGHT DEPTH FORMAT SIZE (bytes) NAME\n";

// The report over a geometry node with one texture whose levels are images of (name, width, height, format).
std::string report(const std::vector<std::tuple<const char*, int, int, KA_GFX_TEXTURE_FORMAT>>& images,
                   const kaSettings& fields = {})
{
    auto geometry = make<kaGeometry>();
    auto texture = make<kaTextureAttr>();
    for (auto& [name, width, height, format] : images) {
        auto image = make<kaImage>(name);
        image->setup(width, height, format);
        texture->setImage(image, texture->getImageCount());
    }
    geometry->appendAttr(texture);
    return runPass("kaTextureStatistics", geometry.get(), fields);
}
} // namespace

TEST(TextureStatistics, ReportLayoutNamesAndTotals)
{
    EXPECT_EQ(report({{"textures/wall.png", 256, 128, KA_GFX_TEXTURE_FORMAT_RGBA_8},
                      {"C:\\art\\grass.tga", 64, 64, KA_GFX_TEXTURE_FORMAT_RGB_8},
                      {nullptr, 0, 3, KA_GFX_TEXTURE_FORMAT_RGB_565}}),
              std::string(kHeader) +
                  "  256    128     4      7       131072 wall.png\n"
                  "   64     64     3      5        12288 grass.tga\n"
                  "    0      3     0      4            0 \n"
                  "             Total Size: 143360 in 3 textures\n");
    EXPECT_NE(report({{"textures/wall.png", 1, 1, KA_GFX_TEXTURE_FORMAT_GREY_8}}, {{"_useFullPath", "true"}})
                  .find(" textures/wall.png\n"),
              std::string::npos);
    // A scene without images: the header and a zero total.
    EXPECT_EQ(report({}), std::string(kHeader) + "                  Total Size: 0 in 0 textures\n");
}
