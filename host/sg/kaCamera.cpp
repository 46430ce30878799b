#include "host/sg/kaCamera.h"

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaCamera)

void kaCamera::arkRegisterInitialize()
{
    using namespace Lode::Gfx;
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaCamera, _projection), KA_GFX_PROJECTION_PERSPECTIVE,
               &getKA_GFX_PROJECTIONMetaEnum);
    fields.describe("perspective or orthographic");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _yFov), 0.8f);
    fields.describe("vertical field of view of a perspective camera, in radians");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _aspectRatio), 0.0f);
    fields.describe("width over height of a perspective camera, 0 for the viewport's");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _xMag), 1.0f);
    fields.describe("half the width of an orthographic view");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _yMag), 1.0f);
    fields.describe("half the height of an orthographic view");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _zNear), 0.1f);
    fields.describe("distance of the near plane");
    fields.add(kaNoHandle<kaFloatMetaField>, KA_FIELD(kaCamera, _zFar), 0.0f);
    fields.describe("distance of the far plane, 0 for none (perspective only)");
    fields.declare();
}

} // namespace Lode::Sg
