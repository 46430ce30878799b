// An animation database: the info that holds a character's skeletons and animations, together
// with the infos of the scene data they animate (scene infos whose graphs hold the skinned
// geometry), so that a pass applied to the database reaches that geometry too.
#pragma once

#include "host/sg/kaAnimation.h"
#include "host/sg/kaInfo.h"
#include "host/sg/kaSkeleton.h"

namespace Lode::Sg {

class kaAnimationDatabase : public kaInfo {
    KA_DECLARE_CLASS(kaAnimationDatabase, kaInfo)
public:
    // The first skeleton of that name, or null (also for a null name).
    kaSkeleton* getSkeleton(const char* name) const;
    kaSkeletonList* getSkeletonList() const { return _skeletons; }
    void appendSkeleton(kaSkeleton* skeleton) { _skeletons->append(skeleton); }

    kaAnimationList* getAnimationList() const { return _animations; }
    void appendAnimation(kaAnimation* animation) { _animations->append(animation); }

    kaInfoList* getInfoList() const { return _infos; }
    void appendInfo(kaInfo* info) { _infos->append(info); }

protected:
    kaAnimationDatabase() = default;

    kaSmartPointer<kaSkeletonList> _skeletons;
    kaSmartPointer<kaAnimationList> _animations;
    kaSmartPointer<kaInfoList> _infos;
};

} // namespace Lode::Sg
