#include "host/io/kaGltfVertexData.h"

#include "host/io/kaGltfCommon.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Lode::Io {

using Lode::Gfx::kaVertexStream;

float kaGltfComponentValue(const uint8_t* at, int componentType, bool normalized)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_FLOAT: {
        float value;
        std::memcpy(&value, at, 4);
        return value;
    }
    case TINYGLTF_COMPONENT_TYPE_BYTE: {
        const auto value = static_cast<int8_t>(*at);
        return normalized ? std::max(value / 127.0f, -1.0f) : value;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? *at / 255.0f : *at;
    case TINYGLTF_COMPONENT_TYPE_SHORT: {
        int16_t value;
        std::memcpy(&value, at, 2);
        return normalized ? std::max(value / 32767.0f, -1.0f) : value;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t value;
        std::memcpy(&value, at, 2);
        return normalized ? value / 65535.0f : value;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        uint32_t value;
        std::memcpy(&value, at, 4);
        return normalized ? static_cast<float>(value / 4294967295.0) : static_cast<float>(value);
    }
    default: return 0.0f;
    }
}

int kaGltfComponentTypeOf(kaVertexStream::ComponentType type)
{
    switch (type) {
    case kaVertexStream::Int8: return TINYGLTF_COMPONENT_TYPE_BYTE;
    case kaVertexStream::UInt8: return TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE;
    case kaVertexStream::Int16: return TINYGLTF_COMPONENT_TYPE_SHORT;
    case kaVertexStream::UInt16: return TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    case kaVertexStream::UInt32: return TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    case kaVertexStream::Float32: return TINYGLTF_COMPONENT_TYPE_FLOAT;
    }
    return TINYGLTF_COMPONENT_TYPE_FLOAT;
}

bool kaStreamComponentTypeOf(int gltfComponentType, kaVertexStream::ComponentType& type)
{
    for (auto candidate : {kaVertexStream::Int8, kaVertexStream::UInt8, kaVertexStream::Int16, kaVertexStream::UInt16,
                           kaVertexStream::UInt32, kaVertexStream::Float32})
        if (kaGltfComponentTypeOf(candidate) == gltfComponentType) {
            type = candidate;
            return true;
        }
    return false;
}

namespace {

// The integer that stands for value in the encoding, when there is one that reads back as value.
bool encodeOne(float value, int componentType, bool normalized, uint8_t* at)
{
    // The integers of the type; a normalised signed type leaves out its lowest, which reads as -1
    // like the one above it.
    double low = 0.0, high = 0.0;
    int size = 0;
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE: low = normalized ? -127.0 : -128.0, high = 127.0, size = 1; break;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: high = 255.0, size = 1; break;
    case TINYGLTF_COMPONENT_TYPE_SHORT: low = normalized ? -32767.0 : -32768.0, high = 32767.0, size = 2; break;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: high = 65535.0, size = 2; break;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: high = 4294967295.0, size = 4; break;
    default: return false;
    }
    const double scaled = std::nearbyint(normalized ? double(value) * high : double(value));
    if (!(scaled >= low && scaled <= high)) return false;
    const int64_t integer = static_cast<int64_t>(scaled);
    for (int b = 0; b < size; ++b) at[b] = static_cast<uint8_t>(uint64_t(integer) >> (8 * b));
    return kaGltfComponentValue(at, componentType, normalized) == value;
}

} // namespace

bool kaGltfEncodeExactly(const float* values, size_t elements, int components, int componentType, bool normalized,
                         size_t stride, std::vector<uint8_t>& bytes)
{
    const size_t size = componentType == TINYGLTF_COMPONENT_TYPE_FLOAT || componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT ? 4
                        : componentType == TINYGLTF_COMPONENT_TYPE_SHORT || componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? 2
                                                                                                                               : 1;
    std::vector<uint8_t> encoded(elements * stride, 0);
    for (size_t e = 0; e < elements; ++e)
        for (int c = 0; c < components; ++c) {
            uint8_t* at = encoded.data() + e * stride + c * size;
            const float value = values[e * components + c];
            if (componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
                std::memcpy(at, &value, 4);
            else if (!encodeOne(value, componentType, normalized, at))
                return false;
        }
    bytes.swap(encoded);
    return true;
}

// The sum as a glTF reader checks it: in single precision, over the weights that are not 0.
bool kaGltfWeightsSumToOne(const float* weights, int slots)
{
    // Adding a zero leaves a sum as it is, so every weight is added, without a branch per slot.
    float sum = 0.0f;
    int counted = 0;
    for (int k = 0; k < slots; ++k) {
        sum += weights[k];
        counted += weights[k] != 0.0f;
    }
    return std::abs(double(sum) - 1.0) <= 2e-7 * counted;
}

size_t kaNormaliseGltfWeights(float* weights, size_t vertices, int slots)
{
    size_t changed = 0;
    for (size_t v = 0; v < vertices; ++v) {
        float* vertex = weights + v * slots;
        if (kaGltfWeightsSumToOne(vertex, slots)) continue;
        double total = 0.0;
        for (int k = 0; k < slots; ++k) total += vertex[k];
        if (!(total > 0.0) || !std::isfinite(total)) continue;
        for (int k = 0; k < slots; ++k) vertex[k] = static_cast<float>(vertex[k] / total);
        // Rounding may leave the single-precision sum off by an ulp or two: the largest weight
        // takes up the rest.
        float* largest = std::max_element(vertex, vertex + slots);
        for (int round = 0; round < 4 && !kaGltfWeightsSumToOne(vertex, slots); ++round) {
            float sum = 0.0f;
            for (int k = 0; k < slots; ++k) sum += vertex[k];
            *largest += 1.0f - sum;
        }
        ++changed;
    }
    return changed;
}

} // namespace Lode::Io
