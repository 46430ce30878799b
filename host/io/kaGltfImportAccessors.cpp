// glTF import of buffer data: every accessor and buffer view is checked against the bytes the
// buffers really have before anything is read through it.
#include "host/io/kaGltfImporter.h"

#include "host/io/kaGltfVertexData.h"
#include "host/utils/kaProgress.h"

#include <algorithm>
#include <cstring>

namespace Lode::Io {

namespace {

int componentSize(int componentType)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    default: return 0;
    }
}

} // namespace

int componentCount(int type)
{
    switch (type) {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4: return 4;
    case TINYGLTF_TYPE_MAT2: return 4;
    case TINYGLTF_TYPE_MAT3: return 9;
    case TINYGLTF_TYPE_MAT4: return 16;
    default: return 0;
    }
}

namespace {

bool isUnsignedInteger(int componentType)
{
    return componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

uint32_t readUnsigned(const uint8_t* at, int componentType)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return *at;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t value;
        std::memcpy(&value, at, 2);
        return value;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        uint32_t value;
        std::memcpy(&value, at, 4);
        return value;
    }
    default: return 0;
    }
}

} // namespace

bool kaGltfImporter::locateView(int viewIndex, size_t offset, uint64_t bytes, const std::string& what,
                                const uint8_t*& data, size_t& available)
{
    if (viewIndex < 0 || size_t(viewIndex) >= _model.bufferViews.size())
        return fail(what + " refers to buffer view " + std::to_string(viewIndex) + ", which does not exist");
    const tinygltf::BufferView& view = _model.bufferViews[viewIndex];
    if (view.buffer < 0 || size_t(view.buffer) >= _model.buffers.size())
        return fail("buffer view " + std::to_string(viewIndex) + " refers to buffer " + std::to_string(view.buffer) +
                    ", which does not exist");
    const kaGltfBuffers::Span& buffer = _buffers[size_t(view.buffer)];
    if (view.byteOffset > buffer.size || view.byteLength > buffer.size - view.byteOffset)
        return fail("buffer view " + std::to_string(viewIndex) + " needs bytes " + std::to_string(view.byteOffset) +
                    " to " + std::to_string(uint64_t(view.byteOffset) + view.byteLength) + " of buffer " +
                    std::to_string(view.buffer) + ", which has " + std::to_string(buffer.size) + " bytes");
    if (offset > view.byteLength || bytes > view.byteLength - offset)
        return fail(what + " needs " + std::to_string(bytes) + " bytes from byte " + std::to_string(offset) +
                    " of buffer view " + std::to_string(viewIndex) + ", which has " +
                    std::to_string(view.byteLength) + " bytes");
    data = buffer.data + view.byteOffset + offset;
    available = view.byteLength - offset;
    return true;
}

bool kaGltfImporter::locateAccessor(int index, const std::string& what, std::initializer_list<int> types,
                                    kaAccessorView& view)
{
    if (index < 0 || size_t(index) >= _model.accessors.size())
        return fail(what + " refers to accessor " + std::to_string(index) + ", which does not exist");
    const tinygltf::Accessor& accessor = _model.accessors[index];
    const std::string name = "accessor " + std::to_string(index) + " (" + what + ")";
    if (std::find(types.begin(), types.end(), accessor.type) == types.end())
        return fail(name + " has an element type that does not fit");
    const int size = componentSize(accessor.componentType);
    if (size == 0) return fail(name + " has an unknown component type " + std::to_string(accessor.componentType));
    view = {};
    view.accessor = &accessor;
    view.components = componentCount(accessor.type);
    view.count = accessor.count;
    const size_t elementBytes = size_t(size) * view.components;
    if (accessor.bufferView < 0) {
        // Zeros plus sparse values: the file spends no bytes on the elements, so their number is
        // held to what the file could plausibly describe.
        if (accessor.count > _maxZeroFilledCount)
            return fail(name + " has " + std::to_string(accessor.count) + " elements without data");
    } else if (accessor.count > 0) {
        const tinygltf::BufferView& bufferView =
            size_t(accessor.bufferView) < _model.bufferViews.size() ? _model.bufferViews[accessor.bufferView]
                                                                    : tinygltf::BufferView();
        view.stride = bufferView.byteStride ? bufferView.byteStride : elementBytes;
        if (view.stride < elementBytes) return fail(name + " has elements wider than the stride of its buffer view");
        // Checked by division first, so that a huge count cannot overflow the product.
        const uint64_t limit = bufferView.byteLength / view.stride + 1;
        const uint64_t bytes = accessor.count > limit ? UINT64_MAX : view.stride * (accessor.count - 1) + elementBytes;
        size_t available = 0;
        if (!locateView(accessor.bufferView, accessor.byteOffset, bytes, name, view.data, available)) return false;
    }
    if (accessor.sparse.isSparse &&
        (accessor.sparse.count < 1 || size_t(accessor.sparse.count) > accessor.count))
        return fail(name + " has " + std::to_string(accessor.sparse.count) + " sparse elements for " +
                    std::to_string(accessor.count) + " elements");
    return true;
}

template <class Read>
bool kaGltfImporter::applySparse(const kaAccessorView& view, const std::string& what, Read read)
{
    const tinygltf::Accessor& accessor = *view.accessor;
    if (!accessor.sparse.isSparse) return true;
    const int indexType = accessor.sparse.indices.componentType;
    if (!isUnsignedInteger(indexType)) return fail(what + ": the sparse indices are not unsigned integers");
    const size_t count = size_t(accessor.sparse.count);
    const size_t elementBytes = size_t(componentSize(accessor.componentType)) * view.components;
    const uint8_t* indices = nullptr;
    const uint8_t* values = nullptr;
    size_t available = 0;
    if (accessor.sparse.indices.byteOffset < 0 || accessor.sparse.values.byteOffset < 0)
        return fail(what + ": a sparse byte offset is negative");
    if (!locateView(accessor.sparse.indices.bufferView, size_t(accessor.sparse.indices.byteOffset),
                    uint64_t(count) * componentSize(indexType), what + " sparse indices", indices, available) ||
        !locateView(accessor.sparse.values.bufferView, size_t(accessor.sparse.values.byteOffset),
                    uint64_t(count) * elementBytes, what + " sparse values", values, available))
        return false;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t element = readUnsigned(indices + k * componentSize(indexType), indexType);
        if (element >= view.count)
            return fail(what + ": sparse index " + std::to_string(element) + " is out of range (count " +
                        std::to_string(view.count) + ")");
        read(element, values + k * elementBytes);
    }
    return true;
}

template <class Use> bool kaGltfImporter::readRuns(const kaAccessorView& view, const std::string& what, Use use)
{
    // A run is read into a buffer small enough to stay in cache while it is used.
    constexpr size_t kRunBytes = size_t(256) << 10;
    const size_t element = size_t(componentSize(view.accessor->componentType)) * size_t(view.components);
    const size_t perRun = std::max<size_t>(1, kRunBytes / view.stride);
    std::string error;
    for (size_t first = 0; first < view.count; first += perRun) {
        const size_t count = std::min(perRun, view.count - first);
        const size_t bytes = view.stride * (count - 1) + element;
        _run.resize(bytes);
        if (!_buffers.read(view.data + first * view.stride, bytes, _run.data(), error))
            return fail(what + " cannot be read: " + error);
        use(first, count, _run.data());
    }
    return true;
}

template <class T, class Convert>
bool kaGltfImporter::copyElements(int index, const kaAccessorView& view, const std::string& what, bool asStored, T* out,
                                  size_t outStride, Convert convert)
{
    const size_t size = size_t(componentSize(view.accessor->componentType));
    const size_t components = size_t(view.components);
    const size_t element = size * components;
    const std::string name = "accessor " + std::to_string(index) + " (" + what + ")";
    // Element e as stored, or converted component by component.
    const auto put = [&](size_t e, const uint8_t* at) {
        if (asStored)
            std::memcpy(out + e * outStride, at, element);
        else
            for (size_t c = 0; c < components; ++c) out[e * outStride + c] = convert(at + c * size);
    };
    if (view.data && view.count > 0) {
        std::string error;
        if (asStored && view.stride == element && outStride * sizeof(T) == element) {
            // Tightly packed as the engine keeps them, the common case: one read.
            if (!_buffers.read(view.data, view.count * element, out, error))
                return fail(name + " cannot be read: " + error);
        } else if (!readRuns(view, name, [&](size_t first, size_t count, const uint8_t* run) {
                       for (size_t e = 0; e < count; ++e) put(first + e, run + e * view.stride);
                   })) {
            return false;
        }
        // Accessors may share bytes: done is held to the total.
        const uint64_t total = _buffers.totalBytes();
        _bytesRead = std::min<uint64_t>(_bytesRead + view.stride * (view.count - 1) + element, total);
        kaProgress::report(_bytesRead, total);
    } else {
        const size_t written = asStored ? element : components * sizeof(T);
        for (size_t e = 0; e < view.count; ++e) std::memset(out + e * outStride, 0, written);
    }
    return applySparse(view, name, [&](uint32_t e, const uint8_t* at) { put(e, at); });
}

bool kaGltfImporter::readFloats(int index, const std::string& what, std::initializer_list<int> types,
                                std::vector<float>& values, int& components)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, types, view)) return false;
    const int type = view.accessor->componentType;
    const bool normalized = view.accessor->normalized;
    components = view.components;
    values.resize(view.count * components);
    return copyElements(index, view, what, type == TINYGLTF_COMPONENT_TYPE_FLOAT, values.data(), size_t(components),
                        [type, normalized](const uint8_t* at) { return kaGltfComponentValue(at, type, normalized); });
}

bool kaGltfImporter::readVertexFloats(int index, const std::string& what, const std::string& name, int type,
                                      size_t vertexCount, float* out, size_t outStride)
{
    kaAccessorView view;
    if (!locateAccessor(index, what + " " + name, {type}, view)) return false;
    if (view.count != vertexCount)
        return fail(what + " has " + std::to_string(view.count) + " " + name + " values for " +
                    std::to_string(vertexCount) + " vertices");
    const int componentType = view.accessor->componentType;
    const bool normalized = view.accessor->normalized;
    return copyElements(
        index, view, what + " " + name, componentType == TINYGLTF_COMPONENT_TYPE_FLOAT, out, outStride,
        [componentType, normalized](const uint8_t* at) { return kaGltfComponentValue(at, componentType, normalized); });
}

bool kaGltfImporter::readUnsigneds(int index, const std::string& what, std::initializer_list<int> types,
                                   std::vector<uint32_t>& values, int& components)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, types, view)) return false;
    const int type = view.accessor->componentType;
    if (!isUnsignedInteger(type))
        return fail("accessor " + std::to_string(index) + " (" + what + ") does not hold unsigned integers");
    components = view.components;
    values.resize(view.count * components);
    return copyElements(index, view, what, type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, values.data(),
                        size_t(components), [type](const uint8_t* at) { return readUnsigned(at, type); });
}

bool kaGltfImporter::readByteJoints(int index, const std::string& what, size_t vertexCount, uint32_t limit,
                                    uint8_t* out, size_t outStride, bool& direct)
{
    kaAccessorView view;
    direct = false;
    if (!locateAccessor(index, what, {TINYGLTF_TYPE_VEC4}, view)) return false;
    if (view.accessor->componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE || view.count != vertexCount) return true;
    if (!copyElements(index, view, what, true, out, outStride, [](const uint8_t* at) { return *at; })) return false;
    direct = true;
    for (size_t v = 0; direct && v < vertexCount; ++v)
        for (int k = 0; k < 4; ++k) direct = direct && out[v * outStride + k] < limit;
    return true;
}

bool kaGltfImporter::readIndices(int index, const std::string& what, bool closeLoop, size_t vertexCount,
                                 kaSmartPointer<kaIndexArray>* array, int& drawn)
{
    kaAccessorView view;
    const std::string name = what + " indices";
    if (!locateAccessor(index, name, {TINYGLTF_TYPE_SCALAR}, view)) return false;
    const int type = view.accessor->componentType;
    if (!isUnsignedInteger(type))
        return fail("accessor " + std::to_string(index) + " (" + name + ") does not hold unsigned integers");
    if (view.count > size_t(INT32_MAX) - 1) return fail(what + " has too many indices");
    const bool loop = closeLoop && view.count > 0;
    drawn = static_cast<int>(view.count + loop);
    if (!array) return true;
    *array = make<kaIndexArray>();
    (*array)->setCount(drawn);
    uint32_t* indices = (*array)->data();
    if (!copyElements(index, view, name, type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, indices, 1,
                      [type](const uint8_t* at) { return readUnsigned(at, type); }))
        return false;
    for (size_t i = 0; i < view.count; ++i)
        if (indices[i] >= vertexCount)
            return fail(what + " has vertex index " + std::to_string(indices[i]) + ", out of range for " +
                        std::to_string(vertexCount) + " vertices");
    if (loop) indices[view.count] = indices[0];
    return true;
}

bool kaGltfImporter::readStream(int index, const std::string& what, const std::string& name, int target,
                                size_t vertexCount, kaVertexArray* vertices)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, {TINYGLTF_TYPE_SCALAR, TINYGLTF_TYPE_VEC2, TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4}, view))
        return false;
    if (view.count != vertexCount)
        return fail(what + " has " + std::to_string(view.count) + " values for " + std::to_string(vertexCount) +
                    " vertices");
    auto stream = make<kaVertexStream>();
    stream->setSemantic(name.c_str());
    kaVertexStream::ComponentType type;
    kaStreamComponentTypeOf(view.accessor->componentType, type);
    stream->setComponentType(type);
    stream->setComponentCount(view.components);
    stream->setNormalized(view.accessor->normalized);
    stream->setTarget(target);
    const size_t element = stream->getElementSize();
    kaBlock<uint8_t>& bytes = stream->data();
    bytes.assign(view.count * element, 0);
    if (!copyElements(index, view, what, true, bytes.data(), element, [](const uint8_t* at) { return *at; }))
        return false;
    vertices->appendStream(stream);
    return true;
}

} // namespace Lode::Io
