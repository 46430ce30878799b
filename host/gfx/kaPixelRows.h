// One row of pixels of any image format read as, or written from, 8-bit RGBA red first: the
// common ground of the image converter, the resizer and the PNG writer.
#pragma once

#include "host/gfx/kaGfxEnums.h"

#include <cstdint>

namespace Lode::Gfx {

// True for the formats that carry an alpha channel (a palette's alpha included).
bool kaFormatHasAlpha(KA_GFX_TEXTURE_FORMAT format);

// Reads width pixels of row (in format and order) into rgba, four bytes per pixel. Grey is
// copied to red, green and blue; the packed formats are widened by bit replication, so that
// packing the result again gives the same words; a palettised pixel reads its palette entry
// (black when the index lies beyond paletteEntries). Formats without alpha read as opaque.
void kaUnpackRow(const uint8_t* row, int width, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order,
                 const uint8_t* palette, int paletteEntries, uint8_t* rgba);

// Writes width RGBA pixels into row in format and order, rounding each channel to the nearest
// value the format holds. Grey is the luminance 0.30 R + 0.59 G + 0.11 B, exact for grey input.
// Palettised and unknown formats are not written (false).
bool kaPackRow(const uint8_t* rgba, int width, KA_GFX_TEXTURE_FORMAT format, KA_GFX_IMAGE_ORDER order,
               uint8_t* row);

} // namespace Lode::Gfx
