// Morphing geometry, in its two generations.
//
// First generation: a kaMorphInstance draws its one geometry attribute with the vertices of a
// kaMorphBase, which holds per target sparse displacements: a list of vertex indices and a
// parallel list of displacement vectors, for positions and for normals.
//
// Second generation: a kaMorphInstance2 draws a kaMorphedGeometryAttr (dense morph data per
// vertex component) with one blend coefficient per target.
//
// Both take their animation from a kaMorphSequence.
#pragma once

#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/gfx/kaVertexArray.h"
#include "host/sg/kaGeometry.h"
#include "host/utils/kaVec3fList.h"

namespace Lode::Sg {

using Lode::Attrs::kaMorphedGeometryAttr;
using Lode::Gfx::kaVertexArray;
using Lode::Math::kaVec3f;
using Lode::Utils::kaVec3fAlignedList;
using Lode::Utils::kaVec3fList;
using Lode::Utils::kaVec3fListList;

// The weights of the targets when the morph starts, one per target.
class kaMorphSequence : public kaNamedObject {
    KA_DECLARE_CLASS(kaMorphSequence, kaNamedObject)
public:
    kaFloatList* getInitialWeights() const { return _initialWeights; }

protected:
    kaMorphSequence() = default;

    kaSmartPointer<kaFloatList> _initialWeights;
};

// The entry of a target in a per-target list, or null outside the list.
template <class List>
auto* kaMorphTargetEntry(const kaSmartPointer<List>& list, int target)
{
    return target >= 0 && target < list->getCount() ? list->getShared(target) : nullptr;
}

// What placing one sparse target on dense per-vertex displacements did.
struct kaMorphPlacement {
    int placed = 0;
    int withoutDisplacement = 0;  // index entries (the closing one aside) past the displacements
    int outOfRange = 0;           // pairs that name a vertex outside the array
};

// Places the sparse displacements of one target on a dense list of vertexCount entries, entry v
// at dense + v * stride: pair k sets the entry of vertex indices[k] to displacements[k], for k
// below the index count minus one, since an index list closes with one entry that places
// nothing. A later pair on the same vertex replaces an earlier one. Index entries without a
// displacement and vertices outside 0..vertexCount-1 place nothing and are counted. Null lists
// place nothing. Entries no pair sets are left as they are.
kaMorphPlacement kaPlaceDisplacements(const kaVec3fList* displacements, const kaIntList* indices, int vertexCount,
                                      float* dense, int stride);

class kaMorphBase : public kaObject {
    KA_DECLARE_CLASS(kaMorphBase, kaObject)
public:
    kaVertexArray* getVertexArray() const { return _vertexArray; }
    void setVertexArray(kaVertexArray* vertexArray) { _vertexArray = vertexArray; }

    int getTargetCount() const { return _positionDisplacements->getCount(); }
    // Targets added by a larger count have no displacements until set.
    void setTargetCount(int count);
    // Appends a target; any of the lists may be null (that component does not move).
    void appendTarget(kaVec3fList* positionDisplacements, kaIntList* positionIndices,
                      kaVec3fList* normalDisplacements, kaIntList* normalIndices);

    // Null for a target outside the count, or a component the target does not move.
    kaVec3fList* getPositionDisplacementVec(int target) const
    {
        return kaMorphTargetEntry(_positionDisplacements, target);
    }
    kaIntList* getPositionIndexArray(int target) const { return kaMorphTargetEntry(_positionIndices, target); }
    kaVec3fList* getNormalDisplacementVec(int target) const { return kaMorphTargetEntry(_normalDisplacements, target); }
    kaIntList* getNormalIndexArray(int target) const { return kaMorphTargetEntry(_normalIndices, target); }
    // A target beyond the count first extends the count to it.
    void setPositionDisplacementVec(int target, kaVec3fList* displacements);
    void setPositionIndexArray(int target, kaIntList* indices);
    void setNormalDisplacementVec(int target, kaVec3fList* displacements);
    void setNormalIndexArray(int target, kaIntList* indices);

    // A read base whose four per-target lists differ in length gets them all at the length of
    // the position displacements, so that every target has its four entries.
    void afterRead() override;

protected:
    kaMorphBase() = default;

    kaSmartPointer<kaVertexArray> _vertexArray;
    kaSmartPointer<kaVec3fListList> _positionDisplacements;
    kaSmartPointer<kaIntListList> _positionIndices;
    kaSmartPointer<kaVec3fListList> _normalDisplacements;
    kaSmartPointer<kaIntListList> _normalIndices;
};

class kaMorphInstance : public kaGeometry {
    KA_DECLARE_CLASS(kaMorphInstance, kaGeometry)
public:
    kaMorphBase* getBase() const { return _base; }
    void setBase(kaMorphBase* base) { _base = base; }
    kaMorphSequence* getMorphSequence() const { return _morphSequence; }
    void setMorphSequence(kaMorphSequence* sequence) { _morphSequence = sequence; }

    // The vertices drawn with the given target weights (weights past weightCount count as 0):
    // each base position plus the weighted displacements of the targets, and, when the base
    // vertex array has normals, each normal likewise, scaled back to unit length; otherwise
    // normals is emptied. False, with both lists emptied, without a base vertex array.
    bool evaluate(const float* weights, int weightCount, kaVec3fAlignedList* positions,
                  kaVec3fAlignedList* normals) const;

protected:
    kaMorphInstance() = default;

    kaSmartPointer<kaMorphBase> _base;
    kaSmartPointer<kaMorphSequence> _morphSequence;
};

class kaMorphInstance2 : public kaGeometry {
    KA_DECLARE_CLASS(kaMorphInstance2, kaGeometry)
public:
    kaMorphSequence* getMorphSequence() const { return _morphSequence; }
    void setMorphSequence(kaMorphSequence* sequence) { _morphSequence = sequence; }
    kaMorphedGeometryAttr* getMorphGeometry() const { return _morphGeometry; }
    void setMorphGeometry(kaMorphedGeometryAttr* geometry) { _morphGeometry = geometry; }
    // The current blend coefficient of each target.
    kaFloatList* getCoefficient() const { return _coefficients; }

    // The vertices drawn with the current coefficients: the first morph data of the morphed
    // geometry blends the positions, a second one the normals (normals is emptied without
    // one). False, with both lists emptied, without morph geometry or position data.
    bool evaluate(kaVec3fAlignedList* positions, kaVec3fAlignedList* normals) const;

protected:
    kaMorphInstance2() = default;

    kaSmartPointer<kaMorphSequence> _morphSequence;
    kaSmartPointer<kaMorphedGeometryAttr> _morphGeometry;
    kaSmartPointer<kaFloatList> _coefficients;
};

} // namespace Lode::Sg
