#include "host/attrs/kaBoundingBox.h"

#include <algorithm>
#include <limits>

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaBoundingBox)

void kaBoundingBox::arkRegisterInitialize()
{
    // A new box is empty: its minimum lies above its maximum.
    const float big = std::numeric_limits<float>::max();
    const float emptyMinimum[3] = {big, big, big};
    const float emptyMaximum[3] = {-big, -big, -big};
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaBoundingBox, _minimum), 3, emptyMinimum);
    fields.addFloats(KA_FIELD(kaBoundingBox, _maximum), 3, emptyMaximum);
    fields.declare();
}

void kaBoundingBox::makeEmpty()
{
    const float big = std::numeric_limits<float>::max();
    _minimum.set(big, big, big);
    _maximum.set(-big, -big, -big);
}

void kaBoundingBox::extend(const kaVec3f& point)
{
    _minimum.set(std::min(_minimum.x, point.x), std::min(_minimum.y, point.y), std::min(_minimum.z, point.z));
    _maximum.set(std::max(_maximum.x, point.x), std::max(_maximum.y, point.y), std::max(_maximum.z, point.z));
}

void kaBoundingBox::setFromPoints(const float* xyz, int count)
{
    makeEmpty();
    for (int i = 0; i < count; ++i) extend({xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]});
}

} // namespace Lode::Attrs
