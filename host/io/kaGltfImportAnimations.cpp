// glTF import of animations: each node's channels become bindings, one per interpolation.
#include "host/io/kaGltfImporter.h"

#include "host/io/kaGltfExtensions.h"

#include <algorithm>

namespace Lode::Io {

bool kaGltfImporter::buildAnimations(kaAnimationDatabase* database)
{
    for (size_t a = 0; a < _model.animations.size(); ++a) {
        const tinygltf::Animation& source = _model.animations[a];
        auto animation = make<kaAnimation>(source.name.empty() ? "animation" + std::to_string(a) : source.name);
        kaKeepUnread(animation, source);
        // A binding holds one interpolation: a node whose channels interpolate differently gets
        // a binding per interpolation.
        std::map<std::pair<int, int>, kaAnimationBinding*> bindings;
        for (size_t c = 0; c < source.channels.size(); ++c) {
            const tinygltf::AnimationChannel& channel = source.channels[c];
            const std::string what = "animation " + std::to_string(a) + " channel " + std::to_string(c);
            const bool weights = channel.target_path == "weights";
            if (channel.target_path != "translation" && channel.target_path != "rotation" &&
                channel.target_path != "scale" && !weights)
                return fail(what + " animates unknown property \"" + channel.target_path + "\"");
            if (channel.target_node < 0 || size_t(channel.target_node) >= _model.nodes.size())
                return fail(what + " animates node " + std::to_string(channel.target_node) + ", which does not exist");
            if (channel.sampler < 0 || size_t(channel.sampler) >= source.samplers.size())
                return fail(what + " uses sampler " + std::to_string(channel.sampler) + ", which does not exist");
            const tinygltf::AnimationSampler& sampler = source.samplers[channel.sampler];
            // (tinygltf gives a sampler the JSON text of its animation's members: its own extras
            // are read from its value.)
            if (!channel.extras_json_string.empty() || !channel.extensions_json_string.empty() ||
                sampler.extras.Type() != tinygltf::NULL_TYPE)
                _warnings.loss("extras and extensions of animation channels and samplers dropped");
            std::vector<float> times, values;
            int timeComponents = 0, valueComponents = 0;
            const int valueType = weights ? TINYGLTF_TYPE_SCALAR
                                  : channel.target_path == "rotation" ? TINYGLTF_TYPE_VEC4
                                                                      : TINYGLTF_TYPE_VEC3;
            if (!readFloats(sampler.input, what + " input", {TINYGLTF_TYPE_SCALAR}, times, timeComponents) ||
                !readFloats(sampler.output, what + " output", {valueType}, values, valueComponents))
                return false;
            // A cubic spline keeps an in-tangent, the value and an out-tangent per key.
            const auto interpolation = sampler.interpolation == "CUBICSPLINE" ? kaAnimationBinding::CubicSpline
                                       : sampler.interpolation == "STEP"      ? kaAnimationBinding::Step
                                                                              : kaAnimationBinding::Linear;
            const bool cubic = interpolation == kaAnimationBinding::CubicSpline;
            const size_t stride = cubic ? 3 : 1;
            // A weight key holds one weight per morph target of the node's mesh.
            const size_t components =
                !weights ? size_t(valueComponents) : times.empty() ? 1 : std::max<size_t>(values.size() / stride / times.size(), 1);
            const size_t keys = std::min(times.size(), values.size() / components / stride);
            kaAnimationBinding*& binding = bindings[{channel.target_node, int(interpolation)}];
            if (!binding) {
                auto created = make<kaAnimationBinding>(nodeName(channel.target_node));
                created->setInterpolation(interpolation);
                animation->appendBinding(created);
                binding = created;
            }
            std::vector<float> tangents(2 * components);
            for (size_t k = 0; k < keys; ++k) {
                const float* value = &values[(k * stride + (cubic ? 1 : 0)) * components];
                if (cubic) {
                    std::copy(value - components, value, tangents.begin());
                    std::copy(value + components, value + 2 * components, tangents.begin() + components);
                }
                const float* keyTangents = cubic ? tangents.data() : nullptr;
                if (weights)
                    binding->appendWeightKey(times[k], value, static_cast<int>(components), keyTangents);
                else if (components == 4)
                    binding->appendRotationKey(times[k], kaQuatf(value[0], value[1], value[2], value[3]), keyTangents);
                else if (channel.target_path == "translation")
                    binding->appendTranslationKey(times[k], kaVec3f(value[0], value[1], value[2]), keyTangents);
                else
                    binding->appendScaleKey(times[k], kaVec3f(value[0], value[1], value[2]), keyTangents);
            }
        }
        if (animation->getBindingCount() > 0) database->appendAnimation(animation);
    }
    return true;
}

} // namespace Lode::Io
