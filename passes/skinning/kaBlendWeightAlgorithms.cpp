// Sorting, reducing and renormalising blend weights over the contiguous weight and index blocks.
//
// The sort by value must give exactly the result of a neighbour-exchange sort that exchanges on
// "later weight strictly greater". Without NaN that result is the stable sort, largest first,
// which a branch-free sorting network computes when every entry's key also carries its slot:
// keys are then all distinct, so any correct network yields the one stable order. With a NaN the
// comparisons stop being an order; such vertices (rare: broken data) run the exchange sort itself.
#include "passes/skinning/kaBlendWeightAlgorithms.h"

#include "passes/skinning/kaBlendWeightSortAvx2.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace Lode::OptExtension {

using Lode::Gfx::kaVertexFormat;
using Lode::Math::kaMatrix44f;
using Lode::Math::kaVec3f;

namespace {

constexpr int kMaxSlots = 15;

// ---- sort by value ----

// Key of an entry: ascending key order is descending weight order, ties by ascending slot.
//   bits 63..32  the weight mapped to an unsigned integer whose order is the reverse of the
//                float order (-0.0 is mapped as +0.0: the two compare equal)
//   bits 15..12  the slot            bit 8  the weight was -0.0      bits 7..0  the blend index
inline uint64_t entryKey(float weight, int slot, uint8_t index)
{
    uint32_t bits = std::bit_cast<uint32_t>(weight);
    bool negativeZero = bits == 0x80000000u;
    if (negativeZero) bits = 0;
    // Order-preserving map of float bits to unsigned, then reversed for largest first.
    uint32_t ordered = (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
    return (static_cast<uint64_t>(~ordered) << 32) | (static_cast<uint64_t>(slot) << 12) |
           (static_cast<uint64_t>(negativeZero) << 8) | index;
}

inline float keyWeight(uint64_t key)
{
    if (key & 0x100u) return -0.0f;
    uint32_t ordered = ~static_cast<uint32_t>(key >> 32);
    uint32_t bits = (ordered & 0x80000000u) ? (ordered & 0x7FFFFFFFu) : ~ordered;
    return std::bit_cast<float>(bits);
}

// Branch-free: random weights would make a compare-and-jump mispredict half the time.
inline void compareExchange(uint64_t& a, uint64_t& b)
{
    uint64_t swapMask = (a ^ b) & (0 - static_cast<uint64_t>(b < a));
    a ^= swapMask;
    b ^= swapMask;
}

#define KA_CE(i, j) compareExchange(k[i], k[j])

// Batcher's odd-even merge sort networks, written out so that the keys stay in registers.
template <int N> struct SortingNetwork;

template <> struct SortingNetwork<4> {
    static void sort(uint64_t* k)
    {
        KA_CE(0, 1); KA_CE(2, 3); KA_CE(0, 2); KA_CE(1, 3); KA_CE(1, 2);
    }
};

template <> struct SortingNetwork<8> {
    static void sort(uint64_t* k)
    {
        KA_CE(0, 1); KA_CE(2, 3); KA_CE(4, 5); KA_CE(6, 7);
        KA_CE(0, 2); KA_CE(1, 3); KA_CE(4, 6); KA_CE(5, 7);
        KA_CE(1, 2); KA_CE(5, 6);
        KA_CE(0, 4); KA_CE(1, 5); KA_CE(2, 6); KA_CE(3, 7);
        KA_CE(2, 4); KA_CE(3, 5);
        KA_CE(1, 2); KA_CE(3, 4); KA_CE(5, 6);
    }
};

template <> struct SortingNetwork<16> {
    static void sort(uint64_t* k)
    {
        SortingNetwork<8>::sort(k);
        SortingNetwork<8>::sort(k + 8);
        // Odd-even merge of the two sorted halves.
        KA_CE(0, 8); KA_CE(1, 9); KA_CE(2, 10); KA_CE(3, 11); KA_CE(4, 12); KA_CE(5, 13); KA_CE(6, 14); KA_CE(7, 15);
        KA_CE(4, 8); KA_CE(5, 9); KA_CE(6, 10); KA_CE(7, 11);
        KA_CE(2, 4); KA_CE(3, 5); KA_CE(6, 8); KA_CE(7, 9); KA_CE(10, 12); KA_CE(11, 13);
        KA_CE(1, 2); KA_CE(3, 4); KA_CE(5, 6); KA_CE(7, 8); KA_CE(9, 10); KA_CE(11, 12); KA_CE(13, 14);
    }
};

#undef KA_CE

// The neighbour-exchange sort exactly as the pass defines it, for vertices with a NaN weight.
void exchangeSortVertex(float* weights, uint8_t* indices, int weightCount, int indexCount)
{
    auto exchange = [&](int a, int b) {
        std::swap(weights[a], weights[b]);
        if (b < indexCount) std::swap(indices[a], indices[b]);
    };
    int start = 1;
    while (true) {
        float previous = weights[start - 1];
        int first = 0;
        for (int j = start; j < weightCount; ++j) {
            float current = weights[j];
            if (current > previous) {
                exchange(j - 1, j);
                if (first == 0) first = j - 1 < 1 ? 1 : j - 1;
            }
            previous = current;
        }
        if (first <= 0) return;
        start = first;
    }
}

template <int Padded>
void networkSortVertex(float* weights, uint8_t* indices, int weightCount, int indexCount)
{
    uint64_t keys[Padded];
    for (int k = 0; k < Padded; ++k)
        keys[k] = k < weightCount ? entryKey(weights[k], k, k < indexCount ? indices[k] : 0) : UINT64_MAX;
    SortingNetwork<Padded>::sort(keys);
    for (int k = 0; k < weightCount; ++k) {
        weights[k] = keyWeight(keys[k]);
        if (k < indexCount) indices[k] = static_cast<uint8_t>(keys[k]);
    }
}

// One vertex: already sorted (most skinning data arrives so) needs no writes; a NaN weight
// takes the exchange sort itself; anything else the network.
template <int Padded> void sortVertex(float* w, uint8_t* idx, int weightCount, int indexCount)
{
    bool sorted = true;
    bool hasNaN = std::isnan(w[0]);
    for (int k = 1; k < weightCount; ++k) {
        sorted &= !(w[k] > w[k - 1]);
        hasNaN |= std::isnan(w[k]);
    }
    if (hasNaN)
        exchangeSortVertex(w, idx, weightCount, indexCount);
    else if (!sorted)
        networkSortVertex<Padded>(w, idx, weightCount, indexCount);
}

template <int Padded>
void sortVertices(float* weights, uint8_t* indices, int firstVertex, int vertexCount, int weightCount, int indexCount)
{
    for (int v = firstVertex; v < vertexCount; ++v)
        sortVertex<Padded>(weights + static_cast<size_t>(v) * weightCount,
                           indices ? indices + static_cast<size_t>(v) * indexCount : nullptr, weightCount, indexCount);
}

} // namespace

void kaSortBlendWeightsByValue(kaVertexArray& array, kaValueSortKernel kernel)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    if (vertexCount <= 0 || weightCount < 2) return;
    float* weights = array.blendWeightData();
    uint8_t* indices = array.blendIndexData();
    const int indexCount = indices ? array.getBlendIndexCount() : 0;
    if (kernel == kaValueSortKernel::Exchange) {
        for (int v = 0; v < vertexCount; ++v)
            exchangeSortVertex(weights + static_cast<size_t>(v) * weightCount,
                               indices ? indices + static_cast<size_t>(v) * indexCount : nullptr, weightCount, indexCount);
        return;
    }
    int sortedVertices = 0;
    if (kernel == kaValueSortKernel::Fastest && weightCount <= 8 && indices && indexCount == weightCount &&
        kaCanSortBlendWeightsWithAvx2())
        sortedVertices = kaSortBlendWeightBlocksAvx2(weights, indices, vertexCount, weightCount, &sortVertex<8>);
    if (weightCount <= 4)
        sortVertices<4>(weights, indices, sortedVertices, vertexCount, weightCount, indexCount);
    else if (weightCount <= 8)
        sortVertices<8>(weights, indices, sortedVertices, vertexCount, weightCount, indexCount);
    else
        sortVertices<16>(weights, indices, sortedVertices, vertexCount, weightCount, indexCount);
}

// ---- sort by bone distance ----

void kaSortBlendWeightsByBoneDistance(kaVertexArray& array, const kaInverseJointMatrixLookup& lookup)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    if (vertexCount <= 0) return;
    float* weights = array.blendWeightData();
    uint8_t* indices = array.blendIndexData();
    const int indexCount = indices ? array.getBlendIndexCount() : 0;
    const kaVec3f farPoint(FLT_MAX, FLT_MAX, FLT_MAX);

    // Bone positions by blend index, worked out on first use; the lookup still runs for every
    // pair so that a missing bone is reported as often as it is looked up.
    kaVec3f bonePositions[256];
    bool known[256] = {};
    auto bonePosition = [&](float weight, uint8_t index) {
        if (!(weight > 0.0f) || !lookup) return farPoint;
        const kaMatrix44f* inverseJoint = lookup(index);
        if (!inverseJoint) return farPoint;
        if (!known[index]) {
            kaMatrix44f joint;
            joint.invert(*inverseJoint);
            joint.getTranslation(bonePositions[index]);
            known[index] = true;
        }
        return bonePositions[index];
    };

    for (int v = 0; v < vertexCount; ++v) {
        float* w = weights + static_cast<size_t>(v) * weightCount;
        uint8_t* idx = indices ? indices + static_cast<size_t>(v) * indexCount : nullptr;
        kaVec3f position;
        array.getPosition(v, position);
        for (int i = 0; i + 1 < weightCount; ++i) {
            for (int j = i + 1; j < weightCount; ++j) {
                uint8_t bi = i < indexCount ? idx[i] : 0;
                uint8_t bj = j < indexCount ? idx[j] : 0;
                float di = position.distance(bonePosition(w[i], bi));
                float dj = position.distance(bonePosition(w[j], bj));
                if (di > dj) {
                    std::swap(w[i], w[j]);
                    if (j < indexCount) std::swap(idx[i], idx[j]);
                }
            }
        }
    }
}

// ---- reduction ----

kaSmartPointer<kaVertexArray> kaReduceBlendWeightArray(kaVertexArray& array, unsigned int count, float threshold)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    const float* weights = array.blendWeightData();

    // A slot counts as empty when no vertex has a weight above the threshold in it.
    bool inUse[kMaxSlots] = {};
    if (weights)
        for (int v = 0; v < vertexCount; ++v) {
            const float* w = weights + static_cast<size_t>(v) * weightCount;
            for (int k = 0; k < weightCount; ++k) inUse[k] |= w[k] > threshold;
        }
    for (int k = weightCount - 1; k >= 0; --k)
        if (!inUse[k] && count <= static_cast<unsigned int>(weightCount) && count != 0) --count;
    if (count >= static_cast<unsigned int>(weightCount)) return kaSmartPointer<kaVertexArray>(&array);

    const int kept = count == 0 ? 1 : static_cast<int>(count);
    kaVertexFormat format = array.getVertexFormat();
    format.setBlendWeightCount(kept);
    format.setBlendIndexCount(kept);

    // The new array keeps the old one's generation.
    auto reduced = kaSmartPointer<kaVertexArray>::adopt(
        static_cast<kaVertexArray*>(array.getMetaObject()->createInstance(array.getMemoryPool())));
    reduced->setup(format, vertexCount, array.getUsage(), 0);
    if (vertexCount == 0) return reduced;

    auto copyBlock = [vertexCount](float* to, const float* from, size_t perVertex) {
        if (to && from) std::memcpy(to, from, sizeof(float) * perVertex * vertexCount);
    };
    copyBlock(reduced->positionData(), array.positionData(), kaVertexArray::PositionComponentCount);
    copyBlock(reduced->normalData(), array.normalData(), kaVertexArray::NormalComponentCount);
    copyBlock(reduced->colorData(), array.colorData(), kaVertexArray::ColorComponentCount);
    for (int set = 0; set < format.getTextureCoordSetCount(); ++set)
        copyBlock(reduced->texCoordData(set), array.texCoordData(set), kaVertexArray::TexCoordComponentCount);
    copyBlock(reduced->pointSpriteData(), array.pointSpriteData(), format.getPointSpriteCoordCount());

    float* newWeights = reduced->blendWeightData();
    const int copiedWeights = std::min(kept, weightCount);
    for (int v = 0; v < vertexCount; ++v) {
        float* to = newWeights + static_cast<size_t>(v) * kept;
        if (weights) std::memcpy(to, weights + static_cast<size_t>(v) * weightCount, sizeof(float) * copiedWeights);
        // The last kept slot gives way to the renormalisation (0.0), or carries the whole
        // influence when it is the only one (1.0).
        to[kept - 1] = kept >= 2 ? 0.0f : 1.0f;
    }
    const uint8_t* indices = array.blendIndexData();
    uint8_t* newIndices = reduced->blendIndexData();
    const int indexCount = array.getBlendIndexCount();
    const int copiedIndices = std::min(kept, indexCount);
    if (indices && newIndices)
        for (int v = 0; v < vertexCount; ++v)
            std::memcpy(newIndices + static_cast<size_t>(v) * kept, indices + static_cast<size_t>(v) * indexCount,
                        copiedIndices);
    return reduced;
}

// ---- renormalisation ----

void kaNormalizeBlendWeights(kaVertexArray& array, bool nearestBoneTakesAll)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    float* weights = array.blendWeightData();
    constexpr float zeroBand = 5e-7f;
    if (weights && weightCount > 0)
        for (int v = 0; v < vertexCount; ++v) {
            float* w = weights + static_cast<size_t>(v) * weightCount;
            float sum = 0.0f;
            for (int k = 0; k < weightCount; ++k) sum += w[k];
            bool nearZero = sum >= -zeroBand && sum <= zeroBand;
            if (nearZero && nearestBoneTakesAll) {
                w[0] = 1.0f;
            } else if (nearZero || !std::isfinite(sum)) {
                // No usable total to scale by: the first (most influential) entry takes it all.
                w[0] = 1.0f;
                for (int k = 1; k < weightCount; ++k) w[k] = 0.0f;
            } else {
                const float factor = 1.0f / sum;
                for (int k = 0; k < weightCount; ++k) w[k] = w[k] * factor;
            }
        }
    array.closeSetup();
}

} // namespace Lode::OptExtension
