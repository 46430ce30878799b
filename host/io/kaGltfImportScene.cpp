// glTF import of the node hierarchy: checked parents and placements, the engine's groups,
// transforms and joints, and the lights and cameras on nodes.
#include "host/io/kaGltfImporter.h"

#include "host/io/kaGltfExtensions.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaTransform.h"

#include <algorithm>
#include <cstring>

namespace Lode::Io {

kaMatrix44f matrixOfColumns(const float* columns)
{
    // glTF stores column-vector matrices column by column: column i of that matrix is row i of
    // the row-vector matrix, so the 16 values are the rows in order.
    kaMatrix44f matrix;
    std::memcpy(matrix.data(), columns, 16 * sizeof(float));
    return matrix;
}

namespace {

kaMatrix44f localMatrixOf(const tinygltf::Node& node)
{
    if (node.matrix.size() == 16) {
        float columns[16];
        for (int i = 0; i < 16; ++i) columns[i] = static_cast<float>(node.matrix[i]);
        return matrixOfColumns(columns);
    }
    kaVec3f translation, scale(1.0f, 1.0f, 1.0f);
    kaQuatf rotation;
    if (node.translation.size() == 3)
        translation.set(float(node.translation[0]), float(node.translation[1]), float(node.translation[2]));
    if (node.scale.size() == 3) scale.set(float(node.scale[0]), float(node.scale[1]), float(node.scale[2]));
    if (node.rotation.size() == 4) {
        rotation.set(float(node.rotation[0]), float(node.rotation[1]), float(node.rotation[2]), float(node.rotation[3]));
        rotation.normalize();
    }
    return compose(translation, rotation, scale);
}

} // namespace

std::string kaGltfImporter::nodeName(int index) const
{
    const std::string& name = _model.nodes[index].name;
    // Joints and animated nodes are found by name (skeletons, animation bindings).
    if (name.empty() && (_isJoint[index] || _isAnimated[index] || _hasAnimatedWeights[index]))
        return "node" + std::to_string(index);
    return name;
}

bool kaGltfImporter::checkNodes()
{
    const size_t count = _model.nodes.size();
    _parents.assign(count, -1);
    for (size_t i = 0; i < count; ++i) {
        for (int child : _model.nodes[i].children) {
            if (child < 0 || size_t(child) >= count)
                return fail("node " + std::to_string(i) + " has child " + std::to_string(child) +
                            ", which does not exist");
            if (_parents[child] != -1)
                return fail("node " + std::to_string(child) + " has more than one parent");
            _parents[child] = static_cast<int>(i);
        }
    }
    // World matrices, parents first; a chain longer than the node count is a cycle.
    _worlds.assign(count, kaMatrix44f());
    std::vector<char> done(count, 0);
    std::vector<int> chain;
    for (size_t i = 0; i < count; ++i) {
        chain.clear();
        for (int at = static_cast<int>(i); at != -1 && !done[at]; at = _parents[at]) {
            if (chain.size() > count) return fail("the node hierarchy has a cycle through node " + std::to_string(i));
            chain.push_back(at);
        }
        for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
            const int parent = _parents[*at];
            _worlds[*at] = parent == -1 ? localMatrixOf(_model.nodes[*at])
                                        : localMatrixOf(_model.nodes[*at]) * _worlds[parent];
            done[*at] = 1;
        }
    }
    _isJoint.assign(count, false);
    for (size_t s = 0; s < _model.skins.size(); ++s) {
        const tinygltf::Skin& skin = _model.skins[s];
        for (int joint : skin.joints) {
            if (joint < 0 || size_t(joint) >= count)
                return fail("skin " + std::to_string(s) + " has joint " + std::to_string(joint) +
                            ", which does not exist");
            _isJoint[joint] = true;
        }
    }
    _isAnimated.assign(count, false);
    _hasAnimatedWeights.assign(count, false);
    for (const tinygltf::Animation& animation : _model.animations)
        for (const tinygltf::AnimationChannel& channel : animation.channels)
            if (channel.target_node >= 0 && size_t(channel.target_node) < count)
                (channel.target_path == "weights" ? _hasAnimatedWeights : _isAnimated)[channel.target_node] = true;
    return true;
}

bool kaGltfImporter::buildNodes()
{
    const size_t count = _model.nodes.size();
    _nodes.resize(count);
    const kaMatrix44f identity;
    for (size_t i = 0; i < count; ++i) {
        const tinygltf::Node& node = _model.nodes[i];
        const kaMatrix44f local = localMatrixOf(node);
        kaSmartPointer<kaTransform> transform;
        if (_isJoint[i])
            transform = make<kaJoint>();
        else if (_isAnimated[i] || local != identity)
            transform = make<kaTransform>();
        if (transform) {
            transform->setMatrix(local);
            transform->setAnimated(_isAnimated[i]);
            _nodes[i] = transform;
        } else {
            _nodes[i] = make<kaGroup>();
        }
        const std::string name = nodeName(static_cast<int>(i));
        if (!name.empty()) _nodes[i]->setName(name.c_str());
        kaKeepUnread(_nodes[i], node, {kaGltfLightsExtension});
    }
    for (size_t i = 0; i < count; ++i) {
        const tinygltf::Node& node = _model.nodes[i];
        kaGroup* group = _nodes[i];
        if (node.mesh >= 0) {
            if (size_t(node.mesh) >= _model.meshes.size())
                return fail("node " + std::to_string(i) + " has mesh " + std::to_string(node.mesh) +
                            ", which does not exist");
            if (node.skin >= int(_model.skins.size()))
                return fail("node " + std::to_string(i) + " has skin " + std::to_string(node.skin) +
                            ", which does not exist");
            kaNode* geometry = meshNode(node.mesh, node.skin < 0 ? -1 : node.skin, nodeName(static_cast<int>(i)));
            if (!geometry) return false;
            group->appendChild(geometry);
        }
        const auto lights = node.extensions.find(kaGltfLightsExtension);
        if (lights != node.extensions.end() && lights->second.IsObject() && lights->second.Has("light")) {
            const tinygltf::Value& index = lights->second.Get("light");
            const int lightIndex = index.IsNumber() ? index.GetNumberAsInt() : -1;
            if (lightIndex < 0 || size_t(lightIndex) >= _model.lights.size())
                return fail("node " + std::to_string(i) + " has light " + std::to_string(lightIndex) +
                            ", which does not exist");
            if (kaLightAttr* attr = light(lightIndex)) {
                auto set = make<kaLightSet>();
                set->appendLight(attr);
                group->appendChild(set);
            }
        }
        if (node.camera >= 0) {
            if (size_t(node.camera) >= _model.cameras.size())
                return fail("node " + std::to_string(i) + " has camera " + std::to_string(node.camera) +
                            ", which does not exist");
            if (kaCamera* attached = camera(node.camera)) group->appendChild(attached);
        }
        if (!node.weights.empty()) _warnings.loss("morph weights of nodes (other than their meshes') dropped");
        for (int child : node.children) group->appendChild(_nodes[child]);
    }
    return true;
}

// ---- lights and cameras ----

kaLightAttr* kaGltfImporter::light(int index)
{
    auto found = _lights.find(index);
    if (found != _lights.end()) return found->second;
    const tinygltf::Light& source = _model.lights[index];
    KA_GFX_LIGHT_TYPE type;
    if (source.type == "directional")
        type = KA_GFX_LIGHT_TYPE_DIRECTIONAL;
    else if (source.type == "point")
        type = KA_GFX_LIGHT_TYPE_POINT;
    else if (source.type == "spot")
        type = KA_GFX_LIGHT_TYPE_SPOT;
    else {
        _warnings.loss("lights of unknown type dropped");
        return _lights[index] = nullptr;
    }
    auto attr = make<kaLightAttr>(source.name);
    kaKeepUnread(attr, source);
    attr->setType(type);
    // The light shines from its node's origin down the node's -z axis.
    attr->setPosition({0.0f, 0.0f, 0.0f});
    attr->setDirection({0.0f, 0.0f, -1.0f});
    // The engine's light has no intensity: it scales the colour.
    const float intensity = static_cast<float>(source.intensity);
    kaVec4f color(1.0f, 1.0f, 1.0f, 1.0f);
    if (source.color.size() >= 3)
        color.set(float(source.color[0]), float(source.color[1]), float(source.color[2]), 1.0f);
    color.x *= intensity;
    color.y *= intensity;
    color.z *= intensity;
    attr->setColor(color);
    attr->setIntensity(intensity);
    if (source.range > 0.0) attr->setRange(static_cast<float>(source.range));
    if (type == KA_GFX_LIGHT_TYPE_SPOT) {
        attr->setInnerConeAngle(static_cast<float>(source.spot.innerConeAngle));
        attr->setOuterConeAngle(static_cast<float>(source.spot.outerConeAngle));
    }
    return _lights[index] = attr;
}

kaCamera* kaGltfImporter::camera(int index)
{
    auto found = _cameras.find(index);
    if (found != _cameras.end()) return found->second;
    const tinygltf::Camera& source = _model.cameras[index];
    auto attached = make<kaCamera>(source.name);
    kaKeepUnread(attached, source);
    if (source.type == "orthographic") {
        attached->setProjection(KA_GFX_PROJECTION_ORTHOGRAPHIC);
        attached->setXMag(static_cast<float>(source.orthographic.xmag));
        attached->setYMag(static_cast<float>(source.orthographic.ymag));
        attached->setZNear(static_cast<float>(source.orthographic.znear));
        attached->setZFar(static_cast<float>(source.orthographic.zfar));
    } else if (source.type == "perspective") {
        attached->setYFov(static_cast<float>(source.perspective.yfov));
        attached->setAspectRatio(static_cast<float>(std::max(source.perspective.aspectRatio, 0.0)));
        attached->setZNear(static_cast<float>(source.perspective.znear));
        attached->setZFar(static_cast<float>(std::max(source.perspective.zfar, 0.0)));
    } else {
        _warnings.loss("cameras of unknown type dropped");
        return _cameras[index] = nullptr;
    }
    return _cameras[index] = attached;
}

} // namespace Lode::Io
