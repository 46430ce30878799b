#include "host/sg/kaSceneModel.h"

#include "host/attrs/kaBoundingBox.h"
#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaList.h"
#include "host/core/kaStringObj.h"
#include "host/gfx/kaImage.h"
#include "host/gfx/kaIndexArray.h"
#include "host/gfx/kaVertexArray.h"
#include "host/sg/kaAnimation.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSkeleton.h"
#include "host/sg/kaTransform.h"
#include "host/utils/kaMatrixObject.h"
#include "host/utils/kaVec3fList.h"

namespace Lode::Sg {

void kaRegisterSceneModel()
{
    const kaRegistrationFunction classes[] = {
#define KA_SCENE_CLASS(Namespace, Class) &Namespace::Class::arkRegisterInternal,
#define KA_FILE_CLASS(Namespace, Class)
#include "host/kaHostClasses.def"
#undef KA_SCENE_CLASS
#undef KA_FILE_CLASS
    };
    for (kaRegistrationFunction registration : classes) kaArkRegister(registration);
}

} // namespace Lode::Sg
