// A pass run by class name as kaopt runs one script section, its output captured; skinned vertex
// arrays and a small skinned scene; and for the geometry passes, vertex formats, arrays of scrambled
// bytes (NaNs with payloads, denormals: only a bit-for-bit copy keeps them) and a block comparison.
#pragma once

#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/core/kaText.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSkeleton.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kaTest {
using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;
using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Attrs::kaTextureAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using kaSettings = std::vector<std::pair<const char*, const char*>>;
using testing::HasSubstr;

// One registered pass made by class name, its fields set from text and its registry section
// holding keys, writing below output; run() applies it and returns what it printed.
struct kaPassRun {
    kaSmartPointer<kaOptInterface> host = make<kaOptInterface>();
    kaSmartPointer<kaOptBase> pass;
    int section = 0;
    kaOptInterface::RunResult result = kaOptInterface::RunResult::Stopped;

    explicit kaPassRun(const char* className, const kaSettings& fields = {}, const kaSettings& keys = {},
                       const std::filesystem::path& output = {})
    {
        Lode::kaOptExtensionLibrary_arkRegister();
        host->setRegistry(make<kaRegistry>());
        if (!output.empty()) host->setFilePath(output.c_str());  // "" would hold one more reference to ""
        section = host->getRegistry()->addSection();
        for (auto& [key, value] : keys) host->getRegistry()->setValue(section, key, value);
        pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase(className));
        for (auto& [name, value] : fields) {
            std::string error;
            EXPECT_TRUE(pass->getMetaField(name)->setFromText(pass, value, error)) << error;
        }
    }
    template <class Pass> Pass* as() const { return Pass::dynamicCast(pass.get()); }
    // Applies the pass to root (which it may replace) and infos.
    std::string run(kaSmartPointer<kaNode>& root, kaInfoList* infos = nullptr)
    {
        auto noInfos = make<kaInfoList>();
        testing::internal::CaptureStdout();
        result = host->runPass(pass, section, root, infos ? infos : noInfos.get());
        return testing::internal::GetCapturedStdout();
    }
    std::string run(kaSmartPointer<kaNode>&& root, kaInfoList* infos = nullptr) { return run(root, infos); }
};

// The pass with the fields over root and infos; what it printed.
inline std::string runPass(const char* className, kaNode* root, const kaSettings& fields = {}, kaInfoList* infos = nullptr)
{
    return kaPassRun(className, fields).run(root, infos);
}

inline unsigned low(const void* object) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(object)); }

using kaIndexRows = std::vector<std::vector<int>>;

// One vertex per row of blend weights, with positions, normals unless not asked, one texture set
// and the given blend indices (10, 11, ... where none are given).
inline kaSmartPointer<kaVertexArray> weightedArray(const std::vector<std::vector<float>>& weights, bool normals = true,
                                                   const kaIndexRows& indices = {})
{
    const int count = weights.empty() ? 0 : int(weights[0].size());
    auto array = make<kaVertexArray>();
    array->setup(uint32_t(0x10001 | (normals ? 2 : 0) | count << 4 | count << 8), int(weights.size()), 7, 0);
    for (int v = 0; v < int(weights.size()); ++v)
        for (int k = 0; k < count; ++k) {
            const bool given = size_t(v) < indices.size() && size_t(k) < indices[v].size();
            array->setBlendWeight(v, k, weights[v][k]), array->setBlendIndex(v, k, uint8_t(given ? indices[v][k] : 10 + k));
        }
    array->closeSetup();
    return array;
}

// Every vertex's blend indices, slot by slot.
inline kaIndexRows blendIndices(const kaVertexArray& array)
{
    kaIndexRows rows(array.getVertexCount());
    for (int v = 0; v < array.getVertexCount(); ++v)
        for (int k = 0; k < array.getBlendIndexCount(); ++k) rows[v].push_back(array.getBlendIndex(v, k));
    return rows;
}

inline kaSmartPointer<kaGeometryAttr> geometryAttr(kaSmartPointer<kaVertexArray> array, int primitiveCount, int type)
{
    kaSmartPointer<kaGeometryAttr> attr = make<kaGeometryAttr1_5>();
    attr->configureVertexArray(array);
    attr->setPrimitiveCount(primitiveCount);
    attr->setPrimitiveType(static_cast<Lode::Gfx::KA_GFX_DRAW>(type));
    return attr;
}

struct SkinnedScene {
    kaSmartPointer<kaGroup> root = make<kaGroup>();
    kaSmartPointer<kaGeometry> body = make<kaGeometry>("body"), hand = make<kaGeometry>("hand");
    kaSmartPointer<kaMorphInstance> face = make<kaMorphInstance>("face");
    kaSmartPointer<kaInfoList> infos = make<kaInfoList>();

    SkinnedScene()
    {
        // A texture first: the geometry attribute behind it sits at position 1.
        body->appendAttr(make<kaTextureAttr>());
        body->appendAttr(geometryAttr(weightedArray({{0.1f, 0.4f, 0.4f, 0.1f}, {0.7f, 0.1f, 0.1f, 0.1f}}), 1, 4));
        hand->appendAttr(geometryAttr(weightedArray({{0.5f, 0.5f}}, false), 9, 7));
        auto base = make<kaMorphBase>();
        base->setVertexArray(weightedArray({{0.2f, 0.5f, 0.3f}, {0.9f, 0.1f, 0.0f}, {0.6f, 0.3f, 0.1f}}));
        face->setBase(base);
        face->appendAttr(geometryAttr(weightedArray({}), 12, 3));
        root->appendChild(body), root->appendChild(hand), root->appendChild(face);
    }
    std::string run(const char* className, const kaSettings& fields = {}) { return runPass(className, root, fields, infos); }
};

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
            if (old.name == block.name && block.name != skip && block.bytes > 0) {
                EXPECT_TRUE(old.bytes == block.bytes && std::memcmp(old.data, block.data, block.bytes) == 0)
                    << where << ": " << block.name << " changed";
            }
}
} // namespace kaTest
