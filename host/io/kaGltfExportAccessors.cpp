// glTF export of data: buffer views and accessors, each kind of data written once.
#include "host/io/kaGltfExporter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Lode::Io {

namespace {

// Whole elements of the sizes gathered (a set of four weights, of four joints), so that each is
// one move.
template <size_t ElementBytes> void gather(const uint8_t* from, size_t stride, size_t elements, uint8_t* out)
{
    for (size_t e = 0; e < elements; ++e) std::memcpy(out + e * ElementBytes, from + e * stride, ElementBytes);
}

} // namespace

const uint8_t* kaGltfExporter::ViewBytes::at(size_t offset, size_t size, uint8_t* scratch) const
{
    if (elementBytes == 0) return data + offset;
    if (offset % elementBytes == 0 && size % elementBytes == 0 && (elementBytes == 4 || elementBytes == 16)) {
        const uint8_t* from = data + offset / elementBytes * sourceStride;
        (elementBytes == 4 ? gather<4> : gather<16>)(from, sourceStride, size / elementBytes, scratch);
        return scratch;
    }
    for (uint8_t* out = scratch; size > 0;) {
        const size_t within = offset % elementBytes;
        const size_t take = std::min(size, elementBytes - within);
        std::memcpy(out, data + offset / elementBytes * sourceStride + within, take);
        out += take;
        offset += take;
        size -= take;
    }
    return scratch;
}

int kaGltfExporter::addView(ViewBytes data, size_t bytes, int target)
{
    _binSize = (_binSize + 3) / 4 * 4;
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = _binSize;
    view.byteLength = bytes;
    view.target = target;
    _binSize += bytes;
    _viewData.push_back(data);
    _model.bufferViews.push_back(view);
    return static_cast<int>(_model.bufferViews.size()) - 1;
}

int kaGltfExporter::addAccessor(int view, int componentType, int type, size_t count)
{
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    _model.accessors.push_back(accessor);
    return static_cast<int>(_model.accessors.size()) - 1;
}

int kaGltfExporter::addData(ViewBytes data, size_t bytes, int target, int componentType, int type, size_t count,
                            bool normalized, size_t stride)
{
    // FNV-1a over the bytes and what they are, eight bytes a step in four interleaved lanes: the
    // digest only picks candidates, which are compared in full, and one lane waits on its own
    // multiplication at every step (a tenth of a whole-file conversion at a byte a step).
    constexpr uint64_t prime = 1099511628211ull;
    uint64_t lanes[4] = {1469598103934665603ull, 1469598103934665603ull ^ 1, 1469598103934665603ull ^ 2,
                         1469598103934665603ull ^ 3};
    uint64_t& digest = lanes[0];
    const auto mix = [&digest](uint64_t value) { digest = (digest ^ value) * prime; };
    std::vector<uint8_t> scratch(data.elementBytes == 0 ? 0 : ViewChunkBytes), other;
    for (size_t offset = 0; offset < bytes; offset += ViewChunkBytes) {
        const size_t size = std::min(ViewChunkBytes, bytes - offset);
        const uint8_t* at = data.at(offset, size, scratch.data());
        size_t i = 0;
        for (uint64_t words[4]; i + 32 <= size; i += 32) {
            std::memcpy(words, at + i, 32);
            for (int lane = 0; lane < 4; ++lane) lanes[lane] = (lanes[lane] ^ words[lane]) * prime;
        }
        for (uint64_t word; i + 8 <= size; i += 8) mix((std::memcpy(&word, at + i, 8), word));
        for (; i < size; ++i) mix(at[i]);
    }
    for (int lane = 1; lane < 4; ++lane) mix(lanes[lane]);
    for (uint64_t value :
         {uint64_t(target), uint64_t(componentType), uint64_t(type), uint64_t(count), uint64_t(normalized), uint64_t(stride)})
        mix(value);
    const auto sameBytes = [&](const ViewBytes& held) {
        if (held.elementBytes != 0) other.resize(ViewChunkBytes);
        for (size_t offset = 0; offset < bytes; offset += ViewChunkBytes) {
            const size_t size = std::min(ViewChunkBytes, bytes - offset);
            if (std::memcmp(held.at(offset, size, other.data()), data.at(offset, size, scratch.data()), size) != 0)
                return false;
        }
        return true;
    };
    const auto [first, last] = _accessorsByDigest.equal_range(digest);
    for (auto candidate = first; candidate != last; ++candidate) {
        const tinygltf::Accessor& accessor = _model.accessors[candidate->second];
        const tinygltf::BufferView& view = _model.bufferViews[accessor.bufferView];
        if (accessor.componentType == componentType && accessor.type == type && accessor.count == count &&
            accessor.normalized == normalized && view.target == target && view.byteLength == bytes &&
            view.byteStride == stride && sameBytes(_viewData[accessor.bufferView]))
            return candidate->second;
    }
    const int view = addView(data, bytes, target);
    _model.bufferViews[view].byteStride = stride;
    const int accessor = addAccessor(view, componentType, type, count);
    _model.accessors[accessor].normalized = normalized;
    _accessorsByDigest.emplace(digest, accessor);
    return accessor;
}

int kaGltfExporter::addFloats(const float* values, size_t count, int type, int target, bool bounds)
{
    const int components = type == TINYGLTF_TYPE_SCALAR ? 1 : type == TINYGLTF_TYPE_MAT4 ? 16 : type;
    const int accessor = addData(values, count * components * sizeof(float), target, TINYGLTF_COMPONENT_TYPE_FLOAT, type, count);
    if (!std::all_of(values, values + count * components, [](float value) { return std::isfinite(value); }))
        _nonFiniteAccessors.push_back(accessor);
    if (bounds) setBounds(accessor, values, count, components);
    return accessor;
}

void kaGltfExporter::setBounds(int accessor, const float* values, size_t count, int components)
{
    // A shared accessor has its bounds from its first use.
    if (count == 0 || !_model.accessors[accessor].minValues.empty()) return;
    std::vector<double>& low = _model.accessors[accessor].minValues;
    std::vector<double>& high = _model.accessors[accessor].maxValues;
    low.assign(values, values + components);
    high = low;
    for (size_t e = 1; e < count; ++e)
        for (int c = 0; c < components; ++c) {
            low[c] = std::min(low[c], double(values[e * components + c]));
            high[c] = std::max(high[c], double(values[e * components + c]));
        }
}

int kaGltfExporter::addSparseVectors(const std::map<uint32_t, kaVec3f>& entries, size_t count)
{
    // Zeros except at the listed elements: a sparse accessor without a buffer view, its indices
    // as narrow as they fit.
    const uint32_t largest = entries.empty() ? 0 : entries.rbegin()->first;
    const int indexType = largest < 256u ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE
                          : largest < 65536u ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT
                                             : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    const size_t indexSize = indexType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ? 1 : indexType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? 2 : 4;
    std::vector<uint8_t> indices;
    std::vector<float> values;
    std::vector<double> low(3, 0.0), high(3, 0.0);
    if (entries.size() == count && !entries.empty()) low = high = {entries.begin()->second.x, entries.begin()->second.y,
                                                                   entries.begin()->second.z};
    bool finite = true;
    for (const auto& [vertex, value] : entries) {
        for (size_t b = 0; b < indexSize; ++b) indices.push_back(static_cast<uint8_t>(vertex >> (8 * b)));
        finite = finite && std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z);
        for (int c = 0; c < 3; ++c) {
            values.push_back(value[c]);
            low[c] = std::min(low[c], double(value[c]));
            high[c] = std::max(high[c], double(value[c]));
        }
    }
    const std::string content = std::string(indices.begin(), indices.end()) +
                                std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
    const auto shared = _sparseAccessors.find({count, content});
    if (shared != _sparseAccessors.end()) return shared->second;
    const int accessor = addAccessor(-1, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
    _sparseAccessors.emplace(std::make_pair(count, content), accessor);
    if (!finite) _nonFiniteAccessors.push_back(accessor);
    _model.accessors[accessor].minValues = low;
    _model.accessors[accessor].maxValues = high;
    if (!entries.empty()) {
        const size_t indexBytes = indices.size(), valueBytes = values.size() * 4;
        const int indexView = addView({keep(std::move(indices))}, indexBytes, 0);
        const int valueView = addView({reinterpret_cast<const uint8_t*>(keep(std::move(values)))}, valueBytes, 0);
        tinygltf::Accessor& sparse = _model.accessors[accessor];
        sparse.sparse.isSparse = true;
        sparse.sparse.count = static_cast<int>(entries.size());
        sparse.sparse.indices.bufferView = indexView;
        sparse.sparse.indices.byteOffset = 0;
        sparse.sparse.indices.componentType = indexType;
        sparse.sparse.values.bufferView = valueView;
        sparse.sparse.values.byteOffset = 0;
    }
    return accessor;
}

} // namespace Lode::Io
