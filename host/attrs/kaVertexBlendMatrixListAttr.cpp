#include "host/attrs/kaVertexBlendMatrixListAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaVertexBlendMatrixListAttr, kaMatrixObjectList::arkRegister)

void kaVertexBlendMatrixListAttr::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaVertexBlendMatrixListAttr, _matrices),
               kaMatrixObjectList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

void kaVertexBlendMatrixListAttr::setMatrixCount(int count)
{
    if (count < 0) count = 0;
    while (_matrices->getCount() > count) _matrices->remove(_matrices->getCount() - 1);
    while (_matrices->getCount() < count) _matrices->append(nullptr);
}

kaMatrixObject* kaVertexBlendMatrixListAttr::getMatrixPointer(int index) const
{
    if (index < 0 || index >= _matrices->getCount()) return nullptr;
    return _matrices->getShared(index);
}

} // namespace Lode::Attrs
