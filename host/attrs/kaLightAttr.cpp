#include "host/attrs/kaLightAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaLightAttr)

void kaLightAttr::arkRegisterInitialize()
{
    // A white light shining down the negative z axis, the way a new camera looks.
    const float down[3] = {0.0f, 0.0f, -1.0f};
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaLightAttr, _type), Lode::Gfx::KA_GFX_LIGHT_TYPE_DIRECTIONAL,
               &Lode::Gfx::getKA_GFX_LIGHT_TYPEMetaEnum);
    fields.addFloats(KA_FIELD(kaLightAttr, _position), 3);
    fields.addFloats(KA_FIELD(kaLightAttr, _direction), 3, down);
    fields.addFloats(KA_FIELD(kaLightAttr, _color), 4, white);
    fields.addFloats(KA_FIELD(kaLightAttr, _cachedPosition), 3);
    fields.addFloats(KA_FIELD(kaLightAttr, _cachedDirection), 3, down);
    fields.declare();
}

KA_IMPLEMENT_OBJECT_LIST(kaLightAttrList)

} // namespace Lode::Attrs
