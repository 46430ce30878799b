#include "host/sg/kaSkeleton.h"

#include <cstring>

namespace Lode::Sg {

using Lode::Utils::kaMatrixObject;

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaSkeleton, kaStringObjList::arkRegister, kaMatrixObjectList::arkRegister)

void kaSkeleton::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaSkeleton, _jointNames), kaStringObjList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaSkeleton, _inverseJointMatrices),
               kaMatrixObjectList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaIntMetaField>, KA_FIELD(kaSkeleton, _rootJoint), kDefaultRootJoint);
    fields.describe("the blend index of the joint the skeleton hangs from, -1 for none named");
    fields.declare();
}

int kaSkeleton::appendJoint(const char* name, const kaMatrix44f& inverseJointMatrix)
{
    auto matrix = kaSmartPointer<kaMatrixObject>::adopt(kaMatrixObject::_instantiate());
    matrix->setMatrix(inverseJointMatrix);
    _jointNames->appendString(name);
    _inverseJointMatrices->append(matrix);
    return getJointCount() - 1;
}

int kaSkeleton::appendEmptyJoint()
{
    _jointNames->append(nullptr);
    _inverseJointMatrices->append(nullptr);
    return getJointCount() - 1;
}

const char* kaSkeleton::getJointName(int blendIndex) const
{
    if (blendIndex < 0 || blendIndex >= _jointNames->getCount()) return nullptr;
    const kaStringObj* name = _jointNames->getShared(blendIndex);
    return name ? name->getString() : nullptr;
}

int kaSkeleton::findJoint(const char* name) const
{
    if (!name) return -1;
    for (int i = 0; i < _jointNames->getCount(); ++i) {
        const kaStringObj* jointName = _jointNames->getShared(i);
        if (jointName && std::strcmp(jointName->getString(), name) == 0) return i;
    }
    return -1;
}

kaMatrix44f* kaSkeleton::getInverseJointMatrix(int blendIndex) const
{
    if (blendIndex < 0 || blendIndex >= getJointCount()) return nullptr;
    kaMatrixObject* matrix = _inverseJointMatrices->getShared(blendIndex);
    return matrix ? &matrix->getMatrix() : nullptr;
}

void kaSkeleton::afterRead()
{
    while (_jointNames->getCount() < getJointCount()) _jointNames->append(nullptr);
}

KA_IMPLEMENT_OBJECT_LIST(kaSkeletonList)

} // namespace Lode::Sg
