#include "host/attrs/kaBoundingBox.h"

#include <algorithm>

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaBoundingBox)

void kaBoundingBox::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaBoundingBox, _minimum), 3, kEmptyMinimum);
    fields.addFloats(KA_FIELD(kaBoundingBox, _maximum), 3, kEmptyMaximum);
    fields.declare();
}

void kaBoundingBox::makeEmpty()
{
    _minimum = kaVec3f(kEmptyMinimum);
    _maximum = kaVec3f(kEmptyMaximum);
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
