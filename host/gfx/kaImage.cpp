#include "host/gfx/kaImage.h"

#include "host/gfx/kaPixelRows.h"
#include "host/gfx/kaPngCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace Lode::Gfx {

using namespace Lode::Core;
using Layout = kaPngPixels::Layout;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaImage)

void kaImage::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaImage, _width), 0u);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaImage, _height), 0u);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaImage, _bytesPerRow), 0u);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaImage, _format), KA_GFX_TEXTURE_FORMAT_UNKNOWN,
               &getKA_GFX_TEXTURE_FORMATMetaEnum);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaImage, _order), KA_GFX_IMAGE_ORDER_RGBA,
               &getKA_GFX_IMAGE_ORDERMetaEnum);
    fields.addBlock<uint8_t>(KA_FIELD(kaImage, _pixels));
    fields.addBlock<uint8_t>(KA_FIELD(kaImage, _palette));
    fields.addBlock<uint8_t>(KA_FIELD(kaImage, _encoded));
    fields.addBlock<uint32_t>(KA_FIELD(kaImage, _encodedPixelHash));
    fields.declare();
}

namespace {

// A read image that claims more pixel bytes than the PNG reader would ever allocate is taken to
// be damaged and emptied rather than allocated.
constexpr uint64_t kaMaxImageBytes = kaPngMaxDecodedBytes;

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
        kaUnpackRow(image.pixelData() + size_t(y) * image.getBytesPerRow(), width, image.getFormat(),
                    image.getOrder(), nullptr, 0, rgba.data());
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
    case KA_GFX_TEXTURE_FORMAT_UNKNOWN:
        error = name + ": the image has no pixel format";
        return false;
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

void kaImage::setup(int width, int height, KA_GFX_TEXTURE_FORMAT format)
{
    _width = width < 0 ? 0u : static_cast<uint32_t>(width);
    _height = height < 0 ? 0u : static_cast<uint32_t>(height);
    _format = format;
    _bytesPerRow = _width * static_cast<uint32_t>(kaGetBytesPerPixel(format));
    _pixels.assign(size_t(_bytesPerRow) * _height, 0);
    _palette.clear();
    _encoded.clear();
    _encodedPixelHash.clear();
}

void kaImage::replacePixels(int width, int height, kaBlock<uint8_t> pixels)
{
    _width = static_cast<uint32_t>(std::max(width, 0));
    _height = static_cast<uint32_t>(std::max(height, 0));
    _bytesPerRow = _width * static_cast<uint32_t>(kaGetBytesPerPixel(_format));
    _pixels = std::move(pixels);
    _pixels.resize(size_t(_bytesPerRow) * _height);
}

void kaImage::setFormat(KA_GFX_TEXTURE_FORMAT format)
{
    _format = format;
    if (!isIndexed()) _palette.clear();
}

void kaImage::setPaletteEntryCount(int count)
{
    _palette.resize(size_t(std::clamp(count, 0, MaxPaletteEntryCount)) * 4);
}

kaImage* kaImage::copy() const
{
    kaImage* image = _instantiate();
    image->copyFrom(this, true);
    return image;
}

void kaImage::copyFrom(const kaImage* source, bool includeName)
{
    if (!source || source == this) return;
    _width = source->_width;
    _height = source->_height;
    _bytesPerRow = source->_bytesPerRow;
    _format = source->_format;
    _order = source->_order;
    _pixels = source->_pixels;
    _palette = source->_palette;
    _encoded = source->_encoded;
    _encodedPixelHash = source->_encodedPixelHash;
    if (includeName) _name = source->_name;
}

uint64_t kaImage::pixelHash() const
{
    const auto bytes = [](const kaBlock<uint8_t>& block) {
        return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
    };
    uint64_t hash = bytes(_pixels);
    for (uint64_t value : {uint64_t(bytes(_palette)), uint64_t(_width), uint64_t(_height), uint64_t(_bytesPerRow),
                           uint64_t(uint32_t(_format)), uint64_t(uint32_t(_order))})
        hash = (hash ^ value) * 0x100000001b3ull + (hash >> 29);
    return hash;
}

void kaImage::setEncoded(const uint8_t* bytes, size_t size)
{
    _encoded.assign(bytes, bytes + size);
    const uint64_t hash = pixelHash();
    _encodedPixelHash = {uint32_t(hash), uint32_t(hash >> 32)};
}

bool kaImage::hasCurrentEncoding() const
{
    if (_encoded.empty() || _encodedPixelHash.size() != 2) return false;
    const uint64_t hash = pixelHash();
    return _encodedPixelHash[0] == uint32_t(hash) && _encodedPixelHash[1] == uint32_t(hash >> 32);
}

const char* kaImage::getEncodedMimeType() const
{
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (_encoded.size() >= sizeof png && std::memcmp(_encoded.data(), png, sizeof png) == 0) return "image/png";
    if (_encoded.size() >= 3 && _encoded[0] == 0xff && _encoded[1] == 0xd8 && _encoded[2] == 0xff) return "image/jpeg";
    // Encodings the engine cannot decode, kept for the formats that carry them beside a PNG or JPEG.
    static const uint8_t ktx2[12] = {0xab, 'K', 'T', 'X', ' ', '2', '0', 0xbb, '\r', '\n', 0x1a, '\n'};
    if (_encoded.size() >= sizeof ktx2 && std::memcmp(_encoded.data(), ktx2, sizeof ktx2) == 0) return "image/ktx2";
    if (_encoded.size() >= 12 && std::memcmp(_encoded.data(), "RIFF", 4) == 0 && std::memcmp(_encoded.data() + 8, "WEBP", 4) == 0)
        return "image/webp";
    return nullptr;
}

bool kaImage::writeToFile(const char* path, int, int) const
{
    std::string error;
    return writeToFile(path, error);
}

bool kaImage::writeToFile(const char* path, std::string& error) const
{
    kaFileCommit files;
    return writeToFile(path, files, error) && files.commit(error);
}

bool kaImage::writeToFile(const char* path, kaFileCommit& files, std::string& error) const
{
    if (!path || !*path) {
        error = "no file name given for the image";
        return false;
    }
    kaPngPixels png;
    return toPngPixels(*this, path, png, error) && kaWritePng(path, png, files, error);
}

bool kaImage::encodePng(std::vector<uint8_t>& bytes, std::string& error) const
{
    kaPngPixels png;
    return toPngPixels(*this, std::string("image \"") + (getName() ? getName() : "") + "\"", png, error) &&
           kaWritePngToMemory(png, bytes, error);
}

bool kaImage::readFromFile(const char* path, std::string& error)
{
    if (!path || !*path) {
        error = "no file name given for the image";
        return false;
    }
    kaPngPixels png;
    if (!kaReadPng(path, png, error)) return false;
    _width = png.width;
    _height = png.height;
    _bytesPerRow = png.bytesPerRow;
    _format = formatOfLayout(png.layout);
    _order = getPlatformSpecificOrder();
    _pixels.assign(png.pixels.begin(), png.pixels.end());
    if (isIndexed())
        _palette.assign(png.palette.begin(), png.palette.end());
    else
        _palette.clear();
    _encoded.clear();
    _encodedPixelHash.clear();
    return true;
}

void kaImage::afterRead()
{
    const uint64_t rowBytes = uint64_t(_width) * kaGetBytesPerPixel(_format);
    const uint64_t stride = std::max<uint64_t>(_bytesPerRow, rowBytes);
    const uint64_t pixelBytes = stride * _height;
    if (stride > UINT32_MAX || pixelBytes > kaMaxImageBytes) {
        _width = _height = _bytesPerRow = 0;
        _pixels.clear();
    } else {
        _bytesPerRow = static_cast<uint32_t>(stride);
        _pixels.resize(pixelBytes);
    }
    if (isIndexed())
        _palette.resize(std::min(_palette.size() / 4, size_t(MaxPaletteEntryCount)) * 4);
    else
        _palette.clear();
}

} // namespace Lode::Gfx
