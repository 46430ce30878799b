// kaReflectAnimations exists so that an animation authored for one side of a character, or for
// a character facing one way, can be reused mirrored: a left-handed wave becomes a right-handed
// one. It works on animation databases only and never on the graph; the mirroring and the
// left/right pairing are the animation's own (kaAnimation::reflectAllBindings), and the pass
// chooses the variant: pairing needs both identifiers, a single one mirrors without pairing.
// The pass prints nothing.
#include "passes/skinning/kaReflectAnimations.h"

#include "passes/kaPassRegistration.h"
#include "host/sg/kaAnimationDatabase.h"

namespace Lode::OptExtension {

using Lode::Sg::kaAnimation;
using Lode::Sg::kaAnimationBinding;
using Lode::Sg::kaAnimationDatabase;
using Lode::Sg::kaAnimationList;

kaStringMetaField* kaReflectAnimations::k_leftIdentString = nullptr;
kaStringMetaField* kaReflectAnimations::k_rightIdentString = nullptr;
kaEnumMetaField* kaReflectAnimations::k_reflectionType = nullptr;
kaMetaEnum* kaReflectAnimations::ReflectionType_Meta = nullptr;

KA_IMPLEMENT_PASS_WITH_FIELDS(kaReflectAnimations)

// The pass hands its plane to the animation unchanged.
static_assert(int(kaReflectAnimations::PlaneYZ) == int(kaAnimationBinding::PlaneYZ) &&
              int(kaReflectAnimations::PlaneXZ) == int(kaAnimationBinding::PlaneXZ) &&
              int(kaReflectAnimations::PlaneXY) == int(kaAnimationBinding::PlaneXY));

kaMetaEnum* kaReflectAnimations::getReflectionTypeMetaEnum()
{
    if (!ReflectionType_Meta) {
        static const char* const names[] = {"PlaneYZ", "PlaneXZ", "PlaneXY"};
        static const int32_t values[] = {PlaneYZ, PlaneXZ, PlaneXY};
        ReflectionType_Meta = kaMetaEnum::createMetaEnum("ReflectionType", names, values);
    }
    return ReflectionType_Meta;
}

void kaReflectAnimations::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(&k_leftIdentString, KA_FIELD(kaReflectAnimations, _leftIdentString), kDefaultLeftIdentString);
    fields.describe("the part of a binding name that marks the left side (\"_L\" in \"Arm_L\"); with "
                    "_rightIdentString, each left binding exchanges its keys with its right partner before mirroring");
    fields.add(&k_rightIdentString, KA_FIELD(kaReflectAnimations, _rightIdentString), kDefaultRightIdentString);
    fields.describe("the part of a binding name that marks the right side (\"_R\" in \"Arm_R\"); empty, or "
                    "_leftIdentString empty: every binding is mirrored without pairing");
    fields.add(&k_reflectionType, KA_FIELD(kaReflectAnimations, _reflectionType), kDefaultReflectionType,
               &getReflectionTypeMetaEnum);
    fields.describe("the mirror plane: PlaneYZ mirrors x, PlaneXZ mirrors y, PlaneXY mirrors z");
    fields.declare();
}

bool kaReflectAnimations::configure(int) { return true; }

bool kaReflectAnimations::apply(kaSmartPointer<kaNode>&) { return false; }

bool kaReflectAnimations::canOptimize(kaNode*) { return false; }

bool kaReflectAnimations::canOptimize(kaInfo* info)
{
    return info && info->isOfType(kaAnimationDatabase::getClassMetaSafe());
}

bool kaReflectAnimations::applyInfo(kaInfo* info)
{
    if (!canOptimize(info)) return false;
    kaAnimationList* animations = static_cast<kaAnimationDatabase*>(info)->getAnimationList();
    const int count = animations->getCount();
    const auto plane = static_cast<kaAnimationBinding::ReflectionType>(_reflectionType);
    for (int a = 0; a < count; ++a) {
        kaAnimation* animation = animations->getShared(a);
        if (!animation) continue;
        if (_leftIdentString.length() > 0 && _rightIdentString.length() > 0)
            animation->reflectAllBindings(_leftIdentString.c_str(), _rightIdentString.c_str(), false, plane);
        else
            animation->reflectAllBindings(plane);
    }
    return true;
}

} // namespace Lode::OptExtension
