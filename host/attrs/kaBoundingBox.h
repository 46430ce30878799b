// An axis-aligned bounding box, shared by the geometry attributes that describe the same
// vertices. A box whose minimum lies above its maximum in any axis is empty.
#pragma once

#include "host/core/kaReflect.h"
#include "host/math/kaMath.h"

#include <limits>

namespace Lode::Attrs {

using namespace Lode::Core;
using Lode::Math::kaVec3f;

class kaBoundingBox : public kaObject {
    KA_DECLARE_CLASS(kaBoundingBox, kaObject)
public:
    const kaVec3f& getMinimum() const { return _minimum; }
    const kaVec3f& getMaximum() const { return _maximum; }
    void setBounds(const kaVec3f& minimum, const kaVec3f& maximum)
    {
        _minimum = minimum;
        _maximum = maximum;
    }
    bool isEmpty() const { return _minimum.x > _maximum.x || _minimum.y > _maximum.y || _minimum.z > _maximum.z; }
    void makeEmpty();
    void extend(const kaVec3f& point);
    // The box of count points stored as x y z triples; empty when count is 0.
    void setFromPoints(const float* xyz, int count);

protected:
    kaBoundingBox() = default;

    // A new box is empty: its minimum lies above its maximum.
    static constexpr float kEmptyMinimum[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                                               std::numeric_limits<float>::max()};
    static constexpr float kEmptyMaximum[3] = {-std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                                               -std::numeric_limits<float>::max()};

    kaVec3f _minimum{kEmptyMinimum};
    kaVec3f _maximum{kEmptyMaximum};
};

} // namespace Lode::Attrs
