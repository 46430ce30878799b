#include "host/utils/kaMatrixObject.h"

namespace Lode::Utils {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMatrixObject)

void kaMatrixObject::arkRegisterInitialize()
{
    const kaMatrix44f identity;
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaMatrixObject, _matrix), 16, identity.data());
    fields.declare();
}

KA_IMPLEMENT_OBJECT_LIST(kaMatrixObjectList)

} // namespace Lode::Utils
