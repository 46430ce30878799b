// The vertex indices of a geometry attribute, in one contiguous block.
#pragma once

#include "host/core/kaReflect.h"

#include <cstdint>
#include <vector>

namespace Lode::Gfx {

class kaIndexArray : public Lode::Core::kaObject {
    KA_DECLARE_CLASS(kaIndexArray, Lode::Core::kaObject)
public:
    int getCount() const { return static_cast<int>(_indices.size()); }
    // Resizes the array; new entries are 0. A negative count empties it.
    void setCount(int count) { _indices.resize(count < 0 ? 0 : static_cast<size_t>(count)); }
    // The index at a position; 0 for a position outside the array.
    uint32_t getIndex(int position) const { return inRange(position) ? _indices[position] : 0u; }
    // Ignored for a position outside the array.
    void setIndex(int position, uint32_t index)
    {
        if (inRange(position)) _indices[position] = index;
    }
    uint32_t* data() { return _indices.data(); }
    const uint32_t* data() const { return _indices.data(); }

protected:
    kaIndexArray() = default;
    Lode::Core::kaBlock<uint32_t> _indices;

private:
    bool inRange(int position) const { return position >= 0 && static_cast<size_t>(position) < _indices.size(); }
};

} // namespace Lode::Gfx
