// Second-generation morphing: a morphed geometry attribute wraps the geometry it deforms and
// holds one morph data object per deformed vertex component (positions, then normals). Each
// morph data holds the component's base values and one dense displacement list per target.
#pragma once

#include "host/attrs/kaGeometryAttr.h"
#include "host/core/kaList.h"
#include "host/utils/kaVec3fList.h"

namespace Lode::Attrs {

using Lode::Utils::kaVec3fAlignedList;
using Lode::Utils::kaVec3fAlignedListList;

class kaMorphData : public kaObject {
    KA_DECLARE_CLASS(kaMorphData, kaObject)
protected:
    kaMorphData() = default;
};

KA_DECLARE_OBJECT_LIST(kaMorphDataList, kaMorphData)

class kaVector3MorphData : public kaMorphData {
    KA_DECLARE_CLASS(kaVector3MorphData, kaMorphData)
public:
    kaVec3fAlignedList* getBase() const { return _base; }
    void setBase(kaVec3fAlignedList* base) { _base = base; }
    int getTargetCount() const { return _targets->getCount(); }
    // Null for a position outside the target list.
    kaVec3fAlignedList* getTarget(int index) const
    {
        return index >= 0 && index < _targets->getCount() ? _targets->getShared(index) : nullptr;
    }
    void appendTarget(kaVec3fAlignedList* target) { _targets->append(target); }

    // Number of elements (vertices) that the data deforms.
    int getElementCount() const { return _elementCount; }
    void setElementCount(int count) { _elementCount = count < 0 ? 0 : count; }
    // Non-zero: blended values are scaled back to unit length, as normals must be.
    int getNormalizeResult() const { return _normalizeResult; }
    void setNormalizeResult(int normalize) { _normalizeResult = normalize; }

    // result[e] = base[e] + sum over t of weights[t] * target t[e], for every element that the
    // element count, the base and each target cover; weights beyond weightCount count as 0.
    // result is sized to the element count; elements the base lacks stay zero.
    void blend(const float* weights, int weightCount, kaVec3fAlignedList* result) const;

protected:
    kaVector3MorphData() = default;

    int32_t _elementCount = 0;
    int32_t _normalizeResult = 0;
    kaSmartPointer<kaVec3fAlignedList> _base;
    kaSmartPointer<kaVec3fAlignedListList> _targets;
};

// Not a geometry attribute itself: what is drawn is the wrapped geometry, deformed.
class kaMorphedGeometryAttr : public kaAttr {
    KA_DECLARE_CLASS(kaMorphedGeometryAttr, kaAttr)
public:
    kaGeometryAttr* getGeometry() const { return _geometry; }
    void setGeometry(kaGeometryAttr* geometry) { _geometry = geometry; }
    kaMorphDataList* getMorphList() const { return _morphList; }

protected:
    kaMorphedGeometryAttr() = default;

    kaSmartPointer<kaGeometryAttr> _geometry;
    kaSmartPointer<kaMorphDataList> _morphList;
};

} // namespace Lode::Attrs
