#include "host/gfx/kaVertexArray.h"

#include <algorithm>
#include <cstring>

namespace Lode::Gfx {

using namespace Lode::Core;
using Lode::Math::kaVec2f;
using Lode::Math::kaVec3f;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVertexStream)

kaMetaEnum* kaVertexStream::getComponentTypeMetaEnum()
{
    static const char* const names[] = {"Int8", "UInt8", "Int16", "UInt16", "UInt32", "Float32"};
    static const int32_t values[] = {Int8, UInt8, Int16, UInt16, UInt32, Float32};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("ComponentType", names, values);
    return metaEnum;
}

int kaVertexStream::getComponentSize(ComponentType type)
{
    switch (type) {
    case Int8:
    case UInt8: return 1;
    case Int16:
    case UInt16: return 2;
    case UInt32:
    case Float32: return 4;
    }
    return 0;
}

void kaVertexStream::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaVertexStream, _semantic));
    fields.describe("what the file calls the data (TANGENT, _TEMPERATURE, ...)");
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaVertexStream, _componentType), kDefaultComponentType,
               &getComponentTypeMetaEnum);
    fields.describe("how one component is stored");
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaVertexStream, _componentCount), kDefaultComponentCount);
    fields.describe("components per vertex, 1 to 16");
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaVertexStream, _normalized), false);
    fields.describe("integers stand for values in 0..1 (unsigned) or -1..1 (signed)");
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaVertexStream, _target), kDefaultTarget);
    fields.describe("-1: data of the vertices; t: displacements of morph target t");
    fields.addBlock<uint8_t>(KA_FIELD(kaVertexStream, _data));
    fields.describe("one element per vertex, as the file stored it; empty: how the file stored the array's own component of this name");
    fields.declare();
}

void kaVertexStream::afterRead()
{
    if (getComponentSize(getComponentType()) == 0 || _componentCount < 1 || _componentCount > MaxComponentCount) {
        _componentType = kDefaultComponentType;
        _componentCount = kDefaultComponentCount;
        _data.clear();
    }
}

KA_IMPLEMENT_OBJECT_LIST(kaVertexStreamList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVertexArray, kaVertexStreamList::arkRegister)

void kaVertexArray::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaVertexArray, _format), 0u);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaVertexArray, _vertexCount), 0u);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaVertexArray, _usage), 0u);
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _positions));
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _normals));
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _colors));
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _blendWeights));
    fields.addBlock<uint8_t>(KA_FIELD(kaVertexArray, _blendIndices));
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _texCoords));
    fields.addBlock<float>(KA_FIELD(kaVertexArray, _pointSpriteSizes));
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaVertexArray, _streams), kaVertexStreamList::getClassTypeLazy());
    fields.describe("per-vertex data of exchange formats that the engine carries without reading it");
    fields.declare();
}

kaVertexStream* kaVertexArray::findStream(const char* name, int target) const
{
    if (!_streams || !name) return nullptr;
    for (int i = 0; i < _streams->getCount(); ++i) {
        kaVertexStream* stream = _streams->getShared(i);
        if (stream && stream->getTarget() == target && stream->getSemantic() && std::strcmp(stream->getSemantic(), name) == 0)
            return stream;
    }
    return nullptr;
}

void kaVertexArray::appendStream(kaVertexStream* stream)
{
    if (!_streams) _streams = kaSmartPointer<kaVertexStreamList>::adopt(kaVertexStreamList::_instantiate());
    _streams->append(stream);
}

KA_IMPLEMENT_CLASS(kaVertexArray2)

namespace {

// A component that is absent gives its memory back rather than keeping an empty allocation.
template <class T> void sizeBlock(Lode::Core::kaBlock<T>& block, size_t size, bool clear)
{
    if (size == 0)
        Lode::Core::kaBlock<T>().swap(block);
    else if (clear)
        block.assign(size, T{});
    else
        block.resize(size);
}

} // namespace

void kaVertexArray::setup(kaVertexFormat format, int vertexCount, uint32_t usage, int)
{
    _format = format.getWord();
    _vertexCount = vertexCount < 0 ? 0u : static_cast<uint32_t>(vertexCount);
    _usage = usage;
    const kaVertexFormat f(_format);
    const size_t n = _vertexCount;
    sizeBlock(_positions, f.hasPositions() ? PositionComponentCount * n : 0, true);
    sizeBlock(_normals, f.hasNormals() ? NormalComponentCount * n : 0, true);
    sizeBlock(_colors, f.hasColors() ? ColorComponentCount * n : 0, true);
    sizeBlock(_blendWeights, f.getBlendWeightCount() * n, true);
    sizeBlock(_blendIndices, f.getBlendIndexCount() * n, true);
    sizeBlock(_texCoords, TexCoordComponentCount * f.getTextureCoordSetCount() * n, true);
    sizeBlock(_pointSpriteSizes, f.getPointSpriteCoordCount() * n, true);
    _setupOpen = true;
}

void kaVertexArray::setupFrom(kaVertexArray& source, kaVertexFormat format, BlockTransfer transfer)
{
    _format = format.getWord();
    _vertexCount = source._vertexCount;
    _usage = source._usage;
    const kaVertexFormat f(_format);
    kaVertexFormat from(source._format);
    const size_t n = _vertexCount;
    // Returns whether the block came from source. A copy-assigned block is allocated and
    // copied, never zero-filled first.
    auto take = [n, transfer](auto& block, auto& sourceBlock, size_t perVertex, size_t sourcePerVertex) {
        if (perVertex == 0 || perVertex != sourcePerVertex || sourceBlock.size() != perVertex * n) {
            sizeBlock(block, perVertex * n, true);
            return false;
        }
        if (transfer == MoveBlocks) {
            block.swap(sourceBlock);
            sizeBlock(sourceBlock, 0, true);
        } else {
            block = sourceBlock;
        }
        return transfer == MoveBlocks;
    };
    auto fixed = [](bool has, int components) { return has ? size_t(components) : size_t(0); };
    if (take(_positions, source._positions, fixed(f.hasPositions(), PositionComponentCount),
             fixed(from.hasPositions(), PositionComponentCount)))
        from.setPositions(false);
    if (take(_normals, source._normals, fixed(f.hasNormals(), NormalComponentCount),
             fixed(from.hasNormals(), NormalComponentCount)))
        from.setNormals(false);
    if (take(_colors, source._colors, fixed(f.hasColors(), ColorComponentCount),
             fixed(from.hasColors(), ColorComponentCount)))
        from.setColors(false);
    if (take(_blendWeights, source._blendWeights, f.getBlendWeightCount(), from.getBlendWeightCount()))
        from.setBlendWeightCount(0);
    if (take(_blendIndices, source._blendIndices, f.getBlendIndexCount(), from.getBlendIndexCount()))
        from.setBlendIndexCount(0);
    if (take(_texCoords, source._texCoords, TexCoordComponentCount * f.getTextureCoordSetCount(),
             TexCoordComponentCount * from.getTextureCoordSetCount()))
        from.setTextureCoordSetCount(0);
    if (take(_pointSpriteSizes, source._pointSpriteSizes, f.getPointSpriteCoordCount(),
             from.getPointSpriteCoordCount()))
        from.setPointSpriteCoordCount(0);
    source._format = from.getWord();
    _setupOpen = true;
}

void kaVertexArray::closeSetup() { _setupOpen = false; }

void kaVertexArray::afterRead()
{
    const kaVertexFormat f(_format);
    // A damaged file may claim more vertices than its blocks hold: the count is lowered to what
    // every named component actually has, so nothing is invented (or allocated) beyond the file.
    size_t n = _vertexCount;
    auto limit = [&n](const auto& block, size_t perVertex) {
        if (perVertex > 0) n = std::min(n, block.size() / perVertex);
    };
    limit(_positions, f.hasPositions() ? PositionComponentCount : 0);
    limit(_normals, f.hasNormals() ? NormalComponentCount : 0);
    limit(_colors, f.hasColors() ? ColorComponentCount : 0);
    limit(_blendWeights, f.getBlendWeightCount());
    limit(_blendIndices, f.getBlendIndexCount());
    limit(_texCoords, TexCoordComponentCount * f.getTextureCoordSetCount());
    limit(_pointSpriteSizes, f.getPointSpriteCoordCount());
    _vertexCount = static_cast<uint32_t>(n);
    sizeBlock(_positions, f.hasPositions() ? PositionComponentCount * n : 0, false);
    sizeBlock(_normals, f.hasNormals() ? NormalComponentCount * n : 0, false);
    sizeBlock(_colors, f.hasColors() ? ColorComponentCount * n : 0, false);
    sizeBlock(_blendWeights, f.getBlendWeightCount() * n, false);
    sizeBlock(_blendIndices, f.getBlendIndexCount() * n, false);
    sizeBlock(_texCoords, TexCoordComponentCount * f.getTextureCoordSetCount() * n, false);
    sizeBlock(_pointSpriteSizes, f.getPointSpriteCoordCount() * n, false);
    for (int i = 0; _streams && i < _streams->getCount(); ++i)
        if (kaVertexStream* stream = _streams->getShared(i); stream && !stream->data().empty())
            stream->data().resize(n * stream->getElementSize());
    _setupOpen = false;
}

// The accessors check the position against the block itself, which also covers an absent
// component (an empty block).

void kaVertexArray::getPosition(int v, kaVec3f& position) const
{
    const size_t at = size_t(v) * PositionComponentCount;
    if (hasVertex(v) && at < _positions.size())
        position.set(_positions[at], _positions[at + 1], _positions[at + 2]);
    else
        position.set(0.0f, 0.0f, 0.0f);
}

void kaVertexArray::setPosition(int v, const kaVec3f& position)
{
    const size_t at = size_t(v) * PositionComponentCount;
    if (!hasVertex(v) || at >= _positions.size()) return;
    _positions[at] = position.x;
    _positions[at + 1] = position.y;
    _positions[at + 2] = position.z;
}

void kaVertexArray::getNormal(int v, kaVec3f& normal) const
{
    const size_t at = size_t(v) * NormalComponentCount;
    if (hasVertex(v) && at < _normals.size())
        normal.set(_normals[at], _normals[at + 1], _normals[at + 2]);
    else
        normal.set(0.0f, 0.0f, 0.0f);
}

void kaVertexArray::setNormal(int v, const kaVec3f& normal)
{
    const size_t at = size_t(v) * NormalComponentCount;
    if (!hasVertex(v) || at >= _normals.size()) return;
    _normals[at] = normal.x;
    _normals[at + 1] = normal.y;
    _normals[at + 2] = normal.z;
}

void kaVertexArray::getColor(int v, float rgba[4]) const
{
    const size_t at = size_t(v) * ColorComponentCount;
    const bool present = hasVertex(v) && at < _colors.size();
    for (int c = 0; c < ColorComponentCount; ++c) rgba[c] = present ? _colors[at + c] : 0.0f;
}

void kaVertexArray::setColor(int v, const float rgba[4])
{
    const size_t at = size_t(v) * ColorComponentCount;
    if (!hasVertex(v) || at >= _colors.size()) return;
    std::copy(rgba, rgba + ColorComponentCount, _colors.begin() + at);
}

float kaVertexArray::getBlendWeight(int v, int slot) const
{
    const int count = kaVertexFormat(_format).getBlendWeightCount();
    if (!hasVertex(v) || slot < 0 || slot >= count) return 0.0f;
    const size_t at = size_t(v) * count + slot;
    return at < _blendWeights.size() ? _blendWeights[at] : 0.0f;
}

void kaVertexArray::setBlendWeight(int v, int slot, float weight)
{
    const int count = kaVertexFormat(_format).getBlendWeightCount();
    if (!hasVertex(v) || slot < 0 || slot >= count) return;
    const size_t at = size_t(v) * count + slot;
    if (at < _blendWeights.size()) _blendWeights[at] = weight;
}

uint8_t kaVertexArray::getBlendIndex(int v, int slot) const
{
    const int count = kaVertexFormat(_format).getBlendIndexCount();
    if (!hasVertex(v) || slot < 0 || slot >= count) return 0;
    const size_t at = size_t(v) * count + slot;
    return at < _blendIndices.size() ? _blendIndices[at] : 0;
}

void kaVertexArray::setBlendIndex(int v, int slot, uint8_t index)
{
    const int count = kaVertexFormat(_format).getBlendIndexCount();
    if (!hasVertex(v) || slot < 0 || slot >= count) return;
    const size_t at = size_t(v) * count + slot;
    if (at < _blendIndices.size()) _blendIndices[at] = index;
}

void kaVertexArray::getTexCoord(int v, int set, kaVec2f& texCoord) const
{
    const float* coords = texCoordData(set);
    if (coords && hasVertex(v))
        texCoord.set(coords[size_t(v) * TexCoordComponentCount], coords[size_t(v) * TexCoordComponentCount + 1]);
    else
        texCoord.set(0.0f, 0.0f);
}

void kaVertexArray::setTexCoord(int v, int set, const kaVec2f& texCoord)
{
    float* coords = texCoordData(set);
    if (!coords || !hasVertex(v)) return;
    coords[size_t(v) * TexCoordComponentCount] = texCoord.x;
    coords[size_t(v) * TexCoordComponentCount + 1] = texCoord.y;
}

const float* kaVertexArray::texCoordData(int set) const
{
    if (set < 0 || set >= getTextureCoordSetCount()) return nullptr;
    const size_t setSize = size_t(TexCoordComponentCount) * _vertexCount;
    const size_t start = size_t(set) * setSize;
    if (setSize == 0 || start + setSize > _texCoords.size()) return nullptr;
    return _texCoords.data() + start;
}

float* kaVertexArray::texCoordData(int set)
{
    return const_cast<float*>(static_cast<const kaVertexArray*>(this)->texCoordData(set));
}

namespace {

// Copies the first slots of count vertices between two vertex-major blocks whose vertices have
// fromStride and toStride slots: in one piece when both layouts are exactly those slots.
template <class T>
void copySlots(const T* from, size_t fromStride, T* to, size_t toStride, size_t count, int slots)
{
    if (slots <= 0) return;
    const size_t bytes = size_t(slots) * sizeof(T);
    if (fromStride == size_t(slots) && toStride == size_t(slots)) {
        std::memcpy(to, from, count * bytes);
        return;
    }
    for (size_t v = 0; v < count; ++v) std::memcpy(to + v * toStride, from + v * fromStride, bytes);
}

bool holdsRange(const kaVertexArray& array, int first, int count)
{
    return first >= 0 && count >= 0 && int64_t(first) + count <= array.getVertexCount();
}

void copyStreams(const kaVertexArray& source, kaVertexArray& destination, size_t s, size_t d, size_t n)
{
    const kaVertexStreamList* streams = source.getStreams();
    for (int i = 0; streams && i < streams->getCount(); ++i) {
        const kaVertexStream* from = streams->getShared(i);
        if (!from) continue;
        kaVertexStream* to = destination.findStream(from->getSemantic(), from->getTarget());
        if (to && (to->getComponentType() != from->getComponentType() ||
                   to->getComponentCount() != from->getComponentCount() || to->isNormalized() != from->isNormalized()))
            continue;
        if (!to) {
            auto made = kaSmartPointer<kaVertexStream>::adopt(kaVertexStream::_instantiate());
            made->setSemantic(from->getSemantic());
            made->setComponentType(from->getComponentType());
            made->setComponentCount(from->getComponentCount());
            made->setNormalized(from->isNormalized());
            made->setTarget(from->getTarget());
            if (!from->data().empty()) made->data().assign(size_t(destination.getVertexCount()) * made->getElementSize(), 0);
            destination.appendStream(made);
            to = made;
        }
        const size_t element = from->getElementSize();
        if (from->data().size() >= (s + n) * element && to->data().size() >= (d + n) * element)
            std::memmove(to->data().data() + d * element, from->data().data() + s * element, n * element);
    }
}

} // namespace

bool kaCopyVertices(const kaVertexArray& source, kaVertexArray& destination, int sourceFirst, int destinationFirst,
                    int count, kaVertexFormat format)
{
    if (!holdsRange(source, sourceFirst, count) || !holdsRange(destination, destinationFirst, count)) return false;
    if (count == 0) return true;
    const kaVertexFormat from = source.getVertexFormat();
    const kaVertexFormat to = destination.getVertexFormat();
    const size_t s = size_t(sourceFirst);
    const size_t d = size_t(destinationFirst);
    const size_t n = size_t(count);

    auto copyFixed = [&](const float* in, float* out, int components) {
        copySlots(in + s * components, components, out + d * components, components, n, components);
    };
    if (format.hasPositions() && from.hasPositions() && to.hasPositions())
        copyFixed(source.positionData(), destination.positionData(), kaVertexArray::PositionComponentCount);
    if (format.hasNormals() && from.hasNormals() && to.hasNormals())
        copyFixed(source.normalData(), destination.normalData(), kaVertexArray::NormalComponentCount);
    if (format.hasColors() && from.hasColors() && to.hasColors())
        copyFixed(source.colorData(), destination.colorData(), kaVertexArray::ColorComponentCount);
    const int sets = std::min(
        {format.getTextureCoordSetCount(), from.getTextureCoordSetCount(), to.getTextureCoordSetCount()});
    for (int set = 0; set < sets; ++set)
        copyFixed(source.texCoordData(set), destination.texCoordData(set), kaVertexArray::TexCoordComponentCount);

    auto copyCounted = [&](const auto* in, auto* out, int fromStride, int toStride, int formatCount) {
        copySlots(in + s * fromStride, fromStride, out + d * toStride, toStride, n,
                  std::min({formatCount, fromStride, toStride}));
    };
    copyCounted(source.blendWeightData(), destination.blendWeightData(), from.getBlendWeightCount(),
                to.getBlendWeightCount(), format.getBlendWeightCount());
    copyCounted(source.blendIndexData(), destination.blendIndexData(), from.getBlendIndexCount(),
                to.getBlendIndexCount(), format.getBlendIndexCount());
    copyCounted(source.pointSpriteData(), destination.pointSpriteData(), from.getPointSpriteCoordCount(),
                to.getPointSpriteCoordCount(), format.getPointSpriteCoordCount());
    copyStreams(source, destination, s, d, n);
    return true;
}

bool kaCopyVertex(const kaVertexArray& source, kaVertexArray& destination, int sourceVertex, int destinationVertex,
                  kaVertexFormat format)
{
    return kaCopyVertices(source, destination, sourceVertex, destinationVertex, 1, format);
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVertexArray2Helper, kaVertexArray2::arkRegister)

void kaVertexArray2Helper::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaVertexArray2Helper, _vertexArray),
               kaVertexArray2::getClassTypeLazy());
    fields.declare();
}

void kaVertexArray2Helper::begin(kaVertexFormat format, int vertexCount, int usage, int reserved)
{
    _vertexArray = kaSmartPointer<kaVertexArray2>::adopt(kaVertexArray2::_instantiate());
    _vertexArray->setup(format, vertexCount, static_cast<uint32_t>(usage), reserved);
}

void kaVertexArray2Helper::copyVertex(const kaVertexArray* source, kaVertexFormat sourceFormat, int sourceVertex,
                                      int destinationVertex)
{
    if (!source || !_vertexArray) return;
    kaCopyVertex(*source, *_vertexArray, sourceVertex, destinationVertex, sourceFormat);
}

void kaVertexArray2Helper::copyVertices(const kaVertexArray* source, kaVertexFormat sourceFormat, int first, int count)
{
    if (!source || !_vertexArray) return;
    kaCopyVertices(*source, *_vertexArray, first, first, count, sourceFormat);
}

kaVertexArray2* kaVertexArray2Helper::getVertexArray()
{
    if (_vertexArray && _vertexArray->isSetupOpen()) _vertexArray->closeSetup();
    return _vertexArray.get();
}

} // namespace Lode::Gfx

namespace Lode::Sg {

KA_IMPLEMENT_CLASS(kaVertexArrayHelper)

void kaVertexArrayHelper::copyVertex(const Lode::Gfx::kaVertexArray* source, Lode::Gfx::kaVertexArray* destination,
                                     int sourceVertex, int destinationVertex, Lode::Gfx::kaVertexFormat format)
{
    if (source && destination) Lode::Gfx::kaCopyVertex(*source, *destination, sourceVertex, destinationVertex, format);
}

void kaVertexArrayHelper::copyVertices(const Lode::Gfx::kaVertexArray* source, Lode::Gfx::kaVertexArray* destination,
                                       int first, int count, Lode::Gfx::kaVertexFormat format)
{
    if (source && destination) Lode::Gfx::kaCopyVertices(*source, *destination, first, first, count, format);
}

} // namespace Lode::Sg
