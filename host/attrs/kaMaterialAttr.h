// Surface colours of the geometry below an attribute set: the fixed-function colours and the
// physically based block that exchange formats carry (metal and roughness, how alpha is used,
// whether back faces are drawn, and the strengths of the normal and occlusion textures).
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/math/kaMath.h"

namespace Lode::Attrs {

using Lode::Math::kaVec4f;

class kaMaterialAttr : public kaAttr {
    KA_DECLARE_CLASS(kaMaterialAttr, kaAttr)
public:
    const kaVec4f& getAmbient() const { return _ambient; }
    virtual void setAmbient(const kaVec4f& colour) { _ambient = colour; }
    const kaVec4f& getDiffuse() const { return _diffuse; }
    virtual void setDiffuse(const kaVec4f& colour) { _diffuse = colour; }
    const kaVec4f& getSpecular() const { return _specular; }
    virtual void setSpecular(const kaVec4f& colour) { _specular = colour; }
    const kaVec4f& getEmission() const { return _emission; }
    virtual void setEmission(const kaVec4f& colour) { _emission = colour; }
    float getShininess() const { return _shininess; }
    virtual void setShininess(float shininess) { _shininess = shininess; }

    float getMetallic() const { return _metallic; }
    void setMetallic(float metallic) { _metallic = metallic; }
    float getRoughness() const { return _roughness; }
    void setRoughness(float roughness) { _roughness = roughness; }
    Lode::Gfx::KA_GFX_ALPHA_MODE getAlphaMode() const { return static_cast<Lode::Gfx::KA_GFX_ALPHA_MODE>(_alphaMode); }
    void setAlphaMode(Lode::Gfx::KA_GFX_ALPHA_MODE mode) { _alphaMode = mode; }
    float getAlphaCutoff() const { return _alphaCutoff; }
    void setAlphaCutoff(float cutoff) { _alphaCutoff = cutoff; }
    bool isDoubleSided() const { return _doubleSided; }
    void setDoubleSided(bool doubleSided) { _doubleSided = doubleSided; }
    float getNormalScale() const { return _normalScale; }
    void setNormalScale(float scale) { _normalScale = scale; }
    float getOcclusionStrength() const { return _occlusionStrength; }
    void setOcclusionStrength(float strength) { _occlusionStrength = strength; }

    // Textures that the material's extensions (in its extensions JSON) refer to, by their place
    // in this list: a clear coat's normals, a sheen's colour; null when there are none.
    kaTextureAttrList* getExtensionTextures() const { return _extensionTextures; }
    void appendExtensionTexture(kaTextureAttr* texture);

protected:
    kaMaterialAttr() = default;

    static constexpr float kDefaultAmbient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
    static constexpr float kDefaultDiffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
    static constexpr float kDefaultSpecular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    static constexpr float kDefaultEmission[4] = {0.0f, 0.0f, 0.0f, 1.0f};

    kaVec4f _ambient{kDefaultAmbient};
    kaVec4f _diffuse{kDefaultDiffuse};
    kaVec4f _specular{kDefaultSpecular};
    kaVec4f _emission{kDefaultEmission};
    float _shininess = 0.0f;
    float _metallic = 0.0f;
    float _roughness = 1.0f;
    int32_t _alphaMode = Lode::Gfx::KA_GFX_ALPHA_MODE_OPAQUE;
    float _alphaCutoff = 0.5f;
    bool _doubleSided = false;
    float _normalScale = 1.0f;
    float _occlusionStrength = 1.0f;
    kaSmartPointer<kaTextureAttrList> _extensionTextures;
};

} // namespace Lode::Attrs
