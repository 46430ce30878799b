#include "host/sg/kaAnimationDatabase.h"

#include <cstring>

namespace Lode::Sg {

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaAnimationDatabase, kaSkeletonList::arkRegister, kaAnimationList::arkRegister,
                               kaInfoList::arkRegister)

void kaAnimationDatabase::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaAnimationDatabase, _skeletons),
               kaSkeletonList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaAnimationDatabase, _animations),
               kaAnimationList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaAnimationDatabase, _infos), kaInfoList::getClassTypeLazy(),
               kaRefFlags::Construct);
    fields.declare();
}

kaSkeleton* kaAnimationDatabase::getSkeleton(const char* name) const
{
    if (!name) return nullptr;
    for (int i = 0; i < _skeletons->getCount(); ++i) {
        kaSkeleton* skeleton = _skeletons->getShared(i);
        if (skeleton && skeleton->getName() && std::strcmp(skeleton->getName(), name) == 0) return skeleton;
    }
    return nullptr;
}

} // namespace Lode::Sg
