// Vertex data for the geometry pass tests: arrays whose every value is distinct (and whose
// first value in each float block is a NaN with a payload, which only a bit-for-bit copy
// keeps), the vertex formats the tests run over, and a block-by-block comparison.
#pragma once

#include "host/attrs/kaGeometryAttr.h"
#include "host/core/kaNamedObject.h"
#include "host/gfx/kaVertexArray.h"
#include "host/sg/kaGeometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kaGeometryTest {

using namespace Lode::Core;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;

struct kaFormatCase {
    const char* name;
    uint32_t word;
    int vertexCount;
};

// P=1 N=2 C=4, blend weights <<4, blend indices <<8, texture sets <<16, point sprites <<20.
const kaFormatCase kFormats[] = {
    {"positions only", 0x000001, 7},
    {"lit, coloured, two texture sets", 0x020007, 37},
    {"skinned, four weights", 0x010443, 37},
    {"every component, uneven slot counts", 0x132327, 19},
    {"no vertices", 0x010007, 0},
};

// Every block of the array as bytes, named: the unit of comparison.
inline std::vector<std::pair<std::string, std::vector<uint8_t>>> blocks(const kaVertexArray& array)
{
    const kaVertexFormat f = array.getVertexFormat();
    const size_t n = static_cast<size_t>(array.getVertexCount());
    std::vector<std::pair<std::string, std::vector<uint8_t>>> result;
    auto add = [&](const std::string& name, const void* data, size_t bytes) {
        const auto* begin = static_cast<const uint8_t*>(data);
        result.emplace_back(name, data ? std::vector<uint8_t>(begin, begin + bytes) : std::vector<uint8_t>());
    };
    if (f.hasPositions()) add("positions", array.positionData(), n * 12);
    if (f.hasNormals()) add("normals", array.normalData(), n * 12);
    if (f.hasColors()) add("colours", array.colorData(), n * 16);
    for (int set = 0; set < f.getTextureCoordSetCount(); ++set)
        add("texture set " + std::to_string(set), array.texCoordData(set), n * 8);
    add("blend weights", array.blendWeightData(), n * 4 * f.getBlendWeightCount());
    add("blend indices", array.blendIndexData(), n * f.getBlendIndexCount());
    add("point sprites", array.pointSpriteData(), n * 4 * f.getPointSpriteCoordCount());
    return result;
}

template <class Array = kaVertexArray> kaSmartPointer<Array> filledArray(kaVertexFormat format, int vertexCount)
{
    auto array = make<Array>();
    array->setup(format, vertexCount, 0, 0);
    uint32_t seed = 0x3f800000u;
    auto fill = [&](float* data, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t bits = i == 0 ? 0x7fc0beefu : seed + static_cast<uint32_t>(i);
            std::memcpy(data + i, &bits, 4);
        }
        seed += 0x10000u;
    };
    const size_t n = static_cast<size_t>(vertexCount);
    if (n > 0) {
        if (format.hasPositions()) fill(array->positionData(), n * 3);
        if (format.hasNormals()) fill(array->normalData(), n * 3);
        if (format.hasColors()) fill(array->colorData(), n * 4);
        for (int set = 0; set < format.getTextureCoordSetCount(); ++set) fill(array->texCoordData(set), n * 2);
        if (format.getBlendWeightCount()) fill(array->blendWeightData(), n * format.getBlendWeightCount());
        for (size_t i = 0; i < n * format.getBlendIndexCount(); ++i) array->blendIndexData()[i] = uint8_t(i * 7 + 3);
        if (format.getPointSpriteCoordCount()) fill(array->pointSpriteData(), n * format.getPointSpriteCoordCount());
    }
    array->closeSetup();
    return array;
}

// Every block that after has (but the one named skip), equal byte for byte to the same block of
// before.
inline void expectBlocksKept(const kaVertexArray& before, const kaVertexArray& after, const std::string& where,
                             const std::string& skip = "")
{
    ASSERT_EQ(after.getVertexCount(), before.getVertexCount()) << where;
    const auto old = blocks(before);
    for (const auto& [name, bytes] : blocks(after)) {
        if (name == skip) continue;
        bool found = false;
        for (const auto& [oldName, oldBytes] : old)
            if (oldName == name) {
                found = true;
                EXPECT_TRUE(bytes == oldBytes) << where << ": " << name << " changed";
            }
        EXPECT_TRUE(found) << where << ": " << name << " appeared";
    }
}

} // namespace kaGeometryTest
