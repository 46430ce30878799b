#include "host/sg/kaSceneModel.h"

#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaTransform.h"

namespace Lode::Sg {

void kaRegisterSceneModel()
{
    using namespace Lode::Attrs;
    using namespace Lode::Utils;
    // A registration also registers the classes that its fields name (lists, vertex and index
    // arrays, morph bases), but not the entry classes of those lists: entries are listed here.
    const kaRegistrationFunction classes[] = {
        &kaNode::arkRegister,
        &kaGroup::arkRegister,
        &kaAttrSet::arkRegister,
        &kaGeometry::arkRegister,
        &kaGeometryList::arkRegister,
        &kaMorphInstance::arkRegister,
        &kaMorphInstance2::arkRegister,
        &kaLod::arkRegister,
        &kaJoint::arkRegister,
        &kaTransform::arkRegister,
        &kaLightSet::arkRegister,
        &kaCamera::arkRegister,
        &kaInfo::arkRegister,
        &kaSceneInfo::arkRegister,
        &kaAnimationDatabase::arkRegister,
        &kaSkeleton::arkRegister,
        &kaAnimation::arkRegister,
        &kaAnimationBinding::arkRegister,
        &kaGeometryAttr1_5::arkRegister,
        &kaGeometryAttr2::arkRegister,
        &kaMorphedGeometryAttr::arkRegister,
        &kaVector3MorphData::arkRegister,
        &kaTextureAttr::arkRegister,
        &kaMaterialAttr::arkRegister,
        &kaLightAttr::arkRegister,
        &kaVertexBlendMatrixListAttr::arkRegister,
        &kaMatrixObject::arkRegister,
        &kaVec3fList::arkRegister,
        &kaVec3fAlignedList::arkRegister,
        &kaStringObj::arkRegister,
        &Lode::Gfx::kaImage::arkRegister,
        &Lode::Gfx::kaVertexArray2::arkRegister,
    };
    for (kaRegistrationFunction registration : classes) kaArkRegister(registration);
}

} // namespace Lode::Sg
