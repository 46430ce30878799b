// A skeleton: its joints by blend index, each with a name and the inverse of the joint's
// matrix in the bind pose (the matrix that takes a skinned vertex into the joint's space).
// A blend index may have no joint (an empty entry).
#pragma once

#include "host/core/kaNamedObject.h"
#include "host/core/kaStringObj.h"
#include "host/math/kaMath.h"
#include "host/utils/kaMatrixObject.h"

namespace Lode::Sg {

using namespace Lode::Core;
using Lode::Math::kaMatrix44f;
using Lode::Utils::kaMatrixObjectList;

class kaSkeleton : public kaNamedObject {
    KA_DECLARE_CLASS(kaSkeleton, kaNamedObject)
public:
    int getJointCount() const { return _inverseJointMatrices->getCount(); }
    // Adds the joint with the next blend index; returns that index.
    int appendJoint(const char* name, const kaMatrix44f& inverseJointMatrix);
    // Adds an empty entry: a blend index that no joint answers to.
    int appendEmptyJoint();
    // The joint's name, or null for an empty entry or an index outside the skeleton.
    const char* getJointName(int blendIndex) const;
    // The blend index of the first joint of that name, or -1.
    int findJoint(const char* name) const;
    // Null for an empty entry or an index outside the skeleton.
    kaMatrix44f* getInverseJointMatrix(int blendIndex) const;

    // The blend index of the joint the skeleton hangs from, or -1 when none was named.
    int getRootJoint() const { return _rootJoint; }
    void setRootJoint(int blendIndex) { _rootJoint = blendIndex; }
    static constexpr int kDefaultRootJoint = -1;

    // A read skeleton with fewer names than matrices gets empty names for the rest.
    void afterRead() override;

protected:
    kaSkeleton() = default;

    // Parallel lists: entry i of each belongs to blend index i.
    kaSmartPointer<kaStringObjList> _jointNames;
    kaSmartPointer<kaMatrixObjectList> _inverseJointMatrices;
    int32_t _rootJoint = kDefaultRootJoint;
};

KA_DECLARE_OBJECT_LIST(kaSkeletonList, kaSkeleton)

} // namespace Lode::Sg
