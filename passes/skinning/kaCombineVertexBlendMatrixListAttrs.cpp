// kaCombineVertexBlendMatrixListAttrs exists because skinned meshes of one skeleton usually come
// with partial matrix palettes of their own, and every change of palette costs a state change
// when they are drawn. For every top-level joint hierarchy (a joint reached from the root through
// non-joint nodes only) the pass gathers the blending matrices of all its joints into one list,
// ordered by object identity (creation order, so the same scene always gives the same list),
// rewrites the blend indices of every geometry whose palette holds only matrices of that
// hierarchy, and then makes each such palette hold the whole list. Geometry drawn from a palette
// of another hierarchy is left alone. The pass prints nothing unless the input is bad.
//
// Bad input, decided so that no data is silently rebound to another bone:
// - A blend index at or past its palette's size names no matrix. Left alone it would name some
//   other bone of the combined list, so its influence is dropped: the slot's weight becomes 0 and
//   its index 0. One warning per geometry attribute counts the dropped influences. A slot past
//   the stored weights weighs nothing and only gets index 0, except the one index of an array
//   without weights, which carries the whole vertex: that cannot be dropped, so it names the
//   combined list's first matrix, and one warning per geometry attribute counts those vertices.
// - Blend indices are 8-bit: a palette whose reachable matrices (its first 256) would land at
//   position 256 or later of the combined list cannot be rewritten. It and its geometry are left
//   unchanged, with one warning.
// - A vertex array drawn by several geometry attributes (or by a morph instance's attribute and
//   its base) is rewritten once. If it is met again under a palette that maps indices
//   differently, it keeps the first rewrite and one warning names the other geometry.
// - A palette is looked at again for every hierarchy: one combined for a hierarchy is combined
//   once more for a later one that holds all of its matrices (a joint under a plain group and
//   under another joint too), and its geometry is rewritten again from the list it now holds.
// - Besides the vertex arrays of geometry attributes, the pass rewrites the base vertex array of
//   a first-generation morph instance and the geometry wrapped by a morphed geometry attribute,
//   since these are what such nodes draw with the palette.
#include "passes/skinning/kaCombineVertexBlendMatrixListAttrs.h"

#include "passes/kaPassRegistration.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/opt/kaIterateAttr.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaMorph.h"
#include "passes/kaPassOutput.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Lode::OptExtension {

using Lode::Attrs::kaAttrList;
using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaMorphedGeometryAttr;
using Lode::Attrs::kaVertexBlendMatrixListAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Sg::kaAttrSet;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaGroup;
using Lode::Sg::kaJoint;
using Lode::Sg::kaMorphInstance;
using Lode::Utils::kaMatrixObject;

kaObjectRefMetaField* kaCombineVertexBlendMatrixListAttrs::k_matrices = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaCombineVertexBlendMatrixListAttrs, kaMatrixObjectList::arkRegister)

void kaCombineVertexBlendMatrixListAttrs::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_matrices, KA_FIELD(kaCombineVertexBlendMatrixListAttrs, _matrices),
               kaMatrixObjectList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.describe("the combined matrix list of the joint hierarchy worked on; after a run, that of the last one");
    fields.declare();
}

namespace {

// Blend indices are 8-bit: a palette position from here on cannot be named.
constexpr int kBlendIndexRange = 256;
// Marks, in a lookup table, a blend index that names no matrix of its palette.
constexpr uint16_t kNoMatrix = 0xFFFF;
using kaIndexLookup = std::array<uint16_t, kBlendIndexRange>;

} // namespace

// One geometry attribute below a palette: what it draws with, and where it is, for messages.
struct kaSkinnedUse {
    kaVertexBlendMatrixListAttr* palette;
    kaVertexArray* arrays[2];
    kaNode* node;
    int attrIndex;
};

struct kaCombineVertexBlendMatrixListAttrs::kaSkinnedGeometry {
    kaNode* root = nullptr;
    std::vector<kaSkinnedUse> uses;  // in walk order
    std::unordered_map<const kaVertexBlendMatrixListAttr*, std::vector<int>> usesOfPalette;
    // Palettes by their first matrix, in the order first met; a combined palette is listed
    // again under its new first matrix, and an entry whose palette begins otherwise now is stale.
    std::unordered_map<const kaMatrixObject*, std::vector<kaVertexBlendMatrixListAttr*>> palettesByFirstMatrix;
    // Numbers the hierarchies combined so far; the one being combined is the last.
    int hierarchy = 0;
    // The hierarchy each palette was last combined for: it holds that hierarchy's combined list.
    std::unordered_map<const kaVertexBlendMatrixListAttr*, int> combinedFor;
    // Palettes left unchanged because 8-bit indices cannot reach their place: warned once.
    std::unordered_set<const kaVertexBlendMatrixListAttr*> unreachable;
    // Vertex arrays already rewritten: with the lookup, for the hierarchy whose combined list
    // their indices now point into.
    struct kaRewrite {
        kaIndexLookup lookup;
        int hierarchy;
    };
    std::unordered_map<const kaVertexArray*, kaRewrite> rewritten;

    // The one walk over the geometry below root.
    explicit kaSkinnedGeometry(kaNode* start);
};

kaCombineVertexBlendMatrixListAttrs::kaSkinnedGeometry::kaSkinnedGeometry(kaNode* start) : root(start)
{
    kaMetaObject* paletteClass = kaVertexBlendMatrixListAttr::getClassMetaSafe();
    kaMetaObject* geometryClass = kaGeometry::getClassMetaSafe();
    auto iterator = make<kaIterateAttr>();
    for (kaNode* node = iterator->beginOfType(start, geometryClass); node;
         node = iterator->getNextOfType(geometryClass)) {
        auto* geometry = static_cast<kaAttrSet*>(node);
        const kaMorphInstance* morph = kaMorphInstance::dynamicCast(node);
        kaVertexArray* morphBase = morph && morph->getBase() ? morph->getBase()->getVertexArray() : nullptr;
        const int attrCount = geometry->getAttrCount();
        for (int i = 0; i < attrCount; ++i) {
            kaGeometryAttr* drawn = kaGeometryAttr::dynamicCast(geometry->getAttr(i));
            if (const auto* morphed = kaMorphedGeometryAttr::dynamicCast(geometry->getAttr(i)))
                drawn = morphed->getGeometry();
            if (!drawn) continue;
            kaSkinnedUse use{nullptr, {nullptr, nullptr}, node, i};
            int arrayCount = 0;
            for (kaVertexArray* array : {drawn->getVertexArray(), morphBase}) {
                const bool listed = arrayCount > 0 && use.arrays[0] == array;
                if (array && !listed && array->getVertexFormat().getBlendIndexCount() > 0)
                    use.arrays[arrayCount++] = array;
            }
            if (arrayCount == 0) continue;
            use.palette = static_cast<kaVertexBlendMatrixListAttr*>(iterator->getTopAttr(paletteClass, 0));
            if (!use.palette || use.palette->getMatrixCount() < 1) continue;
            std::vector<int>& paletteUses = usesOfPalette[use.palette];
            if (paletteUses.empty())
                palettesByFirstMatrix[use.palette->getMatrixPointer(0)].push_back(use.palette);
            paletteUses.push_back(static_cast<int>(uses.size()));
            uses.push_back(use);
        }
    }
}

namespace {

// What rewriting an array's blend indices could not keep: influences dropped, and vertices whose
// only index, carrying the whole vertex, was bound to the combined list's first matrix.
struct kaLostInfluences {
    int dropped = 0;
    int bound = 0;
};

// Rewrites every blend index of the array through the lookup; an index that names no matrix of
// its palette loses its influence where a weight can drop it.
kaLostInfluences rewriteBlendIndices(kaVertexArray& array, const kaIndexLookup& lookup)
{
    const int n = array.getVertexCount();
    const int indexCount = array.getVertexFormat().getBlendIndexCount();
    const int weightCount = array.getVertexFormat().getBlendWeightCount();
    uint8_t* indices = array.blendIndexData();
    float* weights = array.blendWeightData();
    kaLostInfluences lost;
    if (!indices) return lost;
    for (int v = 0; v < n; ++v) {
        uint8_t* slots = indices + static_cast<size_t>(v) * indexCount;
        for (int s = 0; s < indexCount; ++s) {
            const uint16_t position = lookup[slots[s]];
            if (position != kNoMatrix) {
                slots[s] = static_cast<uint8_t>(position);
                continue;
            }
            slots[s] = 0;
            if (s < weightCount) {
                float* weight = weights ? weights + static_cast<size_t>(v) * weightCount + s : nullptr;
                if (weight && *weight != 0.0f) *weight = 0.0f, ++lost.dropped;
            } else if (weightCount == 0 && s == 0) {
                ++lost.bound;
            }
        }
    }
    return lost;
}

} // namespace

kaCombineVertexBlendMatrixListAttrs::kaCombineVertexBlendMatrixListAttrs() = default;

kaCombineVertexBlendMatrixListAttrs::~kaCombineVertexBlendMatrixListAttrs() { kaObject::release(_matrices); }

bool kaCombineVertexBlendMatrixListAttrs::configure(int) { return true; }

bool kaCombineVertexBlendMatrixListAttrs::canOptimize(kaNode*) { return true; }

bool kaCombineVertexBlendMatrixListAttrs::apply(kaSmartPointer<kaNode>& root)
{
    if (!root) return false;
    auto joints = make<kaNodeList>();
    findNodes(root, kaJoint::getClassMetaSafe(), joints);
    _skinned = std::make_unique<kaSkinnedGeometry>(root);
    const int jointCount = joints->getCount();
    for (int j = 0; j < jointCount; ++j) {
        _matrices->removeAll();
        fillMatrixList(static_cast<kaJoint*>(joints->getShared(j)));
        combineMatrixLists(root);
    }
    _skinned.reset();
    return true;
}

// Depth first, children in order; a node of the type ends the search down its branch. The walk
// keeps a stack of its own so that scenes many thousands of levels deep are searched too.
void kaCombineVertexBlendMatrixListAttrs::findNodes(kaNode* node, kaMetaObject* type, kaNodeList* list) const
{
    std::vector<std::pair<kaGroup*, int>> pending;
    if (kaGroup* group = kaGroup::dynamicCast(node)) pending.emplace_back(group, 0);
    while (!pending.empty()) {
        kaGroup* group = pending.back().first;
        const int next = pending.back().second++;
        if (next == group->getChildCount()) {
            pending.pop_back();
            continue;
        }
        kaNode* child = group->getChild(next);
        if (!child) continue;
        if (child->isOfType(type))
            list->append(child);
        else if (kaGroup* inner = kaGroup::dynamicCast(child))
            pending.emplace_back(inner, 0);
    }
}

void kaCombineVertexBlendMatrixListAttrs::fillMatrixList(kaJoint* joint) const
{
    // The joint, then the joints below it, each with the joints below it in turn.
    std::vector<kaJoint*> pending{joint};
    while (!pending.empty()) {
        kaJoint* at = pending.back();
        pending.pop_back();
        // A joint without a blending matrix adds nothing; a matrix that two joints share is listed once.
        kaMatrixObject* matrix = at->getBlendingMatrix();
        if (matrix && _matrices->kaObjectList::sortedFind(matrix, kaCompareIdentity) < 0)
            _matrices->kaObjectList::sortedAdd(matrix, kaCompareIdentity);
        auto below = make<kaNodeList>();
        findNodes(at, kaJoint::getClassMetaSafe(), below);
        for (int j = below->getCount() - 1; j >= 0; --j) pending.push_back(static_cast<kaJoint*>(below->getShared(j)));
    }
}

void kaCombineVertexBlendMatrixListAttrs::combineMatrixLists(kaNode* root) const
{
    // Called on its own, the combining walks the scene now; within apply it uses apply's walk.
    std::unique_ptr<kaSkinnedGeometry> ownWalk;
    kaSkinnedGeometry* skinned = _skinned.get();
    if (!skinned || skinned->root != root) {
        ownWalk = std::make_unique<kaSkinnedGeometry>(root);
        skinned = ownWalk.get();
    }
    kaOptInterface* out = const_cast<kaCombineVertexBlendMatrixListAttrs*>(this)->getInterface();

    // Each matrix's position in the combined list: the first, should one be listed twice.
    const int combinedCount = _matrices->getCount();
    std::unordered_map<const kaMatrixObject*, int> positionOf;
    positionOf.reserve(static_cast<size_t>(combinedCount));
    for (int k = 0; k < combinedCount; ++k) positionOf.emplace(_matrices->getShared(k), k);

    auto treated = make<kaAttrList>();
    auto tables = make<kaIntListList>();

    // Only palettes that begin with a matrix of this hierarchy can hold nothing but its matrices.
    std::vector<int> usesToRewrite;
    for (int k = 0; k < combinedCount; ++k) {
        const auto candidates = skinned->palettesByFirstMatrix.find(_matrices->getShared(k));
        if (candidates == skinned->palettesByFirstMatrix.end()) continue;
        for (kaVertexBlendMatrixListAttr* palette : candidates->second) {
            if (palette->getMatrixPointer(0) != _matrices->getShared(k)) continue;
            const int matrixCount = palette->getMatrixCount();
            auto table = make<kaIntList>();
            bool reachable = true;
            for (int m = 0; m < matrixCount; ++m) {
                const auto found = positionOf.find(palette->getMatrixPointer(m));
                if (found == positionOf.end()) break;
                table->append(found->second);
                reachable = reachable && (m >= kBlendIndexRange || found->second < kBlendIndexRange);
            }
            // A matrix of another hierarchy: the palette is not this hierarchy's.
            if (table->getCount() < matrixCount) continue;
            if (!reachable) {
                if (!skinned->unreachable.insert(palette).second) continue;
                kaReport(out,
                         "WARNING: matrix list 0x%08x \"%s\" left unchanged: its matrices would lie past the %d "
                         "positions that 8-bit blend indices reach in the combined list of %d matrices.\n",
                         kaObjectId(palette), kaNameOf(palette), kBlendIndexRange, combinedCount);
                continue;
            }
            tables->insert(treated->kaObjectList::sortedAdd(palette, kaCompareIdentity), table);
            const std::vector<int>& uses = skinned->usesOfPalette[palette];
            usesToRewrite.insert(usesToRewrite.end(), uses.begin(), uses.end());
        }
    }

    // Walk order, so that the first geometry of a shared vertex array decides its rewrite.
    std::sort(usesToRewrite.begin(), usesToRewrite.end());
    for (int u : usesToRewrite) {
        const kaSkinnedUse& use = skinned->uses[u];
        const kaIntList* table = tables->getShared(treated->kaObjectList::sortedFind(use.palette, kaCompareIdentity));
        kaIndexLookup lookup;
        lookup.fill(kNoMatrix);
        for (int b = 0; b < std::min(table->getCount(), kBlendIndexRange); ++b)
            lookup[b] = static_cast<uint16_t>(table->get(b) & 0xFF);
        kaLostInfluences lost;
        for (kaVertexArray* array : use.arrays) {
            if (!array) continue;
            const auto done = skinned->rewritten.find(array);
            // Rewritten for an earlier hierarchy from the list this palette still holds: the
            // indices point into that list and are rewritten again.
            const auto combined = skinned->combinedFor.find(use.palette);
            const bool again = done != skinned->rewritten.end() && done->second.hierarchy < skinned->hierarchy &&
                               combined != skinned->combinedFor.end() && combined->second == done->second.hierarchy;
            if (done == skinned->rewritten.end() || again) {
                skinned->rewritten[array] = {lookup, skinned->hierarchy};
                const kaLostInfluences arrayLost = rewriteBlendIndices(*array, lookup);
                lost.dropped += arrayLost.dropped;
                lost.bound += arrayLost.bound;
            } else if (done->second.hierarchy != skinned->hierarchy || done->second.lookup != lookup) {
                kaReport(out,
                         "WARNING: geometry 0x%08x \"%s\" attr%d: its vertex array is shared with geometry under "
                         "another matrix list and keeps the blend indices rewritten for that list.\n",
                         kaObjectId(use.node), kaNameOf(use.node), use.attrIndex);
            }
        }
        if (lost.dropped > 0)
            kaReport(out, "%s",
                     kaLossMessage("WARNING: geometry 0x%08x \"%s\" attr%d: %d blend influences dropped: their blend "
                                   "indices lie outside the %d matrices of their matrix list.\n",
                                   kaObjectId(use.node), kaNameOf(use.node), use.attrIndex, lost.dropped,
                                   use.palette->getMatrixCount())
                         .c_str());
        if (lost.bound > 0)
            kaReport(out, "%s",
                     kaLossMessage("WARNING: geometry 0x%08x \"%s\" attr%d: %d vertices bound to the first matrix of "
                                   "the combined list: their one blend index, which carries the whole vertex, lies "
                                   "outside the %d matrices of their matrix list.\n",
                                   kaObjectId(use.node), kaNameOf(use.node), use.attrIndex, lost.bound,
                                   use.palette->getMatrixCount())
                         .c_str());
    }

    // The lists change only now, so that every table above was built from them as they were.
    for (int t = 0; t < treated->getCount(); ++t) {
        auto* palette = static_cast<kaVertexBlendMatrixListAttr*>(treated->getShared(t));
        const kaMatrixObject* formerFirst = palette->getMatrixPointer(0);
        palette->setMatrixCount(combinedCount);
        for (int k = 0; k < combinedCount; ++k) palette->setMatrixPointer(k, _matrices->getShared(k));
        skinned->combinedFor[palette] = skinned->hierarchy;
        // The combined list begins with the least of its matrices, the former first among
        // them: a palette never comes back to a first matrix it had, so it is listed once each.
        if (palette->getMatrixPointer(0) != formerFirst)
            skinned->palettesByFirstMatrix[palette->getMatrixPointer(0)].push_back(palette);
    }
    ++skinned->hierarchy;
}

} // namespace Lode::OptExtension
