#include "host/attrs/kaMaterialAttr.h"

namespace Lode::Attrs {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaMaterialAttr, kaTextureAttrList::arkRegister)

void kaMaterialAttr::arkRegisterInitialize()
{
    // The fixed-function lighting defaults: a grey surface without highlight or glow.
    kaFieldTable fields(_Meta);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _ambient), 4, kDefaultAmbient);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _diffuse), 4, kDefaultDiffuse);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _specular), 4, kDefaultSpecular);
    fields.addFloats(KA_FIELD(kaMaterialAttr, _emission), 4, kDefaultEmission);
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _shininess), 0.0f);
    // A fixed-function material is a rough dielectric in the physically based model.
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _metallic), 0.0f);
    fields.describe("how metallic the surface is, 0 to 1");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _roughness), 1.0f);
    fields.describe("how rough the surface is, 0 (mirror) to 1");
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaMaterialAttr, _alphaMode), Lode::Gfx::KA_GFX_ALPHA_MODE_OPAQUE,
               &Lode::Gfx::getKA_GFX_ALPHA_MODEMetaEnum);
    fields.describe("how the diffuse alpha is used: ignored, as a cutoff mask or blended");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _alphaCutoff), 0.5f);
    fields.describe("the alpha below which a masked surface is not drawn");
    fields.add(kaNoHandle<kaBoolMetaField>, KA_FIELD(kaMaterialAttr, _doubleSided), false);
    fields.describe("back faces are drawn too");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _normalScale), 1.0f);
    fields.describe("strength of the normal texture's bumps");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaMaterialAttr, _occlusionStrength), 1.0f);
    fields.describe("how much the occlusion texture darkens, 0 to 1");
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaMaterialAttr, _extensionTextures),
               kaTextureAttrList::getClassTypeLazy());
    fields.describe("textures the material's extensions refer to, by their place in this list");
    fields.declare();
}

void kaMaterialAttr::appendExtensionTexture(kaTextureAttr* texture)
{
    if (!_extensionTextures) _extensionTextures = kaSmartPointer<kaTextureAttrList>::adopt(kaTextureAttrList::_instantiate());
    _extensionTextures->append(texture);
}

} // namespace Lode::Attrs
