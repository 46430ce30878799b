// Eight vertices per step: their weights are transposed so that one register holds one slot of
// all eight, and a sorting network runs on the registers. The network compares entries by
// weight (largest first) and, between equal weights, by original slot, which makes every key
// distinct and the result the stable sort for any correct network. -0.0 and 0.0 compare equal,
// as the comparisons of the exchange sort have them; the weights themselves are moved, never
// rebuilt, so every bit survives. The reduction works on the same registers before they go
// back: the kept slots are renormalised lane by lane with the operations of the scalar code, in
// the same order, so each vertex gets the same bits.
#include "passes/skinning/kaBlendWeightSortAvx2.h"

#include <bit>
#include <cmath>
#include <cstring>
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

// The blend indices of four slots (the low bytes of their tags) gathered into each lane.
__attribute__((target("avx2"))) inline __m256i fourIndices(const __m256i* t)
{
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(t[0], lowByte), _mm256_slli_epi32(_mm256_and_si256(t[1], lowByte), 8)),
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(t[2], lowByte), 16), _mm256_slli_epi32(t[3], 24)));
}

// The blend indices (one register of tags per slot) as eight rows of eight bytes, two rows per
// register, built in registers: slots 0-3 and 4-7 gathered per lane, then the lanes interleaved.
__attribute__((target("avx2"))) inline void indexRows(const __m256i* t, __m128i rows[4])
{
    const __m256i low = fourIndices(t), high = fourIndices(t + 4);
    // Rows 0 1 | 4 5 and 2 3 | 6 7.
    const __m256i rows0145 = _mm256_unpacklo_epi32(low, high), rows2367 = _mm256_unpackhi_epi32(low, high);
    rows[0] = _mm256_castsi256_si128(rows0145);
    rows[1] = _mm256_castsi256_si128(rows2367);
    rows[2] = _mm256_extracti128_si256(rows0145, 1);
    rows[3] = _mm256_extracti128_si256(rows2367, 1);
}

// Eight rows of eight floats, row v to out + v * rowLength (rowLength up to 8). A row stored
// whole also writes the start of the next one, which that row then overwrites; a row whose whole
// store would leave the block (the next block is not written yet, or not there) is stored masked.
__attribute__((target("avx2"))) inline void storeRows(const __m256* rows, float* out, int rowLength, __m256i rowMask)
{
    for (int v = 0; v < kLanes; ++v)
        if (v * rowLength + kLanes <= kLanes * rowLength)
            _mm256_storeu_ps(out + v * rowLength, rows[v]);
        else
            _mm256_maskstore_ps(out + v * rowLength, rowMask, rows[v]);
}

// Eight rows of eight bytes (two per register), row v to out + v * rowLength, the same way but
// through a buffer whose spare end takes what the last rows write past the block.
__attribute__((target("avx2"))) inline void storeByteRows(const __m128i rows[4], uint8_t* out, int rowLength)
{
    if (rowLength == kLanes) {
        for (int pair = 0; pair < 4; ++pair) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + pair * 16), rows[pair]);
        return;
    }
    alignas(16) uint8_t packed[kLanes * kLanes + kLanes];
    for (int v = 0; v < kLanes; ++v)
        _mm_storel_epi64(reinterpret_cast<__m128i*>(packed + v * rowLength),
                         v % 2 ? _mm_srli_si128(rows[v / 2], 8) : rows[v / 2]);
    // The block is rowLength times eight bytes.
    for (int chunk = 0; chunk < rowLength; ++chunk) std::memcpy(out + chunk * kLanes, packed + chunk * kLanes, kLanes);
}

// Lanes k < count set.
__attribute__((target("avx2"))) inline __m256i firstLanes(int count)
{
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The sorted entries of eight vertices (one register per slot) reduced to kept.slots and
// renormalised: the sum in slot order, one reciprocal, products; a sum in the zero band, NaN
// or infinite gives slot 0 all the influence.
__attribute__((target("avx2"))) void keepBlock(const __m256* w, const __m128i indexRows[4], int first,
                                               kaKeptBlendWeights& kept)
{
    const int slots = kept.slots;
    __m256 out[kLanes];
    for (int k = 0; k < slots - 1; ++k) out[k] = w[k];
    out[slots - 1] = _mm256_set1_ps(slots >= 2 ? 0.0f : 1.0f);
    if (slots >= 2)
        kept.clearedVertices += std::popcount(
            unsigned(_mm256_movemask_ps(_mm256_cmp_ps(w[slots - 1], _mm256_set1_ps(kept.threshold), _CMP_GT_OQ))));
    __m256 sum = _mm256_setzero_ps();
    for (int k = 0; k < slots; ++k) sum = _mm256_add_ps(sum, out[k]);
    const __m256 factor = _mm256_div_ps(_mm256_set1_ps(1.0f), sum);
    const __m256 nearZero = _mm256_and_ps(_mm256_cmp_ps(sum, _mm256_set1_ps(-kaBlendWeightZeroBand), _CMP_GE_OQ),
                                          _mm256_cmp_ps(sum, _mm256_set1_ps(kaBlendWeightZeroBand), _CMP_LE_OQ));
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), sum);
    const __m256 notFinite = _mm256_cmp_ps(magnitude, _mm256_set1_ps(INFINITY), _CMP_NLT_UQ);
    const __m256 noTotal = _mm256_or_ps(nearZero, notFinite);
    out[0] = _mm256_blendv_ps(_mm256_mul_ps(out[0], factor), _mm256_set1_ps(1.0f), noTotal);
    for (int k = 1; k < slots; ++k) out[k] = _mm256_andnot_ps(noTotal, _mm256_mul_ps(out[k], factor));
    for (int k = slots; k < kLanes; ++k) out[k] = _mm256_setzero_ps();
    transpose8x8(out);
    storeRows(out, kept.weights + static_cast<size_t>(first) * slots, slots, firstLanes(slots));
    storeByteRows(indexRows, kept.indices + static_cast<size_t>(first) * slots, slots);
}

} // namespace

__attribute__((target("avx2"))) int kaSortBlendWeightBlocksAvx2(float* weights, uint8_t* indices, int first,
                                                                int vertexCount, int weightCount,
                                                                kaKeptBlendWeights* kept, bool storeSorted)
{
    const __m256i slotMask = firstLanes(weightCount);
    // Slots past weightCount hold -infinity with the highest tags, so they sort last and stay there.
    const __m256 padding = _mm256_set1_ps(-INFINITY);
    alignas(32) int32_t tags[kLanes][kLanes];
    for (int k = weightCount; k < kLanes; ++k)
        for (int v = 0; v < kLanes; ++v) tags[k][v] = k << 8;

    for (; vertexCount - first >= kLanes; first += kLanes) {
        float* blockWeights = weights + static_cast<size_t>(first) * weightCount;
        uint8_t* blockIndices = indices + static_cast<size_t>(first) * weightCount;
        __m256 w[kLanes];
        for (int v = 0; v < kLanes; ++v)
            w[v] = weightCount == kLanes
                       ? _mm256_loadu_ps(blockWeights + v * kLanes)
                       : _mm256_blendv_ps(padding, _mm256_maskload_ps(blockWeights + v * weightCount, slotMask),
                                          _mm256_castsi256_ps(slotMask));
        transpose8x8(w);
        __m256 unordered = _mm256_cmp_ps(w[0], w[0], _CMP_UNORD_Q);
        for (int k = 1; k < weightCount; ++k) unordered = _mm256_or_ps(unordered, _mm256_cmp_ps(w[k], w[k], _CMP_UNORD_Q));
        if (_mm256_movemask_ps(unordered)) break;
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

        __m128i rows[4];
        indexRows(t, rows);
        if (kept) keepBlock(w, rows, first, *kept);
        if (storeSorted) {
            storeByteRows(rows, blockIndices, weightCount);
            transpose8x8(w);
            storeRows(w, blockWeights, weightCount, slotMask);
        }
    }
    return first;
}

} // namespace Lode::OptExtension
