#include "host/sg/kaMorph.h"

namespace Lode::Sg {

namespace {

// Brings an object list to count entries: new entries are empty, surplus ones let go.
void resizeList(kaObjectList& list, int count)
{
    while (list.getCount() > count) list.remove(list.getCount() - 1);
    while (list.getCount() < count) list.append(nullptr);
}

void setTargetEntry(kaMorphBase& base, kaObjectList& list, int target, kaObject* value)
{
    if (target < 0) return;
    if (target >= base.getTargetCount()) base.setTargetCount(target + 1);
    list.set(target, value);
}

} // namespace

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphSequence)

void kaMorphSequence::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphSequence, _initialWeights),
               kaFloatList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphBase, kaVertexArray::arkRegister, kaVec3fListList::arkRegister,
                               kaIntListList::arkRegister)

void kaMorphBase::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _vertexArray),
               kaVertexArray::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _positionDisplacements),
               kaVec3fListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _positionIndices),
               kaIntListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _normalDisplacements),
               kaVec3fListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphBase, _normalIndices),
               kaIntListList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

void kaMorphBase::setTargetCount(int count)
{
    if (count < 0) count = 0;
    resizeList(*_positionDisplacements, count);
    resizeList(*_positionIndices, count);
    resizeList(*_normalDisplacements, count);
    resizeList(*_normalIndices, count);
}

void kaMorphBase::appendTarget(kaVec3fList* positionDisplacements, kaIntList* positionIndices,
                               kaVec3fList* normalDisplacements, kaIntList* normalIndices)
{
    _positionDisplacements->append(positionDisplacements);
    _positionIndices->append(positionIndices);
    _normalDisplacements->append(normalDisplacements);
    _normalIndices->append(normalIndices);
}

void kaMorphBase::setPositionDisplacementVec(int target, kaVec3fList* displacements)
{
    setTargetEntry(*this, *_positionDisplacements, target, displacements);
}

void kaMorphBase::setPositionIndexArray(int target, kaIntList* indices)
{
    setTargetEntry(*this, *_positionIndices, target, indices);
}

void kaMorphBase::setNormalDisplacementVec(int target, kaVec3fList* displacements)
{
    setTargetEntry(*this, *_normalDisplacements, target, displacements);
}

void kaMorphBase::setNormalIndexArray(int target, kaIntList* indices)
{
    setTargetEntry(*this, *_normalIndices, target, indices);
}

void kaMorphBase::afterRead() { setTargetCount(getTargetCount()); }

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphInstance, kaMorphBase::arkRegister, kaMorphSequence::arkRegister)

void kaMorphInstance::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance, _base), kaMorphBase::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance, _morphSequence),
               kaMorphSequence::getClassTypeLazy());
    fields.declare();
}

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMorphInstance2, kaMorphSequence::arkRegister, kaMorphedGeometryAttr::arkRegister)

void kaMorphInstance2::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _morphSequence),
               kaMorphSequence::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _morphGeometry),
               kaMorphedGeometryAttr::getClassTypeLazy());
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMorphInstance2, _coefficients),
               kaFloatList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

} // namespace Lode::Sg
