// Images: pixel rows (top to bottom) of one pixel format, plus an RGBA palette for the
// palettised format; host/io/kaImageFiles.h writes them to PNG files and reads them from them.
// An image decoded from a file keeps the file's encoded bytes, so that it can be written again as
// it came (a JPEG stays the same JPEG) as long as its pixels are the ones decoded from them.
#pragma once

#include "host/core/kaBlock.h"
#include "host/core/kaNamedObject.h"
#include "host/gfx/kaGfxEnums.h"

#include <cstddef>
#include <cstdint>

namespace Lode::Gfx {

class kaImage : public Lode::Core::kaNamedObject {
    KA_DECLARE_CLASS(kaImage, Lode::Core::kaNamedObject)
public:
    static constexpr int MaxPaletteEntryCount = 256;
    // The most pixel bytes an image holds: a read image that claims more is taken to be damaged
    // and emptied rather than allocated.
    static constexpr uint64_t MaxPixelBytes = uint64_t(1) << 30;

    int getWidth() const { return static_cast<int>(_width); }
    int getHeight() const { return static_cast<int>(_height); }
    // Bytes from the start of one row to the start of the next.
    int getBytesPerRow() const { return static_cast<int>(_bytesPerRow); }
    KA_GFX_TEXTURE_FORMAT getFormat() const { return _format; }
    // The name the texture passes use for the format.
    KA_GFX_TEXTURE_FORMAT getPixelFormat() const { return _format; }
    // Channel order of the RGB8 and RGBA8 formats.
    KA_GFX_IMAGE_ORDER getOrder() const { return _order; }
    void setOrder(KA_GFX_IMAGE_ORDER order) { _order = order; }
    // The channel order this host keeps images in.
    static KA_GFX_IMAGE_ORDER getPlatformSpecificOrder() { return KA_GFX_IMAGE_ORDER_RGBA; }
    // Bytes of pixel data (bytes per row times height).
    size_t getSize() const { return _pixels.size(); }
    bool isIndexed() const { return _format == KA_GFX_TEXTURE_FORMAT_PALETTE_8; }

    // Sizes the pixels for the dimensions and format with tightly packed rows, all zero, and
    // keeps the order. The palette is emptied; a palettised image sizes it with
    // setPaletteEntryCount. Negative dimensions count as 0.
    void setup(int width, int height, KA_GFX_TEXTURE_FORMAT format);

    // Takes new dimensions and tightly packed pixel rows of the image's format; the format,
    // order and palette stay.
    void replacePixels(int width, int height, Lode::Core::kaBlock<uint8_t> pixels);
    // Relabels the pixels (replacePixels gives them the new layout); leaving the palettised
    // format empties the palette.
    void setFormat(KA_GFX_TEXTURE_FORMAT format);

    uint8_t* pixelData() { return _pixels.data(); }
    const uint8_t* pixelData() const { return _pixels.data(); }
    // Palette entries are RGBA quadruples.
    int getPaletteEntryCount() const { return static_cast<int>(_palette.size() / 4); }
    // Resizes the palette (0 to 256 entries); new entries are zero.
    void setPaletteEntryCount(int count);
    uint8_t* paletteData() { return _palette.data(); }
    const uint8_t* paletteData() const { return _palette.data(); }

    // A new image with the same name, dimensions, format, order, pixels and palette; the
    // caller gets one reference.
    kaImage* copy() const;
    // Makes this image a copy of source: dimensions, format, order, pixels and palette, and
    // the name too when includeName is true.
    void copyFrom(const kaImage* source, bool includeName);

    // Keeps bytes as the encoding of the present pixels (a PNG or JPEG file's contents).
    void setEncoded(const uint8_t* bytes, size_t size);
    void setEncoded(Lode::Core::kaBlock<uint8_t> bytes);
    // True when the image keeps an encoding and its pixels, palette, dimensions and format are
    // still those it was made from: a pass that changed any of them makes this false.
    bool hasCurrentEncoding() const;
    const uint8_t* getEncodedData() const { return _encoded.data(); }
    size_t getEncodedSize() const { return _encoded.size(); }
    // "image/png", "image/jpeg", "image/ktx2" or "image/webp" by the encoded bytes' signature;
    // null for anything else.
    const char* getEncodedMimeType() const;

    // A read image whose pixel block does not match its dimensions and format gets consistent
    // rows and a block of the right size, so that getSize and pixelData agree with the rows.
    void afterRead() override;

protected:
    kaImage() = default;

    uint32_t _width = 0;
    uint32_t _height = 0;
    uint32_t _bytesPerRow = 0;
    KA_GFX_TEXTURE_FORMAT _format = KA_GFX_TEXTURE_FORMAT_UNKNOWN;
    KA_GFX_IMAGE_ORDER _order = KA_GFX_IMAGE_ORDER_RGBA;
    Lode::Core::kaBlock<uint8_t> _pixels;
    Lode::Core::kaBlock<uint8_t> _palette;
    Lode::Core::kaBlock<uint8_t> _encoded;
    // The digest of the pixels the encoding stands for, as two 32-bit halves.
    Lode::Core::kaBlock<uint32_t> _encodedPixelHash;

private:
    uint64_t pixelHash() const;
};

} // namespace Lode::Gfx
