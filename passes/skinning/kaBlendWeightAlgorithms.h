// The vertex-array operations behind kaReduceBlendWeights: two sorts that put each vertex's most
// influential blend weights first, and the reduction to fewer weights per vertex with the
// renormalisation (which can sort by value as it goes, so that the pass reads the weights once).
// A weight and the blend index of the same slot are one entry: sorts move both.
//
// All work on the array's contiguous blend weight and blend index blocks, vertex by vertex.
#pragma once

#include "host/gfx/kaVertexArray.h"
#include "host/math/kaMath.h"

#include <functional>

namespace Lode::OptExtension {

using Lode::Core::kaSmartPointer;
using Lode::Gfx::kaVertexArray;

// Sorts every vertex's entries by weight, largest first, in place. Stable: equal weights keep
// their order. A vertex holding a NaN weight gets exactly what the neighbour-exchange sort
// (exchange slot j-1 and j when weight j > weight j-1, restarting before the first exchange)
// gives it. Arrays with fewer than two weights per vertex are left unchanged.
//
// Three kernels give that same result: the exchange sort itself, a sorting network per vertex,
// and AVX2 over eight vertices at a time (when the processor has it, up to eight weights, one
// index per weight). Fastest takes the quickest that applies; the others exist so that the
// blend-weight benchmark can show what each is worth on the same data.
enum class kaValueSortKernel { Fastest, Network, Exchange };
void kaSortBlendWeightsByValue(kaVertexArray& array, kaValueSortKernel kernel = kaValueSortKernel::Fastest);

// Gives the inverse joint matrix of a blend index, or null when the skeleton has no bone for it
// (the callee reports that). Called once per lookup, as the sort looks bones up.
using kaInverseJointMatrixLookup = std::function<const Lode::Math::kaMatrix44f*(int blendIndex)>;

// Sorts every vertex's entries by the distance of their bone from the vertex position, nearest
// first, in place (an exchange sort over all slot pairs: not stable). An entry whose weight is
// not above 0, or whose bone cannot be looked up, stands at the far point (FLT_MAX in each
// component) and so after every entry with a real bone. A null lookup means no skeleton: every
// bone is at the far point and nothing moves.
void kaSortBlendWeightsByBoneDistance(kaVertexArray& array, const kaInverseJointMatrixLookup& lookup);

// The order in which the reduction finds each vertex's entries, first kept first, and with it
// how the kept weights are renormalised.
//   AsStored        the entries as they stand.
//   ByValue         sorted by value as the reduction goes, as kaSortBlendWeightsByValue sorts
//                   them; the array's own entries are sorted in place too (see kaReducedSource).
//   ByBoneDistance  as they stand, sorted already by kaSortBlendWeightsByBoneDistance; a vertex
//                   whose kept weights sum to about zero gets 1.0 in slot 0, the rest left.
enum class kaKeptOrder { AsStored, ByValue, ByBoneDistance };

// What becomes of the array that is reduced. Kept: it is still wanted, and ends as it would
// after kaSortBlendWeightsByValue with ByValue. LetGo: its holder swaps it for the reduced array
// and nothing else holds it, so its entries may be left in any order and its other components
// are moved into the reduced array rather than copied (see kaVertexArray::setupFrom).
enum class kaReducedSource { Kept, LetGo };

struct kaReducedBlendWeights {
    kaSmartPointer<kaVertexArray> array;
    // Vertices whose weight in the last kept slot, set to 0.0 below, was above the threshold.
    int clearedVertices = 0;
};

// The array reduced to at most count entries per vertex, in one walk over the vertices (after a
// look at the weights that stops once every slot is seen in use). count is first lowered by one
// for every weight slot in which no vertex has a weight above threshold (not below 0), the
// entries taken in order. When it is then not below the array's weight count, the array itself
// is returned as it is. Otherwise a new array of the same class, its set-up closed, with blend
// weight and index counts both count (both 1 when count is 0) and every other component copied
// or moved (see kaReducedSource). Each vertex keeps its first count entries (index 0 for slots past its
// indices); the last kept slot's weight is set to 0.0 when two or more slots remain and to 1.0
// when one remains. Then the kept weights are rescaled to a sum of 1 (the sum taken in slot
// order, in single precision; each weight times 1/sum). A vertex whose sum lies within -5e-7 to
// 5e-7, or is NaN or infinite, gets 1.0 in slot 0 and 0.0 in the others (but see
// ByBoneDistance), so that no weight is ever NaN or infinite.
kaReducedBlendWeights kaReduceBlendWeightArray(kaVertexArray& array, unsigned int count, float threshold,
                                               kaKeptOrder order, kaReducedSource source = kaReducedSource::Kept);

} // namespace Lode::OptExtension
