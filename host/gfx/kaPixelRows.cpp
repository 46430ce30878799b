#include "host/gfx/kaPixelRows.h"

#include <cstring>

namespace Lode::Gfx {

namespace {

// Bit replication: the widest value of a field maps to 255 and narrowing with rounding
// (narrow below) gives the field back exactly.
inline uint8_t widen(uint32_t value, int bits)
{
    switch (bits) {
    case 1: return value ? 255 : 0;
    case 4: return static_cast<uint8_t>(value * 17);
    case 5: return static_cast<uint8_t>((value << 3) | (value >> 2));
    default: return static_cast<uint8_t>((value << 2) | (value >> 4));  // 6 bits
    }
}

inline uint32_t narrow(uint8_t value, int bits)
{
    const uint32_t top = (1u << bits) - 1;
    return (value * top + 127) / 255;
}

inline uint16_t readWord(const uint8_t* bytes)
{
    uint16_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

inline void writeWord(uint8_t* bytes, uint32_t word)
{
    const uint16_t value = static_cast<uint16_t>(word);
    std::memcpy(bytes, &value, sizeof value);
}

// Weights 77/150/29 sum to 256, so a grey pixel written as RGB reads back as the same grey.
inline uint8_t luminance(const uint8_t* rgba)
{
    return static_cast<uint8_t>((77u * rgba[0] + 150u * rgba[1] + 29u * rgba[2] + 128u) >> 8);
}

} // namespace

bool kaFormatHasAlpha(KA_GFX_TEXTURE_FORMAT format)
{
    return format == KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8 || format == KA_GFX_TEXTURE_FORMAT_RGBA_8 ||
           format == KA_GFX_TEXTURE_FORMAT_RGBA_4444 || format == KA_GFX_TEXTURE_FORMAT_RGBA_5551 ||
           format == KA_GFX_TEXTURE_FORMAT_PALETTE_8;
}

void kaUnpackRow(const uint8_t* row, int width, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order,
                 const uint8_t* palette, int paletteEntries, uint8_t* rgba)
{
    const bool blueFirst = order == KA_GFX_IMAGE_ORDER_BGRA;
    for (int x = 0; x < width; ++x) {
        uint8_t* out = rgba + 4 * x;
        switch (format) {
        case KA_GFX_TEXTURE_FORMAT_GREY_8:
            out[0] = out[1] = out[2] = row[x];
            out[3] = 255;
            break;
        case KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8:
            out[0] = out[1] = out[2] = row[2 * x];
            out[3] = row[2 * x + 1];
            break;
        case KA_GFX_TEXTURE_FORMAT_PALETTE_8:
            if (row[x] < paletteEntries)
                std::memcpy(out, palette + 4 * row[x], 4);
            else
                out[0] = out[1] = out[2] = 0, out[3] = 255;
            break;
        case KA_GFX_TEXTURE_FORMAT_RGB_565: {
            const uint32_t word = readWord(row + 2 * x);
            out[0] = widen((word >> 11) & 0x1f, 5);
            out[1] = widen((word >> 5) & 0x3f, 6);
            out[2] = widen(word & 0x1f, 5);
            out[3] = 255;
            break;
        }
        case KA_GFX_TEXTURE_FORMAT_RGBA_4444: {
            const uint32_t word = readWord(row + 2 * x);
            out[0] = widen((word >> 12) & 0xf, 4);
            out[1] = widen((word >> 8) & 0xf, 4);
            out[2] = widen((word >> 4) & 0xf, 4);
            out[3] = widen(word & 0xf, 4);
            break;
        }
        case KA_GFX_TEXTURE_FORMAT_RGBA_5551: {
            const uint32_t word = readWord(row + 2 * x);
            out[0] = widen((word >> 11) & 0x1f, 5);
            out[1] = widen((word >> 6) & 0x1f, 5);
            out[2] = widen((word >> 1) & 0x1f, 5);
            out[3] = widen(word & 1, 1);
            break;
        }
        case KA_GFX_TEXTURE_FORMAT_RGB_8:
        case KA_GFX_TEXTURE_FORMAT_RGBA_8: {
            const int size = format == KA_GFX_TEXTURE_FORMAT_RGB_8 ? 3 : 4;
            const uint8_t* in = row + size * x;
            out[0] = in[blueFirst ? 2 : 0];
            out[1] = in[1];
            out[2] = in[blueFirst ? 0 : 2];
            out[3] = size == 4 ? in[3] : 255;
            break;
        }
        case KA_GFX_TEXTURE_FORMAT_UNKNOWN:
            out[0] = out[1] = out[2] = 0, out[3] = 255;
            break;
        }
    }
}

bool kaPackRow(const uint8_t* rgba, int width, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order,
               uint8_t* row)
{
    const bool blueFirst = order == KA_GFX_IMAGE_ORDER_BGRA;
    switch (format) {
    case KA_GFX_TEXTURE_FORMAT_UNKNOWN:
    case KA_GFX_TEXTURE_FORMAT_PALETTE_8:
        return false;
    default:
        break;
    }
    for (int x = 0; x < width; ++x) {
        const uint8_t* in = rgba + 4 * x;
        switch (format) {
        case KA_GFX_TEXTURE_FORMAT_GREY_8:
            row[x] = luminance(in);
            break;
        case KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8:
            row[2 * x] = luminance(in);
            row[2 * x + 1] = in[3];
            break;
        case KA_GFX_TEXTURE_FORMAT_RGB_565:
            writeWord(row + 2 * x, narrow(in[0], 5) << 11 | narrow(in[1], 6) << 5 | narrow(in[2], 5));
            break;
        case KA_GFX_TEXTURE_FORMAT_RGBA_4444:
            writeWord(row + 2 * x,
                      narrow(in[0], 4) << 12 | narrow(in[1], 4) << 8 | narrow(in[2], 4) << 4 | narrow(in[3], 4));
            break;
        case KA_GFX_TEXTURE_FORMAT_RGBA_5551:
            writeWord(row + 2 * x,
                      narrow(in[0], 5) << 11 | narrow(in[1], 5) << 6 | narrow(in[2], 5) << 1 | narrow(in[3], 1));
            break;
        case KA_GFX_TEXTURE_FORMAT_RGB_8:
        case KA_GFX_TEXTURE_FORMAT_RGBA_8: {
            const int size = format == KA_GFX_TEXTURE_FORMAT_RGB_8 ? 3 : 4;
            uint8_t* out = row + size * x;
            out[blueFirst ? 2 : 0] = in[0];
            out[1] = in[1];
            out[blueFirst ? 0 : 2] = in[2];
            if (size == 4) out[3] = in[3];
            break;
        }
        case KA_GFX_TEXTURE_FORMAT_UNKNOWN:
        case KA_GFX_TEXTURE_FORMAT_PALETTE_8:
            break;
        }
    }
    return true;
}

} // namespace Lode::Gfx
