// Vertex data for the geometry pass tests: the formats they run over, arrays whose blocks hold
// scrambled bytes (NaNs with payloads and denormals among them, which only a bit-for-bit copy
// keeps), and a block-by-block comparison.
#pragma once

#include "host/core/kaNamedObject.h"
#include "host/gfx/kaVertexArray.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kaGeometryTest {

using namespace Lode::Core;
using Lode::Gfx::kaVertexArray;

// P=1 N=2 C=4, blend weights <<4, blend indices <<8, texture sets <<16, point sprites <<20.
const struct kaFormatCase {
    const char* name;
    uint32_t word;
    int vertexCount;
} kFormats[] = {
    {"positions only", 0x000001, 7},        {"lit, coloured, two texture sets", 0x020007, 37},
    {"skinned, four weights", 0x010443, 37}, {"every component, uneven slot counts", 0x130327, 19},
    {"no vertices", 0x010007, 0},
};

struct kaDataBlock {
    std::string name;
    uint8_t* data;
    size_t bytes;
};

inline std::vector<kaDataBlock> blocksOf(kaVertexArray& array)
{
    const auto f = array.getVertexFormat();
    const size_t n = size_t(array.getVertexCount());
    std::vector<kaDataBlock> blocks{{"positions", (uint8_t*)array.positionData(), f.hasPositions() * n * 12},
                                    {"normals", (uint8_t*)array.normalData(), f.hasNormals() * n * 12},
                                    {"colours", (uint8_t*)array.colorData(), f.hasColors() * n * 16},
                                    {"weights", (uint8_t*)array.blendWeightData(), f.getBlendWeightCount() * n * 4},
                                    {"indices", array.blendIndexData(), f.getBlendIndexCount() * n},
                                    {"sprites", (uint8_t*)array.pointSpriteData(), f.getPointSpriteCoordCount() * n * 4}};
    for (int set = 0; set < f.getTextureCoordSetCount(); ++set)
        blocks.push_back({"texture set " + std::to_string(set), (uint8_t*)array.texCoordData(set), n * 8});
    return blocks;
}

template <class Array = kaVertexArray> kaSmartPointer<Array> filledArray(uint32_t format, int vertexCount)
{
    auto array = make<Array>();
    array->setup(format, vertexCount, 0, 0);
    uint32_t seed = 1;
    for (const kaDataBlock& block : blocksOf(*array))
        for (size_t i = 0; i < block.bytes; ++i, seed = seed * 1103515245u + 12345u) block.data[i] = uint8_t(seed >> 16);
    array->closeSetup();
    return array;
}

// Every block that after holds, but skip, equal byte for byte to the same block of before.
inline void expectBlocksKept(kaVertexArray& before, kaVertexArray& after, const std::string& where,
                             const std::string& skip = "")
{
    ASSERT_EQ(after.getVertexCount(), before.getVertexCount()) << where;
    for (const kaDataBlock& block : blocksOf(after))
        for (const kaDataBlock& old : blocksOf(before))
            if (old.name == block.name && block.name != skip && block.bytes > 0)
                EXPECT_TRUE(old.bytes == block.bytes && std::memcmp(old.data, block.data, block.bytes) == 0)
                    << where << ": " << block.name << " changed";
}

} // namespace kaGeometryTest
