// kaTextureStatistics: the report's layout, its totals and names, on hand-built scenes.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "passes/texture/kaTextureStatistics.h"

#include <gtest/gtest.h>

using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaTextureAttr;
using Lode::OptExtension::kaTextureStatistics;

namespace {

const char* const kHeader = "WIDTH HEIGHT DEPTH FORMAT SIZE (bytes) NAME\n";

kaSmartPointer<kaImage> image(const char* name, int width, int height, KA_GFX_TEXTURE_FORMAT format)
{
    auto made = kaSmartPointer<kaImage>::adopt(kaImage::_instantiate());
    made->setup(width, height, format);
    if (name) made->setName(name);
    return made;
}

// Runs the report over a geometry node with one texture holding the images as its levels.
std::string report(const std::vector<kaSmartPointer<kaImage>>& images, bool useFullPath,
                   kaSmartPointer<kaOptBase>* keep = nullptr)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto host = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    host->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaTextureStatistics"));
    static_cast<kaTextureStatistics*>(pass.get())->setUseFullPath(useFullPath);
    auto geometry = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    auto texture = kaSmartPointer<kaTextureAttr>::adopt(kaTextureAttr::_instantiate());
    for (size_t level = 0; level < images.size(); ++level) texture->setImage(images[level], static_cast<int>(level));
    geometry->appendAttr(texture);
    kaSmartPointer<kaNode> root = geometry.get();
    auto infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    testing::internal::CaptureStdout();
    host->runPass(pass, host->getRegistry()->addSection(), root, infos);
    if (keep) *keep = pass;
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(TextureStatistics, ReportLayoutNamesAndTotals)
{
    kaSmartPointer<kaOptBase> pass;
    const std::string out = report({image("textures/wall.png", 256, 128, KA_GFX_TEXTURE_FORMAT_RGBA_8),
                                    image("C:\\art\\grass.tga", 64, 64, KA_GFX_TEXTURE_FORMAT_RGB_8),
                                    image(nullptr, 0, 3, KA_GFX_TEXTURE_FORMAT_RGB_565)},
                                   false, &pass);
    EXPECT_EQ(out, std::string(kHeader) +
                       "  256    128     4      7       131072 wall.png\n"
                       "   64     64     3      5        12288 grass.tga\n"
                       "    0      3     0      4            0 \n"
                       "             Total Size: 143360 in 3 textures\n");
    auto* statistics = static_cast<kaTextureStatistics*>(pass.get());
    EXPECT_EQ(statistics->getTextureTotalSize(), 143360);
    EXPECT_EQ(statistics->getTextureCount(), 3);

    EXPECT_NE(report({image("textures/wall.png", 1, 1, KA_GFX_TEXTURE_FORMAT_GREY_8)}, true).find(" textures/wall.png\n"),
              std::string::npos);
    // A scene without images: the header and a zero total.
    EXPECT_EQ(report({}, false, &pass), std::string(kHeader) + "                  Total Size: 0 in 0 textures\n");
    EXPECT_EQ(static_cast<kaTextureStatistics*>(pass.get())->getTextureCount(), 0);
}
