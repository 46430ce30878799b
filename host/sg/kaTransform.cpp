#include "host/sg/kaTransform.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaTransform)

void kaTransform::arkRegisterInitialize()
{
    const kaMatrix44f identity;
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaTransform, _matrix), 16, identity.data());
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaTransform, _animated), false);
    fields.declare();
}

} // namespace Lode::Sg
