// The vertex format: which components a vertex carries and how many slots of each, packed in
// one 32-bit word so that formats are copied and compared as plain integers.
//
//   bit 0       positions              bits 8-11   blend index count (0-15)
//   bit 1       normals                bits 16-19  texture coordinate set count (0-15)
//   bit 2       vertex colours         bits 20-21  point-sprite coordinate count (0-3)
//   bits 4-7    blend weight count (0-15)
//
// The other bits are not interpreted; the setters keep them as they are.
#pragma once

#include <cstdint>
#include <string>

namespace Lode::Gfx {

class kaVertexFormat {
public:
    static constexpr uint32_t PositionBit = 1u << 0;
    static constexpr uint32_t NormalBit = 1u << 1;
    static constexpr uint32_t ColorBit = 1u << 2;
    static constexpr int BlendWeightShift = 4;
    static constexpr int BlendIndexShift = 8;
    static constexpr int TextureCoordSetShift = 16;
    static constexpr int PointSpriteShift = 20;
    static constexpr uint32_t FourBitMask = 0xFu;
    static constexpr uint32_t TwoBitMask = 0x3u;
    static constexpr int MaxBlendWeightCount = 15;
    static constexpr int MaxBlendIndexCount = 15;
    static constexpr int MaxTextureCoordSetCount = 15;
    static constexpr int MaxPointSpriteCoordCount = 3;

    constexpr kaVertexFormat(uint32_t word = 0) : _word(word) {}

    constexpr uint32_t getWord() const { return _word; }
    constexpr void setWord(uint32_t word) { _word = word; }

    constexpr bool hasPositions() const { return (_word & PositionBit) != 0; }
    constexpr void setPositions(bool present) { setBit(PositionBit, present); }
    constexpr bool hasNormals() const { return (_word & NormalBit) != 0; }
    constexpr void setNormals(bool present) { setBit(NormalBit, present); }
    constexpr bool hasColors() const { return (_word & ColorBit) != 0; }
    constexpr void setColors(bool present) { setBit(ColorBit, present); }
    // The name the geometry report uses for the colour flag.
    constexpr bool hasVertexColors() const { return hasColors(); }

    // Counts outside a field's range are clamped to it (a count of 16 blend weights becomes 15,
    // not 0), so that a setter never spills into a neighbouring field.
    constexpr int getBlendWeightCount() const { return getField(BlendWeightShift, FourBitMask); }
    constexpr void setBlendWeightCount(int count) { setField(BlendWeightShift, FourBitMask, count); }
    constexpr int getBlendIndexCount() const { return getField(BlendIndexShift, FourBitMask); }
    constexpr void setBlendIndexCount(int count) { setField(BlendIndexShift, FourBitMask, count); }
    constexpr int getTextureCoordSetCount() const { return getField(TextureCoordSetShift, FourBitMask); }
    constexpr void setTextureCoordSetCount(int count) { setField(TextureCoordSetShift, FourBitMask, count); }
    // The name the geometry report uses for the texture coordinate set count.
    constexpr int getTextureCoordCount() const { return getTextureCoordSetCount(); }
    constexpr int getPointSpriteCoordCount() const { return getField(PointSpriteShift, TwoBitMask); }
    constexpr void setPointSpriteCoordCount(int count) { setField(PointSpriteShift, TwoBitMask, count); }

    constexpr bool operator==(const kaVertexFormat& other) const { return _word == other._word; }
    constexpr bool operator!=(const kaVertexFormat& other) const { return _word != other._word; }

    // Compact description for dumps: the present flags (P N C) and the non-zero counts
    // (B= blend weights, I= blend indices, T= texture coordinate sets, S= point-sprite
    // coordinates), separated by blanks, e.g. "P N C B=4 I=4 T=1"; "none" for an empty format.
    std::string toText() const;

private:
    constexpr void setBit(uint32_t bit, bool value) { _word = value ? (_word | bit) : (_word & ~bit); }
    constexpr int getField(int shift, uint32_t mask) const { return static_cast<int>((_word >> shift) & mask); }
    constexpr void setField(int shift, uint32_t mask, int count)
    {
        uint32_t value = count < 0 ? 0u : (static_cast<uint32_t>(count) > mask ? mask : static_cast<uint32_t>(count));
        _word = (_word & ~(mask << shift)) | (value << shift);
    }

    uint32_t _word;
};

} // namespace Lode::Gfx
