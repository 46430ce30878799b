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

// The weights of one reduced vertex renormalised in place: the sum in slot order, in single
// precision, then each weight times 1/sum.
void normalizeVertex(float* w, int weightCount, bool nearestBoneTakesAll)
{
    float sum = 0.0f;
    for (int k = 0; k < weightCount; ++k) sum += w[k];
    const bool nearZero = sum >= -kaBlendWeightZeroBand && sum <= kaBlendWeightZeroBand;
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

// Vertex v's entries, in the order the reduction keeps them, into the reduced blocks.
void keepVertex(const float* w, const uint8_t* idx, int indexCount, size_t v, kaKeptBlendWeights& kept)
{
    const int slots = kept.slots;
    float* to = kept.weights + v * slots;
    std::copy(w, w + slots - 1, to);
    // The last kept slot gives way to the renormalisation (0.0), or carries the whole influence
    // when it is the only one (1.0).
    if (slots >= 2) kept.clearedVertices += w[slots - 1] > kept.threshold;
    to[slots - 1] = slots >= 2 ? 0.0f : 1.0f;
    normalizeVertex(to, slots, kept.nearestBoneTakesAll);
    uint8_t* toIndices = kept.indices + v * slots;
    const int copiedIndices = std::min(slots, indexCount);
    std::copy(idx, idx + copiedIndices, toIndices);
    std::fill(toIndices + copiedIndices, toIndices + slots, uint8_t{0});
}

// Sorts vertices by value with SortVertex (and, where they apply, the AVX2 blocks), each vertex
// going on into kept when that is given. Without sortInPlace the blocks may leave the vertices'
// own entries as they are.
template <void (*SortVertex)(float*, uint8_t*, int, int)>
void sortVertices(float* weights, uint8_t* indices, int vertexCount, int weightCount, int indexCount, bool blocks,
                  kaKeptBlendWeights* kept, bool sortInPlace)
{
    constexpr int kBlock = 8;
    for (int v = 0; v < vertexCount;) {
        if (blocks) v = kaSortBlendWeightBlocksAvx2(weights, indices, v, vertexCount, weightCount, kept, sortInPlace);
        // Past the blocks: a block holding a NaN weight, or the last few vertices.
        const int end = blocks ? std::min(v + kBlock, vertexCount) : vertexCount;
        for (; v < end; ++v) {
            float* w = weights + static_cast<size_t>(v) * weightCount;
            uint8_t* idx = indices ? indices + static_cast<size_t>(v) * indexCount : nullptr;
            SortVertex(w, idx, weightCount, indexCount);
            if (kept) keepVertex(w, idx, indexCount, v, *kept);
        }
    }
}

void sortByValue(kaVertexArray& array, kaValueSortKernel kernel, kaKeptBlendWeights* kept, bool sortInPlace)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    float* weights = array.blendWeightData();
    uint8_t* indices = array.blendIndexData();
    const int indexCount = indices ? array.getBlendIndexCount() : 0;
    const bool blocks = kernel == kaValueSortKernel::Fastest && weightCount >= 2 && weightCount <= 8 &&
                        indexCount == weightCount && kaCanSortBlendWeightsWithAvx2();
    if (kernel == kaValueSortKernel::Exchange)
        sortVertices<exchangeSortVertex>(weights, indices, vertexCount, weightCount, indexCount, false, kept,
                                         sortInPlace);
    else if (weightCount <= 4)
        sortVertices<sortVertex<4>>(weights, indices, vertexCount, weightCount, indexCount, blocks, kept, sortInPlace);
    else if (weightCount <= 8)
        sortVertices<sortVertex<8>>(weights, indices, vertexCount, weightCount, indexCount, blocks, kept, sortInPlace);
    else
        sortVertices<sortVertex<16>>(weights, indices, vertexCount, weightCount, indexCount, blocks, kept, sortInPlace);
}

} // namespace

void kaSortBlendWeightsByValue(kaVertexArray& array, kaValueSortKernel kernel)
{
    if (array.getVertexCount() > 0 && array.getBlendWeightCount() >= 2) sortByValue(array, kernel, nullptr, true);
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

namespace {

// The slots in which some vertex has a weight above threshold once its entries are in the given
// order, a bit per slot. Sorted by value, a vertex without NaN has its weights above threshold
// in its first slots, so counting them is enough; one with a NaN is sorted (a copy) to see.
uint32_t slotsInUse(const kaVertexArray& array, float threshold, kaKeptOrder order)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();
    const float* weights = array.blendWeightData();
    const uint32_t allSlots = (uint32_t{1} << weightCount) - 1;
    uint32_t inUse = 0;
    for (int v = 0; weights && v < vertexCount && inUse != allSlots; ++v) {
        const float* w = weights + static_cast<size_t>(v) * weightCount;
        int above = 0;
        bool hasNaN = false;
        uint32_t slots = 0;
        for (int k = 0; k < weightCount; ++k) {
            above += w[k] > threshold;
            hasNaN |= std::isnan(w[k]);
            slots |= uint32_t{w[k] > threshold} << k;
        }
        if (order != kaKeptOrder::ByValue) {
            inUse |= slots;
        } else if (!hasNaN) {
            inUse |= (uint32_t{1} << above) - 1;
        } else {
            float sorted[kMaxSlots];
            std::copy(w, w + weightCount, sorted);
            exchangeSortVertex(sorted, nullptr, weightCount, 0);
            for (int k = 0; k < weightCount; ++k) inUse |= uint32_t{sorted[k] > threshold} << k;
        }
    }
    return inUse;
}

} // namespace

kaReducedBlendWeights kaReduceBlendWeightArray(kaVertexArray& array, unsigned int count, float threshold,
                                               kaKeptOrder order, kaReducedSource source)
{
    const int vertexCount = array.getVertexCount();
    const int weightCount = array.getBlendWeightCount();

    // A slot counts as empty when no vertex has a weight above the threshold in it.
    const uint32_t inUse = slotsInUse(array, threshold, order);
    for (int k = weightCount - 1; k >= 0; --k)
        if (!(inUse >> k & 1) && count <= static_cast<unsigned int>(weightCount) && count != 0) --count;
    if (count >= static_cast<unsigned int>(weightCount)) return {kaSmartPointer<kaVertexArray>(&array), 0};

    const int kept = count == 0 ? 1 : static_cast<int>(count);
    kaVertexFormat format = array.getVertexFormat();
    format.setBlendWeightCount(kept);
    format.setBlendIndexCount(kept);

    // The new array keeps the old one's generation.
    auto reduced = kaSmartPointer<kaVertexArray>::adopt(
        static_cast<kaVertexArray*>(array.getMetaObject()->createInstance(array.getMemoryPool())));
    // A source let go gives its other components away. Its weights and indices are read while
    // the reduced ones are written, so it keeps them (a block laid out alike would move).
    const int indexCount = array.blendIndexData() ? array.getBlendIndexCount() : 0;
    const bool movesBlocks = source == kaReducedSource::LetGo && kept != weightCount && kept != indexCount;
    reduced->setupFrom(array, format, movesBlocks ? kaVertexArray::MoveBlocks : kaVertexArray::CopyBlocks);
    kaKeptBlendWeights keptEntries;
    if (vertexCount > 0) {
        keptEntries = {reduced->blendWeightData(), reduced->blendIndexData(), kept, threshold,
                       order == kaKeptOrder::ByBoneDistance};
        if (order == kaKeptOrder::ByValue) {
            sortByValue(array, kaValueSortKernel::Fastest, &keptEntries, source == kaReducedSource::Kept);
        } else {
            const float* weights = array.blendWeightData();
            const uint8_t* indices = array.blendIndexData();
            for (int v = 0; v < vertexCount; ++v)
                keepVertex(weights + static_cast<size_t>(v) * weightCount,
                           indices ? indices + static_cast<size_t>(v) * indexCount : nullptr, indexCount, v,
                           keptEntries);
        }
    }
    reduced->closeSetup();
    return {reduced, keptEntries.clearedVertices};
}

} // namespace Lode::OptExtension
