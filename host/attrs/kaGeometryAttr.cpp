#include "host/attrs/kaGeometryAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaGeometryAttr, kaVertexArray::arkRegister, kaIndexArray::arkRegister,
                               kaBoundingBox::arkRegister)

void kaGeometryAttr::arkRegisterInitialize()
{
    using namespace Lode::Gfx;
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaGeometryAttr, _vertexArray),
               kaVertexArray::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaGeometryAttr, _indexArray),
               kaIndexArray::getClassTypeLazy());
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaGeometryAttr, _primitiveType), KA_GFX_DRAW_TRIANGLES,
               &getKA_GFX_DRAWMetaEnum);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaGeometryAttr, _primitiveCount), 0u);
    fields.add(kaNoHandle<kaUnsignedIntMetaField>, KA_FIELD(kaGeometryAttr, _offset), 0u);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaGeometryAttr, _boundingBox),
               kaBoundingBox::getClassTypeLazy());
    fields.declare();
}

void kaGeometryAttr::configureVertexArray(kaVertexArray* vertexArray)
{
    setVertexArray(vertexArray);
    if (!_boundingBox) return;
    if (vertexArray && vertexArray->positionData())
        _boundingBox->setFromPoints(vertexArray->positionData(), vertexArray->getVertexCount());
    else
        _boundingBox->makeEmpty();
}

kaVertexFormat kaGeometryAttr::getVertexFormat() const
{
    return _vertexArray ? _vertexArray->getVertexFormat() : kaVertexFormat();
}

int kaGeometryAttr::getVertexCount() const { return _vertexArray ? _vertexArray->getVertexCount() : 0; }

KA_IMPLEMENT_CLASS(kaGeometryAttr1_5)
KA_IMPLEMENT_CLASS(kaGeometryAttr2)

} // namespace Lode::Attrs
