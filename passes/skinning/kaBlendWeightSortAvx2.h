// The sort of blend weights by value, eight vertices at a time with AVX2.
#pragma once

#include <cstdint>

namespace Lode::OptExtension {

// Sorts one vertex's weightCount entries (weights, and as many blend indices) in place.
using kaVertexWeightSorter = void (*)(float* weights, uint8_t* indices, int weightCount, int indexCount);

// True when the processor can run kaSortBlendWeightBlocksAvx2.
bool kaCanSortBlendWeightsWithAvx2();

// Sorts the entries of every vertex in the complete blocks of eight vertices, largest weight
// first, stable, each vertex with weightCount (2 to 8) weights and as many blend indices,
// vertex-major. A block holding a NaN weight is handed vertex by vertex to fallback. Returns the
// number of vertices handled (vertexCount rounded down to a multiple of 8).
int kaSortBlendWeightBlocksAvx2(float* weights, uint8_t* indices, int vertexCount, int weightCount,
                                kaVertexWeightSorter fallback);

} // namespace Lode::OptExtension
