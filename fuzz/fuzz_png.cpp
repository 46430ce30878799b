// Fuzz target of the PNG reader: the input is a whole PNG file held in memory. A decoded image
// must be as large as its header says, and every palette index must name a palette entry.
#include "host/io/kaPngCodec.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lode::Gfx::kaPngPixels pixels;
    std::string error;
    if (!Lode::Gfx::kaReadPngFromMemory(data, size, pixels, error)) return 0;
    const uint64_t expected =
        uint64_t(pixels.width) * pixels.height * Lode::Gfx::kaPngChannelCount(pixels.layout);
    if (pixels.pixels.size() != expected) __builtin_trap();
    if (pixels.layout == Lode::Gfx::kaPngPixels::Layout::Indexed8)
        for (uint8_t index : pixels.pixels)
            if (index * 4u >= pixels.palette.size()) __builtin_trap();
    return 0;
}
