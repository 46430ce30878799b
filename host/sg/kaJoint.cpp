#include "host/sg/kaJoint.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaJoint, kaMatrixObject::arkRegister)

void kaJoint::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaJoint, _blendingMatrix),
               kaMatrixObject::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

} // namespace Lode::Sg
