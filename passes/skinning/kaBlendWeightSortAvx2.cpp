// Eight vertices per step: their weights are transposed so that one register holds one slot of
// all eight, and a sorting network runs on the registers. The network compares entries by
// weight (largest first) and, between equal weights, by original slot, which makes every key
// distinct and the result the stable sort for any correct network. -0.0 and 0.0 compare equal,
// as the comparisons of the exchange sort have them; the weights themselves are moved, never
// rebuilt, so every bit survives.
#include "passes/skinning/kaBlendWeightSortAvx2.h"

#include <cmath>
#include <immintrin.h>

namespace Lode::OptExtension {

bool kaCanSortBlendWeightsWithAvx2() { return __builtin_cpu_supports("avx2"); }

namespace {

constexpr int kLanes = 8;

__attribute__((target("avx2"))) inline void transpose8x8(__m256* r)
{
    __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)), u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)), u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0)), u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0)), u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// 8x8 byte transpose: rows (8 bytes each, contiguous) to columns, column c in bytes 8c..8c+7 of
// out (two columns per register). The transpose is its own inverse.
__attribute__((target("avx2"))) inline void transposeBytes8x8(const uint8_t* rows, __m128i out[4])
{
    __m128i r01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows));
    __m128i r23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + 16));
    __m128i r45 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + 32));
    __m128i r67 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows + 48));
    __m128i a = _mm_unpacklo_epi8(r01, _mm_srli_si128(r01, 8));
    __m128i b = _mm_unpacklo_epi8(r23, _mm_srli_si128(r23, 8));
    __m128i c = _mm_unpacklo_epi8(r45, _mm_srli_si128(r45, 8));
    __m128i d = _mm_unpacklo_epi8(r67, _mm_srli_si128(r67, 8));
    __m128i e = _mm_unpacklo_epi16(a, b), f = _mm_unpackhi_epi16(a, b);
    __m128i g = _mm_unpacklo_epi16(c, d), h = _mm_unpackhi_epi16(c, d);
    out[0] = _mm_unpacklo_epi32(e, g);
    out[1] = _mm_unpackhi_epi32(e, g);
    out[2] = _mm_unpacklo_epi32(f, h);
    out[3] = _mm_unpackhi_epi32(f, h);
}

// Puts the greater entry (weight w, tag t = slot << 8 | blend index) at position i.
__attribute__((target("avx2"))) inline void compareExchange(__m256* w, __m256i* t, int i, int j)
{
    __m256 greater = _mm256_cmp_ps(w[j], w[i], _CMP_GT_OQ);
    __m256 equal = _mm256_cmp_ps(w[j], w[i], _CMP_EQ_OQ);
    __m256 earlierSlot = _mm256_castsi256_ps(_mm256_cmpgt_epi32(t[i], t[j]));
    __m256 exchange = _mm256_or_ps(greater, _mm256_and_ps(equal, earlierSlot));
    __m256 wi = w[i];
    w[i] = _mm256_blendv_ps(wi, w[j], exchange);
    w[j] = _mm256_blendv_ps(w[j], wi, exchange);
    __m256i exchangeBits = _mm256_castps_si256(exchange);
    __m256i ti = t[i];
    t[i] = _mm256_blendv_epi8(ti, t[j], exchangeBits);
    t[j] = _mm256_blendv_epi8(t[j], ti, exchangeBits);
}

} // namespace

__attribute__((target("avx2"))) int kaSortBlendWeightBlocksAvx2(float* weights, uint8_t* indices, int vertexCount,
                                                                 int weightCount, kaVertexWeightSorter fallback)
{
    const int handled = vertexCount / kLanes * kLanes;
    const __m256i slotMask = _mm256_cmpgt_epi32(_mm256_set1_epi32(weightCount), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    // Slots past weightCount hold -infinity with the highest tags, so they sort last and stay there.
    const __m256 padding = _mm256_set1_ps(-INFINITY);
    alignas(32) int32_t tags[kLanes][kLanes];
    for (int k = weightCount; k < kLanes; ++k)
        for (int v = 0; v < kLanes; ++v) tags[k][v] = k << 8;

    for (int first = 0; first < handled; first += kLanes) {
        float* blockWeights = weights + static_cast<size_t>(first) * weightCount;
        uint8_t* blockIndices = indices + static_cast<size_t>(first) * weightCount;
        __m256 w[kLanes];
        for (int v = 0; v < kLanes; ++v)
            w[v] = _mm256_blendv_ps(padding, _mm256_maskload_ps(blockWeights + v * weightCount, slotMask),
                                    _mm256_castsi256_ps(slotMask));
        transpose8x8(w);
        __m256 unordered = _mm256_cmp_ps(w[0], w[0], _CMP_UNORD_Q);
        for (int k = 1; k < weightCount; ++k) unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(w[k], w[k], _CMP_UNORD_Q));
        if (_mm256_movemask_ps(unordered)) {
            for (int v = 0; v < kLanes; ++v)
                fallback(blockWeights + v * weightCount, blockIndices + v * weightCount, weightCount, weightCount);
            continue;
        }
        __m256i t[kLanes];
        if (weightCount == kLanes) {
            // Full rows: the index bytes are transposed in registers.
            __m128i columns[4];
            transposeBytes8x8(blockIndices, columns);
            for (int k = 0; k < kLanes; ++k) {
                __m128i column = k % 2 ? _mm_srli_si128(columns[k / 2], 8) : columns[k / 2];
                t[k] = _mm256_or_si256(_mm256_cvtepu8_epi32(column), _mm256_set1_epi32(k << 8));
            }
        } else {
            for (int v = 0; v < kLanes; ++v)
                for (int k = 0; k < weightCount; ++k) tags[k][v] = k << 8 | blockIndices[v * weightCount + k];
            for (int k = 0; k < kLanes; ++k) t[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(tags[k]));
        }

        compareExchange(w, t, 0, 1); compareExchange(w, t, 2, 3); compareExchange(w, t, 4, 5); compareExchange(w, t, 6, 7);
        compareExchange(w, t, 0, 2); compareExchange(w, t, 1, 3); compareExchange(w, t, 4, 6); compareExchange(w, t, 5, 7);
        compareExchange(w, t, 1, 2); compareExchange(w, t, 5, 6);
        compareExchange(w, t, 0, 4); compareExchange(w, t, 1, 5); compareExchange(w, t, 2, 6); compareExchange(w, t, 3, 7);
        compareExchange(w, t, 2, 4); compareExchange(w, t, 3, 5);
        compareExchange(w, t, 1, 2); compareExchange(w, t, 3, 4); compareExchange(w, t, 5, 6);

        if (weightCount == kLanes) {
            // Low byte of each lane, per column, then the columns transposed back into rows.
            const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                      0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
            alignas(16) uint8_t columnBytes[kLanes * kLanes];
            for (int k = 0; k < kLanes; ++k) {
                __m256i packed = _mm256_shuffle_epi8(t[k], lowBytes);
                packed = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
                _mm_storel_epi64(reinterpret_cast<__m128i*>(columnBytes + k * kLanes), _mm256_castsi256_si128(packed));
            }
            __m128i rows[4];
            transposeBytes8x8(columnBytes, rows);
            for (int pair = 0; pair < 4; ++pair)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(blockIndices + pair * 16), rows[pair]);
        } else {
            for (int k = 0; k < weightCount; ++k) _mm256_store_si256(reinterpret_cast<__m256i*>(tags[k]), t[k]);
            for (int v = 0; v < kLanes; ++v)
                for (int k = 0; k < weightCount; ++k) blockIndices[v * weightCount + k] = static_cast<uint8_t>(tags[k][v]);
        }
        transpose8x8(w);
        for (int v = 0; v < kLanes; ++v) _mm256_maskstore_ps(blockWeights + v * weightCount, slotMask, w[v]);
    }
    return handled;
}

} // namespace Lode::OptExtension
