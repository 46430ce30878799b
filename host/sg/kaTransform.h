// A group that places its children: their points are transformed by the matrix (row vectors,
// p * M) before those of the groups above. An animated transform's matrix changes while the
// scene runs, so nothing below it may be baked into scene space.
#pragma once

#include "host/math/kaMath.h"
#include "host/sg/kaGroup.h"

namespace Lode::Sg {

using Lode::Math::kaMatrix44f;

class kaTransform : public kaGroup {
    KA_DECLARE_CLASS(kaTransform, kaGroup)
public:
    const kaMatrix44f& getMatrix() const { return _matrix; }
    void setMatrix(const kaMatrix44f& matrix) { _matrix = matrix; }
    bool isAnimated() const { return _animated; }
    void setAnimated(bool animated) { _animated = animated; }

protected:
    kaTransform() = default;

    kaMatrix44f _matrix;
    bool _animated = false;
};

} // namespace Lode::Sg
