#include "host/sg/kaAnimation.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace Lode::Sg {

namespace {

constexpr int VectorSize = 3;
constexpr int QuaternionSize = 4;

void appendKey(kaBlock<float>& times, kaBlock<float>& values, float time, const float* value, int size)
{
    times.push_back(time);
    values.insert(values.end(), value, value + size);
}

void trimChannel(kaBlock<float>& times, kaBlock<float>& values, size_t size)
{
    const size_t keys = std::min(times.size(), values.size() / size);
    times.resize(keys);
    values.resize(keys * size);
}

bool sameCharacter(char a, char b, bool ignoreCase)
{
    if (!ignoreCase) return a == b;
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Position of the first occurrence of part in text at or after from, or npos.
size_t findPart(const std::string& text, const std::string& part, bool ignoreCase, size_t from)
{
    if (from > text.size()) return std::string::npos;
    auto found = std::search(text.begin() + from, text.end(), part.begin(), part.end(),
                             [ignoreCase](char a, char b) { return sameCharacter(a, b, ignoreCase); });
    return found == text.end() ? std::string::npos : static_cast<size_t>(found - text.begin());
}

bool sameName(const std::string& a, const char* b, bool ignoreCase)
{
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!sameCharacter(a[i], b[i], ignoreCase)) return false;
    return true;
}

} // namespace

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaAnimationBinding)

void kaAnimationBinding::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _translationTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _translationValues));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _rotationTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _rotationValues));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _scaleTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _scaleValues));
    fields.declare();
}

kaVec3f kaAnimationBinding::getTranslation(int key) const
{
    const float* value = &_translationValues[static_cast<size_t>(key) * VectorSize];
    return {value[0], value[1], value[2]};
}

void kaAnimationBinding::appendTranslationKey(float time, const kaVec3f& translation)
{
    const float value[VectorSize] = {translation.x, translation.y, translation.z};
    appendKey(_translationTimes, _translationValues, time, value, VectorSize);
}

kaQuatf kaAnimationBinding::getRotation(int key) const
{
    const float* value = &_rotationValues[static_cast<size_t>(key) * QuaternionSize];
    return {value[0], value[1], value[2], value[3]};
}

void kaAnimationBinding::appendRotationKey(float time, const kaQuatf& rotation)
{
    const float value[QuaternionSize] = {rotation.x, rotation.y, rotation.z, rotation.w};
    appendKey(_rotationTimes, _rotationValues, time, value, QuaternionSize);
}

kaVec3f kaAnimationBinding::getScale(int key) const
{
    const float* value = &_scaleValues[static_cast<size_t>(key) * VectorSize];
    return {value[0], value[1], value[2]};
}

void kaAnimationBinding::appendScaleKey(float time, const kaVec3f& scale)
{
    const float value[VectorSize] = {scale.x, scale.y, scale.z};
    appendKey(_scaleTimes, _scaleValues, time, value, VectorSize);
}

void kaAnimationBinding::reflect(ReflectionType plane)
{
    const int mirroredAxis = static_cast<int>(plane);
    if (mirroredAxis < 0 || mirroredAxis >= VectorSize) return;
    for (size_t i = mirroredAxis; i < _translationValues.size(); i += VectorSize)
        _translationValues[i] = -_translationValues[i];
    // A mirror turns a rotation about an axis in the plane the other way and keeps one about
    // the mirrored axis.
    for (size_t key = 0; key + QuaternionSize <= _rotationValues.size(); key += QuaternionSize)
        for (int axis = 0; axis < VectorSize; ++axis)
            if (axis != mirroredAxis) _rotationValues[key + axis] = -_rotationValues[key + axis];
}

void kaAnimationBinding::swapKeys(kaAnimationBinding& other)
{
    _translationTimes.swap(other._translationTimes);
    _translationValues.swap(other._translationValues);
    _rotationTimes.swap(other._rotationTimes);
    _rotationValues.swap(other._rotationValues);
    _scaleTimes.swap(other._scaleTimes);
    _scaleValues.swap(other._scaleValues);
}

void kaAnimationBinding::afterRead()
{
    trimChannel(_translationTimes, _translationValues, VectorSize);
    trimChannel(_rotationTimes, _rotationValues, QuaternionSize);
    trimChannel(_scaleTimes, _scaleValues, VectorSize);
}

KA_IMPLEMENT_OBJECT_LIST(kaAnimationBindingList)

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaAnimation, kaAnimationBindingList::arkRegister)

void kaAnimation::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.add(kaNoHandle<kaObjectRefMetaField>, KA_FIELD(kaAnimation, _bindings),
               kaAnimationBindingList::getClassTypeLazy(), kaRefFlags::Construct);
    fields.declare();
}

kaAnimationBinding* kaAnimation::findBinding(const char* name) const
{
    if (!name) return nullptr;
    for (int i = 0; i < getBindingCount(); ++i) {
        kaAnimationBinding* binding = getBinding(i);
        if (binding && binding->getName() && std::strcmp(binding->getName(), name) == 0) return binding;
    }
    return nullptr;
}

void kaAnimation::reflectAllBindings(kaAnimationBinding::ReflectionType plane)
{
    for (int i = 0; i < getBindingCount(); ++i)
        if (kaAnimationBinding* binding = getBinding(i)) binding->reflect(plane);
}

int kaAnimation::findPartner(int index, const std::string& left, const std::string& right, bool ignoreCase,
                             const std::vector<bool>& paired) const
{
    const std::string name = getBinding(index)->getName();
    for (size_t at = findPart(name, left, ignoreCase, 0); at != std::string::npos;
         at = findPart(name, left, ignoreCase, at + 1)) {
        std::string partnerName = name;
        partnerName.replace(at, left.size(), right);
        for (int j = 0; j < getBindingCount(); ++j) {
            const kaAnimationBinding* candidate = getBinding(j);
            if (j == index || paired[j] || !candidate || !candidate->getName()) continue;
            if (sameName(partnerName, candidate->getName(), ignoreCase)) return j;
        }
    }
    return -1;
}

void kaAnimation::reflectAllBindings(const char* leftIdentifier, const char* rightIdentifier, bool ignoreCase,
                                     kaAnimationBinding::ReflectionType plane)
{
    const std::string left = leftIdentifier ? leftIdentifier : "";
    const std::string right = rightIdentifier ? rightIdentifier : "";
    const int count = getBindingCount();
    if (!left.empty() && !right.empty()) {
        std::vector<bool> paired(count, false);
        for (int i = 0; i < count; ++i) {
            kaAnimationBinding* binding = getBinding(i);
            if (paired[i] || !binding || !binding->getName()) continue;
            const int partner = findPartner(i, left, right, ignoreCase, paired);
            if (partner < 0) continue;
            binding->swapKeys(*getBinding(partner));
            paired[i] = paired[partner] = true;
        }
    }
    reflectAllBindings(plane);
}

KA_IMPLEMENT_OBJECT_LIST(kaAnimationList)

} // namespace Lode::Sg
