// Lists of 3-component vectors, kept as one contiguous float block so that files write them in
// one piece and hot loops run over plain floats. kaVec3fList packs 3 floats per element;
// kaVec3fAlignedList pads every element to 4 floats (16 bytes), the layout that morph blending
// works on, with the padding float kept at 0.
#pragma once

#include "host/core/kaList.h"
#include "host/math/kaMath.h"

#include <algorithm>
#include <vector>

namespace Lode::Utils {

using namespace Lode::Core;
using Lode::Math::kaVec3f;

template <int Stride>
class kaTVec3fList : public kaObject {
    static_assert(Stride >= 3);

public:
    static constexpr int FloatsPerElement = Stride;

    int getCount() const { return static_cast<int>(_data.size() / Stride); }
    // New elements are zero vectors.
    void setCount(int count) { _data.resize(static_cast<size_t>(std::max(count, 0)) * Stride, 0.0f); }
    kaVec3f get(int index) const
    {
        const float* element = _data.data() + static_cast<size_t>(index) * Stride;
        return {element[0], element[1], element[2]};
    }
    void set(int index, const kaVec3f& value)
    {
        float* element = _data.data() + static_cast<size_t>(index) * Stride;
        element[0] = value.x;
        element[1] = value.y;
        element[2] = value.z;
    }
    void append(const kaVec3f& value)
    {
        setCount(getCount() + 1);
        set(getCount() - 1, value);
    }
    void setAll(const kaVec3f& value)
    {
        for (int i = 0; i < getCount(); ++i) set(i, value);
    }
    void removeAll() { _data.clear(); }

    // Element i starts at data() + i * FloatsPerElement.
    float* data() { return _data.data(); }
    const float* data() const { return _data.data(); }

    // A block read from a file that does not hold whole elements loses the partial one.
    void afterRead() override { _data.resize(_data.size() / Stride * Stride); }

protected:
    Lode::Core::kaBlock<float> _data;
};

class kaVec3fList : public kaTVec3fList<3> {
    KA_DECLARE_CLASS(kaVec3fList, kaTVec3fList<3>)
};

class kaVec3fAlignedList : public kaTVec3fList<4> {
    KA_DECLARE_CLASS(kaVec3fAlignedList, kaTVec3fList<4>)
};

KA_DECLARE_OBJECT_LIST(kaVec3fListList, kaVec3fList)
KA_DECLARE_OBJECT_LIST(kaVec3fAlignedListList, kaVec3fAlignedList)

} // namespace Lode::Utils
