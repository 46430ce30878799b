// A joint of a skeleton's node hierarchy. Like any transform it places its children (the joint's
// own motion, which animations drive); its blending matrix is the matrix that skinned vertices
// bound to the joint are transformed by; matrix palettes refer to the same object.
#pragma once

#include "host/sg/kaTransform.h"
#include "host/utils/kaMatrixObject.h"

namespace Lode::Sg {

using Lode::Utils::kaMatrixObject;

class kaJoint : public kaTransform {
    KA_DECLARE_CLASS(kaJoint, kaTransform)
public:
    kaMatrixObject* getBlendingMatrix() const { return _blendingMatrix; }
    void setBlendingMatrix(kaMatrixObject* matrix) { _blendingMatrix = matrix; }

protected:
    kaJoint() = default;

    kaSmartPointer<kaMatrixObject> _blendingMatrix;
};

} // namespace Lode::Sg
