// The sort of blend weights by value, eight vertices at a time with AVX2, and with it the
// reduction of the sorted entries into a new array's blocks.
#pragma once

#include <cstdint>

namespace Lode::OptExtension {

// A vertex whose weights sum to within this distance of zero has no total to scale them by.
constexpr float kaBlendWeightZeroBand = 5e-7f;

// The blend weight and index blocks of a reduced array, slots entries per vertex, which a walk
// over sorted vertices fills: each vertex gets its first slots entries, the last weight set to
// 0.0 (1.0 when slots is 1), and the weights renormalised. clearedVertices counts the vertices
// whose weight in the last kept slot was above threshold before it was set (slots 2 or more).
struct kaKeptBlendWeights {
    float* weights = nullptr;
    uint8_t* indices = nullptr;
    int slots = 1;
    float threshold = 0.0f;
    bool nearestBoneTakesAll = false;
    int clearedVertices = 0;
};

// True when the processor can run kaSortBlendWeightBlocksAvx2.
bool kaCanSortBlendWeightsWithAvx2();

// Sorts the entries of the vertices from first on, eight at a time, largest weight first,
// stable, each vertex with weightCount (2 to 8) weights and as many blend indices, vertex-major.
// With kept (whose nearestBoneTakesAll must be false), also writes those vertices' kept entries;
// without storeSorted, the sorted entries go there only, the vertices' own stay as they are.
// Stops at a block of eight that holds a NaN weight and where fewer than eight vertices remain,
// and returns the vertex it stopped at: the caller treats the vertices from there on.
int kaSortBlendWeightBlocksAvx2(float* weights, uint8_t* indices, int first, int vertexCount, int weightCount,
                                kaKeptBlendWeights* kept, bool storeSorted);

} // namespace Lode::OptExtension
