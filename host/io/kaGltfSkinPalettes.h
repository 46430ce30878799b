// Skins of more joints than 8-bit blend indices reach: a primitive's geometry is split into
// parts whose joints fit one palette each. Every primitive (triangle, line, point) goes whole to
// one part with all its influences; vertices that primitives of several parts share are copied
// into each. Internal to host/io.
#pragma once

#include "host/gfx/kaGfxEnums.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Lode::Io {

// The joints a palette holds at most: what an 8-bit blend index names.
constexpr size_t kaMaxPaletteJoints = 256;

struct kaPalettePart {
    std::vector<uint32_t> joints;    // the skin's joint of each palette index
    std::vector<uint32_t> vertices;  // the source vertex of each of the part's vertices
    std::vector<uint32_t> indices;   // the part's primitives, by its own vertices
};

// Splits the primitives that indices draw in kind draw (strips, fans and line strips are taken
// apart into lists, which draw then names) into parts of at most kaMaxPaletteJoints joints.
// joints and weights hold `slots` entries per source vertex; a joint counts where its weight is
// not 0. Parts are filled first-fit in primitive order, so the same input gives the same parts.
void kaSplitIntoPalettes(const std::vector<uint32_t>& indices, Lode::Gfx::KA_GFX_DRAW& draw, const uint32_t* joints,
                         const float* weights, int slots, std::vector<kaPalettePart>& parts);

} // namespace Lode::Io
