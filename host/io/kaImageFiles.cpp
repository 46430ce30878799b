#include "host/io/kaImageFiles.h"

#include "host/gfx/kaPixelRows.h"
#include "host/io/kaPngCodec.h"

#include <algorithm>

namespace Lode::Gfx {

using namespace Lode::Core;
using Layout = kaPngPixels::Layout;

// The PNG reader makes no image larger than a read image may be (kaImage::afterRead).
static_assert(kaPngMaxDecodedBytes <= kaImage::MaxPixelBytes);

namespace {

// Copies the rows of an image into PNG pixels of the given layout (RGB8 or RGBA8) through
// red-first RGBA: the packed 16-bit formats are widened and blue-first colour turned red first.
void convertRows(const kaImage& image, kaPngPixels& out)
{
    const uint32_t channels = kaPngChannelCount(out.layout);
    const int width = image.getWidth();
    out.bytesPerRow = uint32_t(width) * channels;
    out.pixels.resize(size_t(out.bytesPerRow) * image.getHeight());
    std::vector<uint8_t> rgba(size_t(width) * 4);
    for (int y = 0; y < image.getHeight(); ++y) {
        kaUnpackRow(image.pixelData() + size_t(y) * image.getBytesPerRow(), width, image.getFormat(), image.getOrder(),
                    nullptr, 0, rgba.data());
        uint8_t* row = out.pixels.data() + size_t(y) * out.bytesPerRow;
        for (int x = 0; x < width; ++x)
            for (uint32_t c = 0; c < channels; ++c) row[size_t(x) * channels + c] = rgba[size_t(x) * 4 + c];
    }
}

KA_GFX_TEXTURE_FORMAT formatOfLayout(Layout layout)
{
    switch (layout) {
    case Layout::Grey8: return KA_GFX_TEXTURE_FORMAT_GREY_8;
    case Layout::GreyAlpha8: return KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8;
    case Layout::RGB8: return KA_GFX_TEXTURE_FORMAT_RGB_8;
    case Layout::RGBA8: return KA_GFX_TEXTURE_FORMAT_RGBA_8;
    case Layout::Indexed8: return KA_GFX_TEXTURE_FORMAT_PALETTE_8;
    }
    return KA_GFX_TEXTURE_FORMAT_UNKNOWN;
}

// The image's pixels as the PNG codec takes them; name stands for the image in messages.
bool toPngPixels(const kaImage& image, const std::string& name, kaPngPixels& png, std::string& error)
{
    const uint32_t width = static_cast<uint32_t>(image.getWidth());
    const uint32_t height = static_cast<uint32_t>(image.getHeight());
    const uint32_t bytesPerRow = static_cast<uint32_t>(image.getBytesPerRow());
    const uint8_t* pixels = image.pixelData();
    const bool blueFirst = image.getOrder() == KA_GFX_IMAGE_ORDER_BGRA;
    png.width = width;
    png.height = height;
    switch (image.getFormat()) {
    case KA_GFX_TEXTURE_FORMAT_UNKNOWN: error = name + ": the image has no pixel format"; return false;
    case KA_GFX_TEXTURE_FORMAT_GREY_8:
    case KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8:
    case KA_GFX_TEXTURE_FORMAT_PALETTE_8:
        png.layout = image.getFormat() == KA_GFX_TEXTURE_FORMAT_GREY_8         ? Layout::Grey8
                     : image.getFormat() == KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8 ? Layout::GreyAlpha8
                                                                               : Layout::Indexed8;
        png.bytesPerRow = bytesPerRow;
        png.pixels.assign(pixels, pixels + image.getSize());
        if (image.isIndexed())
            png.palette.assign(image.paletteData(), image.paletteData() + 4 * size_t(image.getPaletteEntryCount()));
        break;
    case KA_GFX_TEXTURE_FORMAT_RGB_8:
    case KA_GFX_TEXTURE_FORMAT_RGBA_8:
        png.layout = image.getFormat() == KA_GFX_TEXTURE_FORMAT_RGB_8 ? Layout::RGB8 : Layout::RGBA8;
        if (!blueFirst) {
            png.bytesPerRow = bytesPerRow;
            png.pixels.assign(pixels, pixels + image.getSize());
            break;
        }
        convertRows(image, png);
        break;
    case KA_GFX_TEXTURE_FORMAT_RGB_565:
        png.layout = Layout::RGB8;
        convertRows(image, png);
        break;
    case KA_GFX_TEXTURE_FORMAT_RGBA_4444:
    case KA_GFX_TEXTURE_FORMAT_RGBA_5551:
        png.layout = Layout::RGBA8;
        convertRows(image, png);
        break;
    }
    return true;
}

} // namespace

bool kaWritePngImage(const kaImage& image, const std::string& path, std::string& error)
{
    kaFileCommit files;
    return kaWritePngImage(image, path, files, error) && files.commit(error);
}

bool kaWritePngImage(const kaImage& image, const std::string& path, kaFileCommit& files, std::string& error)
{
    if (path.empty()) {
        error = "no file name given for the image";
        return false;
    }
    kaPngPixels png;
    return toPngPixels(image, path, png, error) && kaWritePng(path, png, files, error);
}

bool kaEncodePngImage(const kaImage& image, std::vector<uint8_t>& bytes, std::string& error)
{
    kaPngPixels png;
    return toPngPixels(image, std::string("image \"") + (image.getName() ? image.getName() : "") + "\"", png, error) &&
           kaWritePngToMemory(png, bytes, error);
}

bool kaReadPngImage(kaImage& image, const std::string& path, std::string& error)
{
    if (path.empty()) {
        error = "no file name given for the image";
        return false;
    }
    kaPngPixels png;
    if (!kaReadPng(path, png, error)) return false;
    // setup drops the palette and the kept encoding; the reader packs rows as the image does.
    image.setup(0, 0, formatOfLayout(png.layout));
    image.replacePixels(int(png.width), int(png.height), kaBlock<uint8_t>(png.pixels.begin(), png.pixels.end()));
    image.setOrder(kaImage::getPlatformSpecificOrder());
    if (image.isIndexed()) {
        image.setPaletteEntryCount(int(png.palette.size() / 4));
        std::copy(png.palette.begin(), png.palette.end(), image.paletteData());
    }
    return true;
}

} // namespace Lode::Gfx
