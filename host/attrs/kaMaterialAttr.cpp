#include "host/attrs/kaMaterialAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMaterialAttr)

void kaMaterialAttr::arkRegisterInitialize()
{
    // The fixed-function lighting defaults: a grey surface without highlight or glow.
    const float ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    const float diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _ambient), 4, ambient);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _diffuse), 4, diffuse);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _specular), 4, black);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _emission), 4, black);
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _shininess), 0.0f);
    fields.declare();
}

} // namespace Lode::Attrs
