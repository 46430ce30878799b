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
    // The same comparisons as extend, kept in locals: one pass over the contiguous positions.
    float low[3] = {_minimum.x, _minimum.y, _minimum.z};
    float high[3] = {_maximum.x, _maximum.y, _maximum.z};
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c) {
            const float value = xyz[3 * i + c];
            low[c] = std::min(low[c], value);
            high[c] = std::max(high[c], value);
        }
    _minimum.set(low[0], low[1], low[2]);
    _maximum.set(high[0], high[1], high[2]);
}

} // namespace Lode::Attrs
