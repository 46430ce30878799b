// The vertex-array operations behind kaReduceBlendWeights: two sorts that put each vertex's most
// influential blend weights first, the reduction to fewer weights per vertex, and the
// renormalisation. A weight and the blend index of the same slot are one entry: sorts move both.
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

// The array reduced to at most count entries per vertex. count is first lowered by one for
// every weight slot in which no vertex has a weight above threshold (not below 0). When it is
// then not below the array's weight count, the array itself is returned; otherwise a new array
// of the same class, with blend weight and index counts both count (both 1 when count is 0) and
// every other component copied. In the new array the last kept slot's weight is set to 0.0 when
// two or more slots remain and to 1.0 when one remains. The new array's set-up is left open.
kaSmartPointer<kaVertexArray> kaReduceBlendWeightArray(kaVertexArray& array, unsigned int count, float threshold);

// Rescales each vertex's weights to a sum of 1 (the sum taken in slot order, in single
// precision; each weight times 1/sum), in place, then closes the array's set-up. A vertex whose
// sum lies within -5e-7 to 5e-7: with nearestBoneTakesAll (the sort by bone distance) slot 0
// becomes 1.0 and the other slots are left; otherwise, and for a sum that is NaN or infinite,
// slot 0 becomes 1.0 and the other slots 0.0, so that no weight is ever NaN or infinite.
void kaNormalizeBlendWeights(kaVertexArray& array, bool nearestBoneTakesAll);

} // namespace Lode::OptExtension
