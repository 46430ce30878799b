// glTF export of animations: one channel per animated property, morph weights included.
#include "host/io/kaGltfExporter.h"

#include "host/io/kaSceneCounts.h"

#include <algorithm>
#include <cmath>

namespace Lode::Io {

namespace {

const char* interpolationName(const kaAnimationBinding* binding)
{
    switch (binding->getInterpolation()) {
    case kaAnimationBinding::Step: return "STEP";
    case kaAnimationBinding::CubicSpline: return "CUBICSPLINE";
    default: return "LINEAR";
    }
}

} // namespace

void kaGltfExporter::buildAnimations()
{
    if (_databases.empty()) return;
    for (const kaNamedNode& named : _namedNodes) {
        _anyNodeByName.emplace(named.name, named.index);
        if (named.transform) _nodeByName.emplace(named.name, named.index);
    }
    for (kaAnimationDatabase* database : _databases) {
        kaAnimationList* animations = database->getAnimationList();
        for (int a = 0; a < animations->getCount(); ++a) {
            const kaAnimation* source = animations->getShared(a);
            if (!source) continue;
            tinygltf::Animation animation;
            animation.name = nameOf(source);
            keepUnread(animation, source);
            for (int b = 0; b < source->getBindingCount(); ++b) {
                const kaAnimationBinding* binding = source->getBinding(b);
                if (binding && binding->getName() && binding->getWeightKeyCount() > 0) weightChannel(animation, binding);
                const auto node = binding && binding->getName() ? _nodeByName.find(binding->getName()) : _nodeByName.end();
                if (node == _nodeByName.end()) {
                    if (binding && binding->getTranslationKeyCount() + binding->getRotationKeyCount() +
                                           binding->getScaleKeyCount() > 0)
                        _warnings.loss("animation bindings naming no transform dropped", kaCount::animations);
                    continue;
                }
                const bool cubic = binding->getInterpolation() == kaAnimationBinding::CubicSpline;
                const auto channel = [&](const char* path, int keyCount, int components, auto timeOf, auto valueOf,
                                         auto tangentsOf) {
                    if (keyCount == 0) return;
                    // Key times must rise strictly: keys are ordered by time, and of keys at the
                    // same time the last one stays.
                    std::vector<int> order(keyCount);
                    for (int k = 0; k < keyCount; ++k) order[k] = k;
                    std::stable_sort(order.begin(), order.end(), [&](int x, int y) { return timeOf(x) < timeOf(y); });
                    const size_t keyFloats = size_t(cubic ? 3 : 1) * components;
                    kaChannelKeys keys;
                    for (int k : order) {
                        const float time = timeOf(k);
                        if (!std::isfinite(time)) continue;
                        if (!keys.times.empty() && keys.times.back() == time)
                            keys.values.resize(keys.values.size() - keyFloats);
                        else
                            keys.times.push_back(time);
                        const size_t at = keys.values.size();
                        keys.values.resize(at + keyFloats, 0.0f);
                        float* value = keys.values.data() + at + (cubic ? components : 0);
                        valueOf(k, value);
                        if (const float* tangents = cubic ? tangentsOf(k) : nullptr) {
                            std::copy(tangents, tangents + components, value - components);
                            std::copy(tangents + components, tangents + 2 * components, value + components);
                        }
                    }
                    if (order.size() != keys.times.size() || !std::is_sorted(order.begin(), order.end()))
                        _warnings.add("animation keys out of time order sorted (keys at the same time merged)");
                    addChannel(animation, node->second, path, std::move(keys),
                               components == 4 ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3, binding);
                };
                channel(
                    "translation", binding->getTranslationKeyCount(), 3,
                    [&](int k) { return binding->getTranslationTime(k); },
                    [&](int k, float* out) {
                        const kaVec3f value = binding->getTranslation(k);
                        out[0] = value.x, out[1] = value.y, out[2] = value.z;
                    },
                    [&](int k) { return binding->getTranslationTangents(k); });
                channel(
                    "rotation", binding->getRotationKeyCount(), 4, [&](int k) { return binding->getRotationTime(k); },
                    [&](int k, float* out) {
                        kaQuatf value = binding->getRotation(k);
                        value.normalize();
                        out[0] = value.x, out[1] = value.y, out[2] = value.z, out[3] = value.w;
                    },
                    [&](int k) { return binding->getRotationTangents(k); });
                channel(
                    "scale", binding->getScaleKeyCount(), 3, [&](int k) { return binding->getScaleTime(k); },
                    [&](int k, float* out) {
                        const kaVec3f value = binding->getScale(k);
                        out[0] = value.x, out[1] = value.y, out[2] = value.z;
                    },
                    [&](int k) { return binding->getScaleTangents(k); });
            }
            if (animation.channels.empty()) {
                _warnings.loss("animations without a binding to write dropped", kaCount::animations);
                continue;
            }
            _model.animations.push_back(std::move(animation));
        }
    }
}

void kaGltfExporter::weightChannel(tinygltf::Animation& animation, const kaAnimationBinding* binding)
{
    // Morph weights animate the node that holds the mesh, one weight per morph target.
    const auto node = _anyNodeByName.find(binding->getName());
    const int mesh = node == _anyNodeByName.end() ? -1 : _model.nodes[node->second].mesh;
    const int perKey = binding->getWeightsPerKey();
    if (mesh < 0 || int(_model.meshes[mesh].weights.size()) != perKey) {
        _warnings.loss("morph weight animations of nodes without as many morph targets dropped", kaCount::animations);
        return;
    }
    const bool cubic = binding->getInterpolation() == kaAnimationBinding::CubicSpline;
    kaChannelKeys keys;
    for (int k = 0; k < binding->getWeightKeyCount(); ++k) {
        const float time = binding->getWeightTime(k);
        if (!keys.times.empty() && !(time > keys.times.back())) {
            _warnings.loss("morph weight keys out of time order dropped");
            continue;
        }
        keys.times.push_back(time);
        const float* tangents = cubic ? binding->getWeightTangents(k) : nullptr;
        const auto tangent = [&](int side) {
            if (tangents)
                keys.values.insert(keys.values.end(), tangents + side * perKey, tangents + (side + 1) * perKey);
            else
                keys.values.resize(keys.values.size() + perKey, 0.0f);
        };
        if (cubic) tangent(0);
        keys.values.insert(keys.values.end(), binding->getWeights(k), binding->getWeights(k) + perKey);
        if (cubic) tangent(1);
    }
    addChannel(animation, node->second, "weights", std::move(keys), TINYGLTF_TYPE_SCALAR, binding);
}

void kaGltfExporter::addChannel(tinygltf::Animation& animation, int node, const char* path, kaChannelKeys keys,
                                int type, const kaAnimationBinding* binding)
{
    const int components = type == TINYGLTF_TYPE_SCALAR ? 1 : type;
    tinygltf::AnimationSampler sampler;
    const size_t times = keys.times.size(), values = keys.values.size();
    sampler.input = addFloats(keep(std::move(keys.times)), times, TINYGLTF_TYPE_SCALAR, 0, true);
    sampler.output = addFloats(keep(std::move(keys.values)), values / components, type, 0, false);
    sampler.interpolation = interpolationName(binding);
    tinygltf::AnimationChannel channel;
    channel.sampler = static_cast<int>(animation.samplers.size());
    channel.target_node = node;
    channel.target_path = path;
    animation.samplers.push_back(sampler);
    animation.channels.push_back(channel);
}

} // namespace Lode::Io
