// A matrix as a shared engine object: joints hand out their blending matrix this way, and
// matrix-list attributes refer to the same objects, so that a palette entry and the joint it
// belongs to are one object.
#pragma once

#include "host/core/kaList.h"
#include "host/math/kaMath.h"

namespace Lode::Utils {

using namespace Lode::Core;
using Lode::Math::kaMatrix44f;

class kaMatrixObject : public kaObject {
    KA_DECLARE_CLASS(kaMatrixObject, kaObject)
public:
    kaMatrix44f& getMatrix() { return _matrix; }
    const kaMatrix44f& getMatrix() const { return _matrix; }
    void setMatrix(const kaMatrix44f& matrix) { _matrix = matrix; }

protected:
    kaMatrixObject() = default;

    kaMatrix44f _matrix;
};

KA_DECLARE_OBJECT_LIST(kaMatrixObjectList, kaMatrixObject)

} // namespace Lode::Utils
