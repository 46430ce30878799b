#include "host/attrs/kaLightAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaLightAttr)

void kaLightAttr::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaLightAttr, _type), Lode::Gfx::KA_GFX_LIGHT_TYPE_DIRECTIONAL,
               &Lode::Gfx::getKA_GFX_LIGHT_TYPEMetaEnum);
    fields.addFloats(KA_FIELD(kaLightAttr, _position), 3);
    fields.addFloats(KA_FIELD(kaLightAttr, _direction), 3, kDefaultDirection);
    fields.addFloats(KA_FIELD(kaLightAttr, _color), 4, kDefaultColor);
    fields.addFloats(KA_FIELD(kaLightAttr, _cachedPosition), 3);
    fields.addFloats(KA_FIELD(kaLightAttr, _cachedDirection), 3, kDefaultDirection);
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaLightAttr, _intensity), 1.0f);
    fields.describe("the brightness the colour includes");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaLightAttr, _range), 0.0f);
    fields.describe("distance the light reaches, 0 for no limit");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaLightAttr, _innerConeAngle), 0.0f);
    fields.describe("half angle of a spot light's full-strength cone, in radians");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaLightAttr, _outerConeAngle), kaDefaultOuterConeAngle);
    fields.describe("half angle of a spot light's cone, in radians");
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaLightAttr, _placementCached), false);
    fields.describe("the cached position and direction place the light in the whole scene (set by caching them)");
    fields.declare();
}

KA_IMPLEMENT_OBJECT_LIST(kaLightAttrList)

} // namespace Lode::Attrs
