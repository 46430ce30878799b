// Animations: named sets of bindings. A binding animates the node or joint of its name with
// keyframed translation, rotation (unit quaternions, x y z w) and scale, each channel with its
// own key times. Every channel is two float blocks: the key times and the values (3 per key
// for translation and scale, 4 for rotation). A binding may also animate the morph weights of
// the geometry below its node: every weight key holds one weight per morph target.
//
// The binding's interpolation says how its channels run between keys. A cubic spline needs an
// in-tangent and an out-tangent per key: each channel keeps them in a third block, per key the
// in-tangent then the out-tangent, each of the key value's size. The block is empty when the
// channel has no tangents (a cubic spline without them has flat tangents).
#pragma once

#include "host/core/kaList.h"
#include "host/core/kaNamedObject.h"
#include "host/math/kaMath.h"


namespace Lode::Sg {

using namespace Lode::Core;
using Lode::Math::kaQuatf;
using Lode::Math::kaVec3f;

class kaAnimationBinding : public kaNamedObject {
    KA_DECLARE_CLASS(kaAnimationBinding, kaNamedObject)
public:
    // The plane an animation is mirrored across, named by the two axes it contains.
    enum ReflectionType : int32_t {
        PlaneYZ = 0,  // x is mirrored
        PlaneXZ = 1,  // y is mirrored
        PlaneXY = 2,  // z is mirrored
    };
    enum Interpolation : int32_t {
        Linear = 0,       // straight between keys (rotations along the shortest arc)
        Step = 1,         // each key's value holds until the next key
        CubicSpline = 2,  // Hermite splines through the keys with their tangents
    };
    static Lode::Core::kaMetaEnum* getInterpolationMetaEnum();
    static constexpr Interpolation kDefaultInterpolation = Linear;

    Interpolation getInterpolation() const { return static_cast<Interpolation>(_interpolation); }
    void setInterpolation(Interpolation interpolation) { _interpolation = interpolation; }

    int getTranslationKeyCount() const { return static_cast<int>(_translationTimes.size()); }
    float getTranslationTime(int key) const { return _translationTimes[key]; }
    kaVec3f getTranslation(int key) const;
    // tangents, when given, holds the key's in-tangent and out-tangent (6 floats); keys appended
    // without them get zero tangents once any key of the channel has some.
    void appendTranslationKey(float time, const kaVec3f& translation, const float* tangents = nullptr);
    // The key's in-tangent and out-tangent, or null when the channel has no tangents.
    const float* getTranslationTangents(int key) const;

    int getRotationKeyCount() const { return static_cast<int>(_rotationTimes.size()); }
    float getRotationTime(int key) const { return _rotationTimes[key]; }
    kaQuatf getRotation(int key) const;
    void appendRotationKey(float time, const kaQuatf& rotation, const float* tangents = nullptr);  // 8 tangent floats
    const float* getRotationTangents(int key) const;

    int getScaleKeyCount() const { return static_cast<int>(_scaleTimes.size()); }
    float getScaleTime(int key) const { return _scaleTimes[key]; }
    kaVec3f getScale(int key) const;
    void appendScaleKey(float time, const kaVec3f& scale, const float* tangents = nullptr);  // 6 tangent floats
    const float* getScaleTangents(int key) const;

    int getWeightKeyCount() const { return static_cast<int>(_weightTimes.size()); }
    // The number of weights every key holds (0 without keys).
    int getWeightsPerKey() const;
    float getWeightTime(int key) const { return _weightTimes[key]; }
    const float* getWeights(int key) const { return &_weightValues[static_cast<size_t>(key) * getWeightsPerKey()]; }
    // count weights at time (tangents, when given: count in-tangents, then count out-tangents);
    // a key whose count differs from the keys before it is not added.
    bool appendWeightKey(float time, const float* weights, int count, const float* tangents = nullptr);
    const float* getWeightTangents(int key) const;

    // Mirrors the motion across the plane: the mirrored axis of every translation changes sign,
    // and every rotation turns the other way about the two axes in the plane (its quaternion
    // components on those axes change sign); tangents change as their values do. Scales stay. A
    // plane outside the three changes nothing.
    void reflect(ReflectionType plane);
    // Exchanges all keys, tangents and the interpolation with another binding; the names stay.
    void swapKeys(kaAnimationBinding& other);

    // A read channel whose values do not cover its key times loses the keys without values;
    // tangents that do not match the keys left are cut, or completed with zero tangents.
    void afterRead() override;

protected:
    kaAnimationBinding() = default;

    Lode::Core::kaBlock<float> _translationTimes;
    Lode::Core::kaBlock<float> _translationValues;
    Lode::Core::kaBlock<float> _rotationTimes;
    Lode::Core::kaBlock<float> _rotationValues;
    Lode::Core::kaBlock<float> _scaleTimes;
    Lode::Core::kaBlock<float> _scaleValues;
    Lode::Core::kaBlock<float> _weightTimes;
    Lode::Core::kaBlock<float> _weightValues;
    int32_t _interpolation = kDefaultInterpolation;
    Lode::Core::kaBlock<float> _translationTangents;
    Lode::Core::kaBlock<float> _rotationTangents;
    Lode::Core::kaBlock<float> _scaleTangents;
    Lode::Core::kaBlock<float> _weightTangents;
};

KA_DECLARE_OBJECT_LIST(kaAnimationBindingList, kaAnimationBinding)

class kaAnimation : public kaNamedObject {
    KA_DECLARE_CLASS(kaAnimation, kaNamedObject)
public:
    int getBindingCount() const { return _bindings->getCount(); }
    kaAnimationBinding* getBinding(int index) const { return _bindings->getShared(index); }
    void appendBinding(kaAnimationBinding* binding) { _bindings->append(binding); }
    // The first binding of that name, or null.
    kaAnimationBinding* findBinding(const char* name) const;
    kaAnimationBindingList* getBindings() const { return _bindings; }

    // Mirrors every binding across the plane.
    void reflectAllBindings(kaAnimationBinding::ReflectionType plane);
    // Mirrors the animation of a body whose sides are named by two identifiers: a binding whose
    // name holds the left identifier exchanges its keys with its partner, the binding whose
    // name is the same with that occurrence replaced by the right identifier (occurrences tried
    // from the first, so "Leg_L" pairs with "Leg_R" under "L" and "R"); then every binding is
    // mirrored across the plane. An occurrence of the left identifier that lies inside an
    // occurrence of the right one marks no left side ("HandR" is a right binding under "Hand"
    // and "HandR"), so identical identifiers pair nothing. Each binding pairs at most once, the
    // earlier candidate first; a binding without a partner is only mirrored. With ignoreCase
    // the identifiers and the partner names are matched regardless of letter case. An empty
    // identifier pairs nothing.
    void reflectAllBindings(const char* leftIdentifier, const char* rightIdentifier, bool ignoreCase,
                            kaAnimationBinding::ReflectionType plane);

protected:
    kaAnimation() = default;

    kaSmartPointer<kaAnimationBindingList> _bindings;
};

KA_DECLARE_OBJECT_LIST(kaAnimationList, kaAnimation)

} // namespace Lode::Sg
