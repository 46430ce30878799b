// The converter behind the mipmap pass's working format: every pixel format goes through one
// row of 8-bit RGBA, so that any pair of formats converts with two row functions.
#include "host/opt/kaConvertImage.h"

#include "host/gfx/kaPixelRows.h"

#include <utility>
#include <vector>

namespace Lode::Opt {

using namespace Lode::Gfx;

kaBoolMetaField* kaConvertImage::k_convertIfSmaller = nullptr;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaConvertImage)

void kaConvertImage::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_convertIfSmaller, KA_FIELD(kaConvertImage, _convertIfSmaller), kDefaultConvertIfSmaller);
    fields.describe("convert only when the new format takes fewer bytes per pixel; otherwise always");
    fields.declare();
}

bool kaConvertImage::convertImage(kaImage* image, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order) const
{
    if (!image) return false;
    if (format == KA_GFX_TEXTURE_FORMAT_PALETTE_8 || kaGetBytesPerPixel(format) == 0) return false;
    if (order != KA_GFX_IMAGE_ORDER_RGBA && order != KA_GFX_IMAGE_ORDER_BGRA) return false;
    const KA_GFX_TEXTURE_FORMAT source = image->getFormat();
    if (source == KA_GFX_TEXTURE_FORMAT_UNKNOWN) return false;
    if (_convertIfSmaller && kaGetBytesPerPixel(format) >= kaGetBytesPerPixel(source)) return true;
    const bool orderMatters = source == KA_GFX_TEXTURE_FORMAT_RGB_8 || source == KA_GFX_TEXTURE_FORMAT_RGBA_8;
    if (source == format && (!orderMatters || image->getOrder() == order)) {
        image->setOrder(order);
        return true;
    }
    const int width = image->getWidth(), height = image->getHeight();
    const size_t bytesPerRow = size_t(width) * kaGetBytesPerPixel(format);
    Lode::Core::kaBlock<uint8_t> pixels(bytesPerRow * height);
    std::vector<uint8_t> rgba(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        kaUnpackRow(image->pixelData() + size_t(y) * image->getBytesPerRow(), width, source, image->getOrder(),
                    image->paletteData(), image->getPaletteEntryCount(), rgba.data());
        kaPackRow(rgba.data(), width, format, order, pixels.data() + size_t(y) * bytesPerRow);
    }
    image->setFormat(format);
    image->setOrder(order);
    image->replacePixels(width, height, std::move(pixels));
    return true;
}

} // namespace Lode::Opt
