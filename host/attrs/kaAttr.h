// Attributes: the state that attribute sets hand down the scene graph (materials, textures,
// lights, matrix palettes) and the geometry that geometry nodes draw.
#pragma once

#include "host/core/kaList.h"
#include "host/core/kaNamedObject.h"

namespace Lode::Attrs {

using namespace Lode::Core;

class kaAttr : public kaNamedObject {
    KA_DECLARE_CLASS(kaAttr, kaNamedObject)
protected:
    kaAttr() = default;
};

KA_DECLARE_OBJECT_LIST(kaAttrList, kaAttr)

} // namespace Lode::Attrs
