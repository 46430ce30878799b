// PNG reading and writing over plain pixel buffers. Kept free of the engine's image types so
// it can be tested on its own and wired to whatever image class needs it.
#pragma once

#include "host/core/kaFileCommit.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Lode::Gfx {

struct kaPngPixels {
    enum class Layout { Grey8, GreyAlpha8, RGB8, RGBA8, Indexed8 };
    Layout layout = Layout::RGBA8;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerRow = 0;
    // Rows top to bottom, bytesPerRow each. The reader always packs rows tightly (width * channels).
    std::vector<uint8_t> pixels;
    // Indexed8 only: RGBA quadruples, up to 256 entries. Every index in `pixels` is below the entry count.
    std::vector<uint8_t> palette;
};

// Largest width or height accepted either way.
constexpr uint32_t kaPngMaxDimension = 65535;
// Largest decoded pixel buffer the reader will allocate.
constexpr uint64_t kaPngMaxDecodedBytes = uint64_t(1) << 30;

// Bytes per pixel of a layout (1 for Indexed8: one index).
uint32_t kaPngChannelCount(kaPngPixels::Layout layout);

// Readers: palettised images stay palettised with one index per byte; grey below 8 bits is widened,
// 16-bit channels are narrowed to 8, and a tRNS colour key on grey or RGB becomes an alpha channel.
// On failure `out` is left unchanged and `error` names the source and says why.
bool kaReadPng(const std::string& path, kaPngPixels& out, std::string& error);
bool kaReadPngFromMemory(const uint8_t* data, size_t size, kaPngPixels& out, std::string& error);
// Reads the image straight into memory the caller provides, with 8-bit channels as stb_image
// decodes them: palettes expanded to RGB, or RGBA when the file has a transparency chunk; a
// colour key on grey or RGB an alpha channel; 16-bit samples cut to their high byte. Once the
// header is read, destination gets the layout and size (no pixels) and returns room for
// bytesPerRow * height bytes, or null to stop. On failure what was written there is undefined.
bool kaReadPngExpandedFromMemory(const uint8_t* data, size_t size,
                                 const std::function<uint8_t*(const kaPngPixels& header)>& destination,
                                 std::string& error);
// What kaReadPngExpandedFromMemory hands destination, from the chunks before the image data alone.
bool kaReadPngExpandedHeaderFromMemory(const uint8_t* data, size_t size, kaPngPixels& out, std::string& error);

// Writers produce the same bytes for the same pixels (no time stamp). Indexed8 gets a tRNS chunk only
// when some palette alpha is below 255. kaWritePng replaces `path` only once the whole file is written.
bool kaWritePng(const std::string& path, const kaPngPixels& in, std::string& error);
// As kaWritePng, the file joining files: it appears only when files is committed.
bool kaWritePng(const std::string& path, const kaPngPixels& in, Lode::Core::kaFileCommit& files, std::string& error);
bool kaWritePngToMemory(const kaPngPixels& in, std::vector<uint8_t>& out, std::string& error);

} // namespace Lode::Gfx
