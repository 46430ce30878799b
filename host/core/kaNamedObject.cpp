#include "host/core/kaNamedObject.h"

namespace Lode::Core {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaNamedObject)

void kaNamedObject::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaNamedObject, _name));
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaNamedObject, _extras));
    fields.describe("application data other tools attached, as JSON text");
    fields.add(kaNoHandle<kaStringMetaField>, KA_FIELD(kaNamedObject, _extensions));
    fields.describe("extensions other tools attached that the engine does not read, as a JSON object text");
    fields.declare();
}

} // namespace Lode::Core
