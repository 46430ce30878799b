// A light. Position and direction are in the space of the light set that holds the light; the
// cached position and direction are the same in the space of the whole scene, as a pass that
// moves lights out of their place computes them. A light reaches as far as its range (0: without
// limit); a spot light lights fully inside its inner cone and fades out to its outer cone.
#pragma once

#include "host/attrs/kaAttr.h"
#include "host/gfx/kaGfxEnums.h"
#include "host/math/kaMath.h"

namespace Lode::Attrs {

using Lode::Gfx::KA_GFX_LIGHT_TYPE;
using Lode::Math::kaVec3f;
using Lode::Math::kaVec4f;

class kaLightAttr : public kaAttr {
    KA_DECLARE_CLASS(kaLightAttr, kaAttr)
public:
    KA_GFX_LIGHT_TYPE getType() const { return static_cast<KA_GFX_LIGHT_TYPE>(_type); }
    void setType(KA_GFX_LIGHT_TYPE type) { _type = type; }
    const kaVec3f& getPosition() const { return _position; }
    void setPosition(const kaVec3f& position) { _position = position; }
    const kaVec3f& getDirection() const { return _direction; }
    void setDirection(const kaVec3f& direction) { _direction = direction; }
    const kaVec4f& getColor() const { return _color; }
    void setColor(const kaVec4f& color) { _color = color; }
    // The brightness the colour includes: exchange formats that keep colour and intensity apart
    // get the same two back.
    float getIntensity() const { return _intensity; }
    void setIntensity(float intensity) { _intensity = intensity; }
    float getRange() const { return _range; }
    void setRange(float range) { _range = range; }
    // Half angles of the cones, in radians.
    static constexpr float kaDefaultOuterConeAngle = 0.78539816f;  // a quarter of pi
    float getInnerConeAngle() const { return _innerConeAngle; }
    void setInnerConeAngle(float angle) { _innerConeAngle = angle; }
    float getOuterConeAngle() const { return _outerConeAngle; }
    void setOuterConeAngle(float angle) { _outerConeAngle = angle; }
    const kaVec3f& getCachedPosition() const { return _cachedPosition; }
    // Caching the position marks the light as placed by its cached values from then on.
    void setCachedPosition(const kaVec3f& position)
    {
        _cachedPosition = position;
        _placementCached = true;
    }
    bool isPlacementCached() const { return _placementCached; }
    const kaVec3f& getCachedDirection() const { return _cachedDirection; }
    void setCachedDirection(const kaVec3f& direction) { _cachedDirection = direction; }

protected:
    kaLightAttr() = default;

    int32_t _type = Lode::Gfx::KA_GFX_LIGHT_TYPE_DIRECTIONAL;
    // A white light shining down the negative z axis, the way a new camera looks.
    static constexpr float kDefaultDirection[3] = {0.0f, 0.0f, -1.0f};
    static constexpr float kDefaultColor[4] = {1.0f, 1.0f, 1.0f, 1.0f};

    kaVec3f _position;
    kaVec3f _direction{kDefaultDirection};
    kaVec4f _color{kDefaultColor};
    kaVec3f _cachedPosition;
    kaVec3f _cachedDirection{kDefaultDirection};
    float _intensity = 1.0f;
    float _range = 0.0f;
    float _innerConeAngle = 0.0f;
    float _outerConeAngle = kaDefaultOuterConeAngle;
    bool _placementCached = false;
};

KA_DECLARE_OBJECT_LIST(kaLightAttrList, kaLightAttr)

} // namespace Lode::Attrs
