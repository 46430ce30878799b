// Geometry attributes: what a geometry node draws. A vertex array, an optional index array
// (without one the vertices are drawn in order), the primitive kind and count, the position of
// the first index (or vertex) drawn, and a bounding box that may be shared with other
// attributes over the same vertices. The vertex format and count are those of the vertex
// array, so the attribute can never disagree with its own vertices.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/attrs/kaBoundingBox.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/gfx/kaIndexArray.h"
#include "host/gfx/kaVertexArray.h"

namespace Lode::Attrs {

using Lode::Gfx::kaIndexArray;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using Lode::Gfx::KA_GFX_DRAW;

class kaGeometryAttr : public kaAttr {
    KA_DECLARE_CLASS(kaGeometryAttr, kaAttr)
public:
    kaVertexArray* getVertexArray() const { return _vertexArray; }
    virtual void setVertexArray(const kaSmartPointer<kaVertexArray>& vertexArray) { _vertexArray = vertexArray; }
    // Installs a new vertex array: the attribute takes its format and count, and a bounding box
    // it has is fitted to the new positions.
    void configureVertexArray(kaVertexArray* vertexArray);

    kaIndexArray* getIndexArray() const { return _indexArray; }
    void setIndexArray(const kaSmartPointer<kaIndexArray>& indexArray) { _indexArray = indexArray; }

    // The format and count of the vertex array; empty and 0 without one.
    kaVertexFormat getVertexFormat() const;
    int getVertexCount() const;

    KA_GFX_DRAW getPrimitiveType() const { return static_cast<KA_GFX_DRAW>(_primitiveType); }
    void setPrimitiveType(KA_GFX_DRAW type) { _primitiveType = type; }
    int getPrimitiveCount() const { return static_cast<int>(_primitiveCount); }
    void setPrimitiveCount(int count) { _primitiveCount = count < 0 ? 0u : static_cast<uint32_t>(count); }
    int getOffset() const { return static_cast<int>(_offset); }
    void setOffset(int offset) { _offset = offset < 0 ? 0u : static_cast<uint32_t>(offset); }

    virtual kaSmartPointer<kaBoundingBox> getBoundingBox() const { return _boundingBox; }
    virtual void setBoundingBox(const kaSmartPointer<kaBoundingBox>& box) { _boundingBox = box; }

protected:
    kaGeometryAttr() = default;

    kaSmartPointer<kaVertexArray> _vertexArray;
    kaSmartPointer<kaIndexArray> _indexArray;
    int32_t _primitiveType = Lode::Gfx::KA_GFX_DRAW_TRIANGLES;
    uint32_t _primitiveCount = 0;
    uint32_t _offset = 0;
    kaSmartPointer<kaBoundingBox> _boundingBox;
};

// The first generation, still found in older scene files.
class kaGeometryAttr1_5 : public kaGeometryAttr {
    KA_DECLARE_CLASS(kaGeometryAttr1_5, kaGeometryAttr)
protected:
    kaGeometryAttr1_5() = default;
};

// The current generation, drawn from a kaVertexArray2.
class kaGeometryAttr2 : public kaGeometryAttr {
    KA_DECLARE_CLASS(kaGeometryAttr2, kaGeometryAttr)
protected:
    kaGeometryAttr2() = default;
};

} // namespace Lode::Attrs
