#include "host/gfx/kaImage.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace Lode::Gfx {

using namespace Lode::Core;

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

void kaImage::setEncoded(const uint8_t* bytes, size_t size) { setEncoded(kaBlock<uint8_t>(bytes, bytes + size)); }

void kaImage::setEncoded(kaBlock<uint8_t> bytes)
{
    _encoded = std::move(bytes);
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

void kaImage::afterRead()
{
    const uint64_t rowBytes = uint64_t(_width) * kaGetBytesPerPixel(_format);
    const uint64_t stride = std::max<uint64_t>(_bytesPerRow, rowBytes);
    const uint64_t pixelBytes = stride * _height;
    if (stride > UINT32_MAX || pixelBytes > MaxPixelBytes) {
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
