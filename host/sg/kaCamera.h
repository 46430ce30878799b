// A camera: a leaf node that views down the negative z axis of the space it is placed in, with a
// perspective (vertical field of view) or orthographic (half extents) projection between its
// near and far planes.
#pragma once

#include "host/gfx/kaGfxEnums.h"
#include "host/sg/kaNode.h"

namespace Lode::Sg {

class kaCamera : public kaNode {
    KA_DECLARE_CLASS(kaCamera, kaNode)
public:
    Lode::Gfx::KA_GFX_PROJECTION getProjection() const { return static_cast<Lode::Gfx::KA_GFX_PROJECTION>(_projection); }
    void setProjection(Lode::Gfx::KA_GFX_PROJECTION projection) { _projection = projection; }
    // Perspective: vertical field of view in radians, and width over height (0: the viewport's).
    float getYFov() const { return _yFov; }
    void setYFov(float radians) { _yFov = radians; }
    float getAspectRatio() const { return _aspectRatio; }
    void setAspectRatio(float ratio) { _aspectRatio = ratio; }
    // Orthographic: half the width and half the height of the view.
    float getXMag() const { return _xMag; }
    void setXMag(float magnification) { _xMag = magnification; }
    float getYMag() const { return _yMag; }
    void setYMag(float magnification) { _yMag = magnification; }
    float getZNear() const { return _zNear; }
    void setZNear(float distance) { _zNear = distance; }
    // 0: a perspective view without far plane.
    float getZFar() const { return _zFar; }
    void setZFar(float distance) { _zFar = distance; }

protected:
    kaCamera() = default;

    int32_t _projection = Lode::Gfx::KA_GFX_PROJECTION_PERSPECTIVE;
    float _yFov = 0.8f;
    float _aspectRatio = 0.0f;
    float _xMag = 1.0f;
    float _yMag = 1.0f;
    float _zNear = 0.1f;
    float _zFar = 0.0f;
};

} // namespace Lode::Sg
