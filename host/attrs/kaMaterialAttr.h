// Surface colours of the geometry below an attribute set.
#pragma once

#include "host/attrs/kaAttr.h"
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

protected:
    kaMaterialAttr() = default;

    kaVec4f _ambient;
    kaVec4f _diffuse;
    kaVec4f _specular;
    kaVec4f _emission;
    float _shininess = 0.0f;
};

} // namespace Lode::Attrs
