// Vertex arrays: the vertices of a geometry attribute as a structure of arrays, one contiguous
// block per component, so that passes over millions of vertices (blend weights above all) run
// over plain float and byte arrays. Per-vertex virtual accessors exist for the passes that work
// vertex by vertex.
//
// Layout for n vertices:
//   _positions         3 floats per vertex (x y z)
//   _normals           3 floats per vertex
//   _colors            4 floats per vertex (r g b a)
//   _blendWeights      W floats per vertex, vertex-major: slot k of vertex v at v*W+k
//   _blendIndices      I bytes per vertex, vertex-major: slot k of vertex v at v*I+k
//   _texCoords         2 floats per vertex per set, set-major: set s starts at s*2*n
//   _pointSpriteSizes  P floats per vertex, vertex-major
// A block is empty when the format does not name its component.
//
// Besides, an array may carry streams: per-vertex data that exchange formats hold and the
// engine does not read (a tangent frame, an application's own attribute, a morph target's
// displacements of one of them), kept as the file stored them.
#pragma once

#include "host/core/kaList.h"
#include "host/core/kaReflect.h"
#include "host/gfx/kaVertexFormat.h"
#include "host/math/kaMath.h"

#include <cstdint>
#include <vector>

namespace Lode::Gfx {

// One stream, under the file's name for it (its semantic, which is not an object name: renaming
// passes leave it alone): elements of componentCount components of one component type, tightly
// packed, one element per vertex of its array. Its target is -1 for data of the vertices
// themselves, t for displacements of morph target t. A stream without data records instead how
// the file stored one of the components the array holds itself (positions as normalised 16-bit
// integers, colours as three bytes), so that it is written back the same way where the values
// allow.
class kaVertexStream : public Lode::Core::kaObject {
    KA_DECLARE_CLASS(kaVertexStream, Lode::Core::kaObject)
public:
    const char* getSemantic() const { return _semantic.c_str(); }
    void setSemantic(const char* semantic) { _semantic = semantic; }
    enum ComponentType : int32_t { Int8 = 0, UInt8 = 1, Int16 = 2, UInt16 = 3, UInt32 = 4, Float32 = 5 };
    static Lode::Core::kaMetaEnum* getComponentTypeMetaEnum();
    static int getComponentSize(ComponentType type);

    ComponentType getComponentType() const { return static_cast<ComponentType>(_componentType); }
    void setComponentType(ComponentType type) { _componentType = type; }
    int getComponentCount() const { return _componentCount; }
    void setComponentCount(int count) { _componentCount = count; }
    // Integers that stand for values in 0..1 (unsigned) or -1..1 (signed).
    bool isNormalized() const { return _normalized; }
    void setNormalized(bool normalized) { _normalized = normalized; }
    int getTarget() const { return _target; }
    void setTarget(int target) { _target = target; }
    size_t getElementSize() const { return size_t(getComponentSize(getComponentType())) * size_t(_componentCount); }

    Lode::Core::kaBlock<uint8_t>& data() { return _data; }
    const Lode::Core::kaBlock<uint8_t>& data() const { return _data; }

    // A read stream of an unknown component type or count holds nothing.
    void afterRead() override;

    static constexpr int MaxComponentCount = 16;
    static constexpr ComponentType kDefaultComponentType = Float32;
    static constexpr int kDefaultComponentCount = 1;
    static constexpr int kDefaultTarget = -1;

protected:
    kaVertexStream() = default;

    Lode::Core::kaStringRef _semantic;
    int32_t _componentType = kDefaultComponentType;
    int32_t _componentCount = kDefaultComponentCount;
    bool _normalized = false;
    int32_t _target = kDefaultTarget;
    Lode::Core::kaBlock<uint8_t> _data;
};

KA_DECLARE_OBJECT_LIST(kaVertexStreamList, kaVertexStream)

class kaVertexArray : public Lode::Core::kaObject {
    KA_DECLARE_CLASS(kaVertexArray, Lode::Core::kaObject)
public:
    static constexpr int PositionComponentCount = 3;
    static constexpr int NormalComponentCount = 3;
    static constexpr int ColorComponentCount = 4;
    static constexpr int TexCoordComponentCount = 2;

    // Sizes every block for the format and vertex count, all contents zero, and opens the
    // set-up. usage is kept as given and reported by getUsage; reserved is not used. A negative
    // vertex count counts as 0. Only sizes blocks: no per-vertex work beyond the zero fill.
    virtual void setup(kaVertexFormat format, int vertexCount, uint32_t usage, int reserved);
    // setup for format with source's vertex count and usage, except that each block laid out
    // alike in both formats (the same components per vertex) starts as source's block instead
    // of zeros: an array that changes a few components of another is then written once. With
    // CopyBlocks the block is copied bit for bit; with MoveBlocks it is moved, and its component
    // taken out of source's format (source stays a valid array without it), for a source about
    // to be let go. Streams stay with source.
    enum BlockTransfer { CopyBlocks, MoveBlocks };
    void setupFrom(kaVertexArray& source, kaVertexFormat format, BlockTransfer transfer);
    // Ends the set-up once the vertices are written.
    virtual void closeSetup();
    // True between setup and closeSetup. A new or read array is closed.
    bool isSetupOpen() const { return _setupOpen; }

    virtual kaVertexFormat getVertexFormat() const { return kaVertexFormat(_format); }
    virtual int getVertexCount() const { return static_cast<int>(_vertexCount); }
    virtual int getBlendWeightCount() const { return getVertexFormat().getBlendWeightCount(); }
    virtual int getBlendIndexCount() const { return getVertexFormat().getBlendIndexCount(); }
    virtual uint32_t getUsage() const { return _usage; }
    int getTextureCoordSetCount() const { return getVertexFormat().getTextureCoordSetCount(); }
    int getPointSpriteCoordCount() const { return getVertexFormat().getPointSpriteCoordCount(); }

    // Per-vertex access. Reads of a vertex, slot or set that the array does not have give
    // zeros; such writes are ignored.
    virtual void getPosition(int v, Lode::Math::kaVec3f& position) const;
    virtual void setPosition(int v, const Lode::Math::kaVec3f& position);
    virtual void getNormal(int v, Lode::Math::kaVec3f& normal) const;
    virtual void setNormal(int v, const Lode::Math::kaVec3f& normal);
    virtual void getColor(int v, float rgba[4]) const;
    virtual void setColor(int v, const float rgba[4]);
    virtual float getBlendWeight(int v, int slot) const;
    virtual void setBlendWeight(int v, int slot, float weight);
    virtual uint8_t getBlendIndex(int v, int slot) const;
    virtual void setBlendIndex(int v, int slot, uint8_t index);
    virtual void getTexCoord(int v, int set, Lode::Math::kaVec2f& texCoord) const;
    virtual void setTexCoord(int v, int set, const Lode::Math::kaVec2f& texCoord);

    // Direct access to the blocks for hot loops (null when the component is absent or the
    // array has no vertices). texCoordData gives the start of one set (null for a set the
    // format does not have).
    float* positionData() { return blockData(_positions); }
    const float* positionData() const { return blockData(_positions); }
    float* normalData() { return blockData(_normals); }
    const float* normalData() const { return blockData(_normals); }
    float* colorData() { return blockData(_colors); }
    const float* colorData() const { return blockData(_colors); }
    float* blendWeightData() { return blockData(_blendWeights); }
    const float* blendWeightData() const { return blockData(_blendWeights); }
    uint8_t* blendIndexData() { return blockData(_blendIndices); }
    const uint8_t* blendIndexData() const { return blockData(_blendIndices); }
    float* texCoordData(int set);
    const float* texCoordData(int set) const;
    float* pointSpriteData() { return blockData(_pointSpriteSizes); }
    const float* pointSpriteData() const { return blockData(_pointSpriteSizes); }

    // The streams the array carries (null when it has none), and the one of a name and target.
    kaVertexStreamList* getStreams() const { return _streams; }
    kaVertexStream* findStream(const char* name, int target) const;
    // Appends a stream; one with data should hold an element per vertex.
    void appendStream(kaVertexStream* stream);

    // A read array whose blocks do not match its format and vertex count (a damaged or
    // hand-edited file) gets its blocks resized to match, and its streams' data too, so that
    // the direct data never runs short.
    void afterRead() override;

protected:
    kaVertexArray() = default;

    uint32_t _format = 0;
    uint32_t _vertexCount = 0;
    uint32_t _usage = 0;
    Lode::Core::kaBlock<float> _positions;
    Lode::Core::kaBlock<float> _normals;
    Lode::Core::kaBlock<float> _colors;
    Lode::Core::kaBlock<float> _blendWeights;
    Lode::Core::kaBlock<uint8_t> _blendIndices;
    Lode::Core::kaBlock<float> _texCoords;
    Lode::Core::kaBlock<float> _pointSpriteSizes;
    Lode::Core::kaSmartPointer<kaVertexStreamList> _streams;

private:
    template <class T> static T* blockData(Lode::Core::kaBlock<T>& block) { return block.empty() ? nullptr : block.data(); }
    template <class T> static const T* blockData(const Lode::Core::kaBlock<T>& block)
    {
        return block.empty() ? nullptr : block.data();
    }
    // Brings every block to the size the format and vertex count call for (new entries zero).
    void sizeBlocks();
    bool hasVertex(int v) const { return v >= 0 && static_cast<uint32_t>(v) < _vertexCount; }

    // Derived state: open between setup and closeSetup; not stored.
    bool _setupOpen = false;
};

// The current generation of vertex array; same storage and operations.
class kaVertexArray2 : public kaVertexArray {
    KA_DECLARE_CLASS(kaVertexArray2, kaVertexArray)
protected:
    kaVertexArray2() = default;
};

// Copies count vertices of source, from sourceFirst on, into destination from destinationFirst
// on: the components that format names and both arrays have; for blend weights, blend indices,
// texture coordinate sets and point-sprite coordinates the first min(format, source,
// destination) slots. Values are copied bit for bit, one block at a time where the slot layouts
// agree. Other components of the destination vertices stay as they are. The source's streams go
// along: each into the destination's stream of its name and target, which is made (zero for
// the other vertices) when the destination has none. False (and nothing copied) when either
// range leaves its array.
bool kaCopyVertices(const kaVertexArray& source, kaVertexArray& destination, int sourceFirst, int destinationFirst,
                    int count, kaVertexFormat format);
// kaCopyVertices of one vertex.
bool kaCopyVertex(const kaVertexArray& source, kaVertexArray& destination, int sourceVertex, int destinationVertex,
                  kaVertexFormat format);

// Builds a kaVertexArray2 vertex by vertex: begin sets up a new array, copyVertex fills it
// from another array, getVertexArray hands it out.
class kaVertexArray2Helper : public Lode::Core::kaObject {
    KA_DECLARE_CLASS(kaVertexArray2Helper, Lode::Core::kaObject)
public:
    // Starts a new array of the format and vertex count (usage and reserved as for setup); the
    // previous array, if any, is let go.
    virtual void begin(kaVertexFormat format, int vertexCount, int usage, int reserved);
    // Copies vertex sourceVertex of source, whose format is sourceFormat, into vertex
    // destinationVertex of the array being built: the components both formats name.
    virtual void copyVertex(const kaVertexArray* source, kaVertexFormat sourceFormat, int sourceVertex,
                            int destinationVertex);
    // copyVertex for each of count vertices from first on, each into the same position, one
    // block per component: the way to copy whole arrays.
    virtual void copyVertices(const kaVertexArray* source, kaVertexFormat sourceFormat, int first, int count);
    // The array built so far (null before begin), its set-up closed: it is ready to be handed
    // to an attribute. The builder keeps its own reference until the next begin.
    kaVertexArray2* getVertexArray();

protected:
    kaVertexArray2Helper() = default;
    Lode::Core::kaSmartPointer<kaVertexArray2> _vertexArray;
};

} // namespace Lode::Gfx

namespace Lode::Sg {

// Copies single vertices between arrays, as the passes that rebuild arrays with another
// format need.
class kaVertexArrayHelper : public Lode::Core::kaObject {
    KA_DECLARE_CLASS(kaVertexArrayHelper, Lode::Core::kaObject)
public:
    // See Lode::Gfx::kaCopyVertex. Null arrays copy nothing.
    virtual void copyVertex(const Lode::Gfx::kaVertexArray* source, Lode::Gfx::kaVertexArray* destination,
                            int sourceVertex, int destinationVertex, Lode::Gfx::kaVertexFormat format);
    // copyVertex for each of count vertices from first on, each into the same position, one
    // block per component: the way to copy whole arrays.
    virtual void copyVertices(const Lode::Gfx::kaVertexArray* source, Lode::Gfx::kaVertexArray* destination,
                              int first, int count, Lode::Gfx::kaVertexFormat format);

protected:
    kaVertexArrayHelper() = default;
};

} // namespace Lode::Sg
