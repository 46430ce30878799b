#include "host/sg/kaAnimation.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// Appends one key's in- and out-tangent (zeros when none are given) to a channel that had
// keysBefore keys; the channel's first tangents give its earlier keys zero tangents.
void appendTangents(kaBlock<float>& tangents, size_t keysBefore, const float* given, size_t size)
{
    if (!given && tangents.empty()) return;
    tangents.resize(keysBefore * 2 * size, 0.0f);
    if (given)
        tangents.insert(tangents.end(), given, given + 2 * size);
    else
        tangents.resize(tangents.size() + 2 * size, 0.0f);
}

const float* tangentsOf(const kaBlock<float>& tangents, int key, size_t size)
{
    return tangents.empty() ? nullptr : &tangents[static_cast<size_t>(key) * 2 * size];
}

void fitTangents(kaBlock<float>& tangents, size_t keys, size_t size)
{
    if (!tangents.empty()) tangents.resize(keys * 2 * size, 0.0f);
}

// Mirrors values (or tangents) laid out as vectors of size components: the mirrored axis of a
// translation, the two other axes of a rotation's vector part.
void mirror(kaBlock<float>& values, size_t size, int mirroredAxis, bool rotation)
{
    for (size_t key = 0; key + size <= values.size(); key += size)
        for (int axis = 0; axis < VectorSize; ++axis)
            if ((axis == mirroredAxis) != rotation) values[key + axis] = -values[key + axis];
}

// The name as the pairing compares it.
std::string pairingKey(std::string text, bool ignoreCase)
{
    if (ignoreCase)
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// True when the occurrence of left at position at lies inside an occurrence of right.
bool insideRight(std::string_view name, size_t at, size_t leftSize, std::string_view right)
{
    if (right.size() < leftSize) return false;
    const size_t first = at + leftSize >= right.size() ? at + leftSize - right.size() : 0;
    for (size_t p = first; p <= at; ++p)
        if (name.compare(p, right.size(), right) == 0) return true;
    return false;
}

// The first occurrence of left in name from position from that marks a left side, or npos.
size_t leftSideAt(std::string_view name, size_t from, std::string_view left, std::string_view right)
{
    size_t at = name.find(left, from);
    while (at != std::string::npos && insideRight(name, at, left.size(), right)) at = name.find(left, at + 1);
    return at;
}

// The name a left side's partner has: name with left at position at replaced by right.
void partnerName(std::string& partner, std::string_view name, size_t at, size_t leftSize, std::string_view right)
{
    partner.assign(name.substr(0, at)).append(right).append(name.substr(at + leftSize));
}

// The pairing keys of an animation's bindings in one buffer, and from each key its bindings in
// list order. The index is open-addressed in flat arrays: a node per name would be an
// allocation per binding, and every probe a cache miss into a heap the scene has scattered,
// which made the pairing grow faster than the animation.
class kaBindingNames {
public:
    kaBindingNames(const kaAnimation& animation, bool ignoreCase)
    {
        const int count = animation.getBindingCount();
        _start.reserve(size_t(count) + 1);
        _start.push_back(0);
        for (int i = 0; i < count; ++i) {
            // Bindings lie wherever the scene's objects left room: their names are fetched ahead.
            if (i + kAhead < count)
                if (const kaAnimationBinding* later = animation.getBinding(i + kAhead))
                    __builtin_prefetch(&later->getNameRef());
            if (const kaAnimationBinding* binding = animation.getBinding(i); binding && binding->getName())
                _text.append(binding->getName());
            _start.push_back(_text.size());
        }
        _text = pairingKey(std::move(_text), ignoreCase);
        _slots.assign(std::bit_ceil(2 * size_t(count) + 1), Slot{});
        _next.assign(size_t(count), -1);
        std::vector<size_t> hashes(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) hashes[i] = hashOf(name(i));
        // From the last binding back, so that each name's chain runs forward and its slot ends
        // on the first binding of the name.
        for (int i = count - 1; i >= 0; --i) {
            if (i >= kAhead) prefetch(hashes[i - kAhead]);
            const std::string_view key = name(i);
            if (key.empty()) continue;
            const size_t hash = hashes[i];
            Slot& slot = _slots[slotOf(key, hash)];
            slot.hash = uint32_t(hash);
            _next[i] = slot.first;
            slot.first = i;
        }
    }

    std::string_view name(int binding) const
    {
        return std::string_view(_text).substr(_start[binding], _start[binding + 1] - _start[binding]);
    }
    // The first binding named key, or -1.
    int first(std::string_view key) const { return _slots[slotOf(key, hashOf(key))].first; }
    // Starts loading where key is looked for: the index is too large for the caches, and a
    // lookup that waits for each slot in turn grows with the index.
    void prefetch(std::string_view key) const { prefetch(hashOf(key)); }
    // The next binding of the same name, or -1.
    int next(int binding) const { return _next[binding]; }

    // How many bindings ahead of their turn their names and index slots are fetched.
    static constexpr int kAhead = 16;

private:
    struct Slot {
        uint32_t hash = 0;
        int first = -1; // -1: free
    };

    static size_t hashOf(std::string_view key) { return std::hash<std::string_view>()(key); }
    void prefetch(size_t hash) const { __builtin_prefetch(&_slots[hash & (_slots.size() - 1)]); }

    // The slot holding key, or the free one where it belongs.
    size_t slotOf(std::string_view key, size_t hash) const
    {
        const size_t mask = _slots.size() - 1;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            const Slot& slot = _slots[at];
            if (slot.first < 0 || (slot.hash == uint32_t(hash) && name(slot.first) == key)) return at;
        }
    }

    std::string _text;
    std::vector<size_t> _start;
    std::vector<Slot> _slots;
    std::vector<int> _next;
};

} // namespace

KA_IMPLEMENT_CLASS_WITH_FIELDS(kaAnimationBinding)

kaMetaEnum* kaAnimationBinding::getInterpolationMetaEnum()
{
    static const char* const names[] = {"Linear", "Step", "CubicSpline"};
    static const int32_t values[] = {Linear, Step, CubicSpline};
    static kaMetaEnum* metaEnum = kaMetaEnum::createMetaEnum("Interpolation", names, values);
    return metaEnum;
}

void kaAnimationBinding::arkRegisterInitialize()
{
    kaFieldTable fields(_Meta);
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _translationTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _translationValues));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _rotationTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _rotationValues));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _scaleTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _scaleValues));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _weightTimes));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _weightValues));
    fields.add(kaNoHandle<kaEnumMetaField>, KA_FIELD(kaAnimationBinding, _interpolation), kDefaultInterpolation,
               &getInterpolationMetaEnum);
    fields.describe("how every channel runs between its keys: Linear, Step or CubicSpline (with tangents)");
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _translationTangents));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _rotationTangents));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _scaleTangents));
    fields.addBlock<float>(KA_FIELD(kaAnimationBinding, _weightTangents));
    fields.declare();
}

kaVec3f kaAnimationBinding::getTranslation(int key) const
{
    const float* value = &_translationValues[static_cast<size_t>(key) * VectorSize];
    return {value[0], value[1], value[2]};
}

void kaAnimationBinding::appendTranslationKey(float time, const kaVec3f& translation, const float* tangents)
{
    const float value[VectorSize] = {translation.x, translation.y, translation.z};
    appendTangents(_translationTangents, _translationTimes.size(), tangents, VectorSize);
    appendKey(_translationTimes, _translationValues, time, value, VectorSize);
}

const float* kaAnimationBinding::getTranslationTangents(int key) const
{
    return tangentsOf(_translationTangents, key, VectorSize);
}

kaQuatf kaAnimationBinding::getRotation(int key) const
{
    const float* value = &_rotationValues[static_cast<size_t>(key) * QuaternionSize];
    return {value[0], value[1], value[2], value[3]};
}

void kaAnimationBinding::appendRotationKey(float time, const kaQuatf& rotation, const float* tangents)
{
    const float value[QuaternionSize] = {rotation.x, rotation.y, rotation.z, rotation.w};
    appendTangents(_rotationTangents, _rotationTimes.size(), tangents, QuaternionSize);
    appendKey(_rotationTimes, _rotationValues, time, value, QuaternionSize);
}

const float* kaAnimationBinding::getRotationTangents(int key) const
{
    return tangentsOf(_rotationTangents, key, QuaternionSize);
}

kaVec3f kaAnimationBinding::getScale(int key) const
{
    const float* value = &_scaleValues[static_cast<size_t>(key) * VectorSize];
    return {value[0], value[1], value[2]};
}

void kaAnimationBinding::appendScaleKey(float time, const kaVec3f& scale, const float* tangents)
{
    const float value[VectorSize] = {scale.x, scale.y, scale.z};
    appendTangents(_scaleTangents, _scaleTimes.size(), tangents, VectorSize);
    appendKey(_scaleTimes, _scaleValues, time, value, VectorSize);
}

const float* kaAnimationBinding::getScaleTangents(int key) const { return tangentsOf(_scaleTangents, key, VectorSize); }

int kaAnimationBinding::getWeightsPerKey() const
{
    return _weightTimes.empty() ? 0 : static_cast<int>(_weightValues.size() / _weightTimes.size());
}

bool kaAnimationBinding::appendWeightKey(float time, const float* weights, int count, const float* tangents)
{
    if (count <= 0 || (!_weightTimes.empty() && count != getWeightsPerKey())) return false;
    appendTangents(_weightTangents, _weightTimes.size(), tangents, size_t(count));
    appendKey(_weightTimes, _weightValues, time, weights, count);
    return true;
}

const float* kaAnimationBinding::getWeightTangents(int key) const
{
    return tangentsOf(_weightTangents, key, size_t(getWeightsPerKey()));
}

void kaAnimationBinding::reflect(ReflectionType plane)
{
    const int mirroredAxis = static_cast<int>(plane);
    if (mirroredAxis < 0 || mirroredAxis >= VectorSize) return;
    // A mirror turns a rotation about an axis in the plane the other way and keeps one about
    // the mirrored axis. Tangents are derivatives of the values: they mirror alike.
    for (kaBlock<float>* block : {&_translationValues, &_translationTangents})
        mirror(*block, VectorSize, mirroredAxis, false);
    for (kaBlock<float>* block : {&_rotationValues, &_rotationTangents})
        mirror(*block, QuaternionSize, mirroredAxis, true);
}

void kaAnimationBinding::swapKeys(kaAnimationBinding& other)
{
    _translationTimes.swap(other._translationTimes);
    _translationValues.swap(other._translationValues);
    _rotationTimes.swap(other._rotationTimes);
    _rotationValues.swap(other._rotationValues);
    _scaleTimes.swap(other._scaleTimes);
    _scaleValues.swap(other._scaleValues);
    _weightTimes.swap(other._weightTimes);
    _weightValues.swap(other._weightValues);
    std::swap(_interpolation, other._interpolation);
    _translationTangents.swap(other._translationTangents);
    _rotationTangents.swap(other._rotationTangents);
    _scaleTangents.swap(other._scaleTangents);
    _weightTangents.swap(other._weightTangents);
}

void kaAnimationBinding::afterRead()
{
    trimChannel(_translationTimes, _translationValues, VectorSize);
    trimChannel(_rotationTimes, _rotationValues, QuaternionSize);
    trimChannel(_scaleTimes, _scaleValues, VectorSize);
    // Weight keys must all hold the same number of weights.
    if (_weightTimes.empty() || _weightValues.size() % _weightTimes.size() != 0) {
        _weightTimes.clear();
        _weightValues.clear();
        _weightTangents.clear();
    }
    fitTangents(_translationTangents, _translationTimes.size(), VectorSize);
    fitTangents(_rotationTangents, _rotationTimes.size(), QuaternionSize);
    fitTangents(_scaleTangents, _scaleTimes.size(), VectorSize);
    fitTangents(_weightTangents, _weightTimes.size(), size_t(getWeightsPerKey()));
    if (_interpolation != Linear && _interpolation != Step && _interpolation != CubicSpline) _interpolation = Linear;
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

void kaAnimation::reflectAllBindings(const char* leftIdentifier, const char* rightIdentifier, bool ignoreCase,
                                     kaAnimationBinding::ReflectionType plane)
{
    const std::string left = pairingKey(leftIdentifier ? leftIdentifier : "", ignoreCase);
    const std::string right = pairingKey(rightIdentifier ? rightIdentifier : "", ignoreCase);
    if (!left.empty() && !right.empty()) {
        const kaBindingNames names(*this, ignoreCase);
        std::vector<bool> paired(size_t(getBindingCount()), false);
        std::string wanted, ahead;
        for (int i = 0; i < getBindingCount(); ++i) {
            // The slot of a later binding's partner loads while this one pairs.
            if (const int later = i + kaBindingNames::kAhead; later < getBindingCount()) {
                const std::string_view name = names.name(later);
                if (const size_t at = leftSideAt(name, 0, left, right); at != std::string::npos) {
                    partnerName(ahead, name, at, left.size(), right);
                    names.prefetch(ahead);
                }
            }
            const std::string_view name = names.name(i);
            if (paired[i] || name.empty()) continue;
            int partner = -1;
            for (size_t at = leftSideAt(name, 0, left, right); at != std::string::npos && partner < 0;
                 at = leftSideAt(name, at + 1, left, right)) {
                partnerName(wanted, name, at, left.size(), right);
                for (int j = names.first(wanted); j >= 0; j = names.next(j))
                    if (j != i && !paired[j]) {
                        partner = j;
                        break;
                    }
            }
            if (partner < 0) continue;
            getBinding(i)->swapKeys(*getBinding(partner));
            paired[i] = paired[partner] = true;
        }
    }
    reflectAllBindings(plane);
}

KA_IMPLEMENT_OBJECT_LIST(kaAnimationList)

} // namespace Lode::Sg
