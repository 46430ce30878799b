// The matrix palette of skinned geometry: the blend indices of the vertices below the attribute
// set that holds it are positions in this list. The entries are the joints' own blending matrix
// objects, shared, not copies.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/utils/kaMatrixObject.h"

namespace Lode::Attrs {

using Lode::Utils::kaMatrixObject;
using Lode::Utils::kaMatrixObjectList;

class kaVertexBlendMatrixListAttr : public kaAttr {
    KA_DECLARE_CLASS(kaVertexBlendMatrixListAttr, kaAttr)
public:
    int getMatrixCount() const { return _matrices->getCount(); }
    // Entries added by a larger count are empty until set.
    void setMatrixCount(int count);
    // Null for a position outside the list or an empty entry.
    kaMatrixObject* getMatrixPointer(int index) const;
    void setMatrixPointer(int index, kaMatrixObject* matrix) { _matrices->set(index, matrix); }
    void appendMatrix(kaMatrixObject* matrix) { _matrices->append(matrix); }
    kaMatrixObjectList* getMatrices() const { return _matrices; }

protected:
    kaVertexBlendMatrixListAttr() = default;

    kaSmartPointer<kaMatrixObjectList> _matrices;
};

} // namespace Lode::Attrs
