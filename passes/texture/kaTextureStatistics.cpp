// kaTextureStatistics exists so that a user can see what a scene's textures cost before and
// after the texture passes: every image object is one row (each mipmap level is an image of its
// own), and the closing line sums the bytes. The rows go out through the host's output and are
// flushed one by one, so that they interleave correctly with whatever else the run prints.
#include "passes/texture/kaTextureStatistics.h"

#include "passes/kaPassRegistration.h"
#include "host/gfx/kaImage.h"
#include "passes/kaPassOutput.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace Lode::OptExtension {

using Lode::Gfx::kaImage;

kaBoolMetaField* kaTextureStatistics::k_useFullPath = nullptr;
kaIntMetaField* kaTextureStatistics::k_iTextureTotalSize = nullptr;
kaIntMetaField* kaTextureStatistics::k_iTextureCount = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaTextureStatistics)

void kaTextureStatistics::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_useFullPath, KA_FIELD(kaTextureStatistics, _useFullPath), kDefaultUseFullPath);
    fields.describe("print image names with their directories; false: the file name only");
    fields.add(&k_iTextureTotalSize, KA_FIELD(kaTextureStatistics, _iTextureTotalSize), kDefaultTextureTotalSize);
    fields.describe("bytes of pixel data of the images of the last run (set by the run)");
    fields.add(&k_iTextureCount, KA_FIELD(kaTextureStatistics, _iTextureCount), kDefaultTextureCount);
    fields.describe("number of images of the last run (set by the run)");
    fields.declare();
}

bool kaTextureStatistics::configure(int) { return true; }

kaMetaObject* kaTextureStatistics::getVisitedObjectMeta() { return kaImage::getClassMetaSafe(); }

void kaTextureStatistics::reset()
{
    _iTextureTotalSize = 0;
    _iTextureCount = 0;
}

bool kaTextureStatistics::preVisit()
{
    reset();
    kaReport(getInterface(), "%-5s %-6s %-5s %-6s %-12s %s\n", "WIDTH", "HEIGHT", "DEPTH", "FORMAT", "SIZE (bytes)",
             "NAME");
    return true;
}

bool kaTextureStatistics::visitor(kaObject* object)
{
    const kaImage* image = kaImage::dynamicCast(object);
    if (!image) return true;
    const int size = static_cast<int>(std::min<size_t>(image->getSize(), INT32_MAX));
    ++_iTextureCount;
    // The total is a 32-bit field: scenes beyond 2 GiB of pixels show the largest value it holds.
    _iTextureTotalSize = static_cast<int32_t>(std::min<int64_t>(int64_t(_iTextureTotalSize) + size, INT32_MAX));
    // An image without width has no bytes per pixel to show.
    const int depth = image->getWidth() == 0 ? 0 : image->getBytesPerRow() / image->getWidth();
    auto name = make<kaStringObj>();
    name->set(kaNameOf(image));
    if (!_useFullPath) name->removePathFromFileName();
    kaReport(getInterface(), "%5d %6d %5d %6d %12d %s\n", image->getWidth(), image->getHeight(), depth,
             static_cast<int>(image->getPixelFormat()), size, name->getString());
    return true;
}

bool kaTextureStatistics::postVisit()
{
    char total[128];
    std::snprintf(total, sizeof total, "Total Size: %d", _iTextureTotalSize);
    getInterface()->printf("%31s in %d textures\n", total, _iTextureCount);
    return true;
}

} // namespace Lode::OptExtension
