// glTF export of the scene graph: the first pass, which lays out the glTF nodes, their
// transforms, lights and cameras, and places the meshes built afterwards.
#include "host/io/kaGltfExporter.h"

#include "host/sg/kaJoint.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaTransform.h"

#include <algorithm>
#include <cmath>

namespace Lode::Io {

int kaGltfExporter::addNode(const std::string& name, int parent)
{
    tinygltf::Node node;
    node.name = name;
    const int index = static_cast<int>(_model.nodes.size());
    _model.nodes.push_back(std::move(node));
    _hasMesh.push_back(false);
    _worlds.emplace_back();
    if (parent >= 0)
        _model.nodes[parent].children.push_back(index);
    else
        _model.scenes[0].nodes.push_back(index);
    return index;
}

void kaGltfExporter::setTransform(tinygltf::Node& node, const kaMatrix44f& matrix)
{
    if (matrix == kaMatrix44f()) return;
    // glTF wants animated nodes, and every node whose matrix it checks, as translation, rotation
    // and scale; a shear has no such form.
    kaVec3f translation, scale;
    kaQuatf rotation;
    const bool affine = decompose(matrix, translation, rotation, scale);
    const kaMatrix44f recomposed = compose(translation, rotation, scale);
    float largest = 1.0f, difference = 0.0f;
    for (int i = 0; i < 16; ++i) {
        largest = std::max(largest, std::abs(matrix.data()[i]));
        difference = std::max(difference, std::abs(matrix.data()[i] - recomposed.data()[i]));
    }
    if (!affine || difference > 1e-4f * largest) _warnings.loss("shear and projection of transforms dropped");
    // Scales that are 1 but for rounding in the decomposition are written as 1.
    for (int axis = 0; axis < 3; ++axis)
        if (std::abs(scale[axis] - 1.0f) < 1e-6f) scale[axis] = 1.0f;
    if (translation != kaVec3f::ZeroVector) node.translation = {translation.x, translation.y, translation.z};
    rotation.normalize();
    if (rotation.x != 0.0f || rotation.y != 0.0f || rotation.z != 0.0f || rotation.w != 1.0f)
        node.rotation = {rotation.x, rotation.y, rotation.z, rotation.w};
    if (scale != kaVec3f(1.0f, 1.0f, 1.0f)) node.scale = {scale.x, scale.y, scale.z};
}

kaAttrState kaGltfExporter::applyAttrs(kaAttrSet* set, kaAttrState state)
{
    for (int i = 0; i < set->getAttrCount(); ++i) {
        kaAttr* attr = set->getAttr(i);
        if (!attr) continue;
        if (kaMaterialAttr* material = kaMaterialAttr::dynamicCast(attr))
            state.material = material;
        else if (kaTextureAttr* texture = kaTextureAttr::dynamicCast(attr))
            state.setTexture(texture);
        else if (kaVertexBlendMatrixListAttr* list = kaVertexBlendMatrixListAttr::dynamicCast(attr))
            state.blendList = list;
        else if (!kaGeometryAttr::dynamicCast(attr) && !kaMorphedGeometryAttr::dynamicCast(attr))
            _warnings.loss("attributes of class " + className(attr) + " dropped");
    }
    return state;
}

bool kaGltfExporter::isMeshTree(kaNode* node) const
{
    // Geometry with only attribute sets and geometry below it is one glTF mesh.
    if (!kaAttrSet::dynamicCast(node)) return false;
    std::vector<kaNode*> pending{node};
    std::set<kaNode*> seen;
    bool hasGeometry = false;
    while (!pending.empty()) {
        kaNode* at = pending.back();
        pending.pop_back();
        if (!seen.insert(at).second) continue;
        if (!kaAttrSet::dynamicCast(at)) return false;
        hasGeometry = hasGeometry || kaGeometry::dynamicCast(at);
        kaGroup* group = kaGroup::dynamicCast(at);
        for (int c = 0; c < group->getChildCount(); ++c)
            if (kaNode* child = group->getChild(c)) pending.push_back(child);
    }
    return hasGeometry;
}

void kaGltfExporter::placeMesh(int node, kaNode* source, bool ownAttrsOnly, const kaAttrState& state)
{
    if (node < 0 || _hasMesh[node]) node = addNode(nameOf(source), node);
    _hasMesh[node] = true;
    _placedMeshes.push_back({node, source, ownAttrsOnly, state});
}

void kaGltfExporter::placeLights(int node, kaLightSet* set)
{
    bool lightOnNode = node >= 0 && _model.nodes[node].extensions.count(kaGltfLightsExtension);
    for (int i = 0; i < set->getLightCount(); ++i) {
        kaLightAttr* light = set->getLight(i);
        if (!light) continue;
        const int index = lightOf(light);
        if (index < 0) continue;
        kaVec3f position = light->getPosition();
        kaVec3f direction = light->getDirection();
        const bool aimed = light->getType() != KA_GFX_LIGHT_TYPE_POINT;
        if (light->isPlacementCached()) {
            // A light moved out of its place keeps its placement in the whole scene in its
            // cached values; it is written there, relative to the node it is written under.
            kaMatrix44f fromScene;
            if (node >= 0) fromScene.invert(_worlds[node]);
            position.transformPoint(light->getCachedPosition(), fromScene);
            if (aimed) direction.transformVector(light->getCachedDirection(), fromScene);
        }
        if (direction.normalize() == 0.0f) direction.set(0.0f, 0.0f, -1.0f);
        // A glTF light sits at its node's origin and shines down the node's -z axis: a light
        // placed otherwise gets a node of its own that puts it there.
        const bool atOrigin = position == kaVec3f::ZeroVector &&
                              (!aimed || direction.distance(kaVec3f(0.0f, 0.0f, -1.0f)) < 1e-6f);
        int target = node;
        if (!atOrigin || lightOnNode || node < 0) {
            target = addNode(nameOf(light), node);
            if (position != kaVec3f::ZeroVector)
                _model.nodes[target].translation = {position.x, position.y, position.z};
            if (aimed) {
                // The rotation that takes -z to the direction.
                const kaVec3f from(0.0f, 0.0f, -1.0f);
                const float dot = from.dot(direction);
                kaQuatf rotation;
                if (dot < -0.999999f) {
                    rotation.set(1.0f, 0.0f, 0.0f, 0.0f);
                } else {
                    const kaVec3f axis = from.cross(direction);
                    rotation.set(axis.x, axis.y, axis.z, 1.0f + dot);
                    rotation.normalize();
                }
                if (rotation.w < 0.999999f) _model.nodes[target].rotation = {rotation.x, rotation.y, rotation.z, rotation.w};
            }
        } else {
            lightOnNode = true;
        }
        tinygltf::Value::Object extension;
        extension["light"] = tinygltf::Value(index);
        _model.nodes[target].extensions[kaGltfLightsExtension] = tinygltf::Value(std::move(extension));
    }
}

void kaGltfExporter::exportChildren(kaExportFrame top)
{
    std::vector<kaExportFrame> frames;
    frames.push_back(std::move(top));
    _ancestors.insert(frames.back().group);
    while (!frames.empty()) {
        kaExportFrame& frame = frames.back();
        if (frame.next == frame.group->getChildCount()) {
            _ancestors.erase(frame.group);
            frames.pop_back();
            continue;
        }
        kaNode* child = frame.group->getChild(frame.next++);
        if (!child) continue;
        kaLightSet* lights = kaLightSet::dynamicCast(child);
        kaCamera* camera = kaCamera::dynamicCast(child);
        if (isMeshTree(child)) {
            placeMesh(frame.node, child, false, frame.state);
        } else if (lights && frame.node >= 0 && !lights->getName() && lights->getChildCount() == 0) {
            placeLights(frame.node, lights);
        } else if (camera && frame.node >= 0 && _model.nodes[frame.node].camera < 0) {
            placeCamera(frame.node, camera);
        } else if (std::optional<kaExportFrame> inner = exportNode(child, frame.node, frame.state, frame.world)) {
            _ancestors.insert(inner->group);
            frames.push_back(std::move(*inner));
        }
    }
}

// Writes the node itself; a group comes back as the frame of its children.
std::optional<kaExportFrame> kaGltfExporter::exportNode(kaNode* node, int parent, const kaAttrState& state,
                                                         const kaMatrix44f& parentWorld)
{
    if (_ancestors.count(node)) {
        _warnings.add("cycles in the scene graph cut");
        return std::nullopt;
    }
    const int index = addNode(nameOf(node), parent);
    keepUnread(_model.nodes[index], node);
    kaTransform* transform = kaTransform::dynamicCast(node);
    if (node->getName()) _namedNodes.push_back({node->getName(), index, transform != nullptr});
    kaMatrix44f world = parentWorld;
    if (transform) {
        setTransform(_model.nodes[index], transform->getMatrix());
        world = transform->getMatrix() * parentWorld;
    }
    _worlds[index] = world;
    if (kaJoint* joint = kaJoint::dynamicCast(node))
        if (joint->getBlendingMatrix()) _jointNodes.emplace(joint->getBlendingMatrix(), index);
    if (kaLod::dynamicCast(node)) _warnings.loss("level-of-detail ranges dropped (every level kept)");
    if (kaCamera* camera = kaCamera::dynamicCast(node)) placeCamera(index, camera);

    kaGroup* group = kaGroup::dynamicCast(node);
    if (!group) return std::nullopt;
    kaAttrState inner = state;
    if (kaAttrSet* set = kaAttrSet::dynamicCast(node)) {
        inner = applyAttrs(set, state);
        if (kaGeometry::dynamicCast(node)) placeMesh(index, node, true, state);
    }
    if (kaLightSet* lights = kaLightSet::dynamicCast(node)) placeLights(index, lights);
    return kaExportFrame{group, index, inner, world};
}

// ---- lights and cameras ----

int kaGltfExporter::lightOf(kaLightAttr* light)
{
    auto found = _lights.find(light);
    if (found != _lights.end()) return found->second;
    tinygltf::Light written;
    written.name = nameOf(light);
    keepUnread(written, light);
    switch (light->getType()) {
    case KA_GFX_LIGHT_TYPE_DIRECTIONAL: written.type = "directional"; break;
    case KA_GFX_LIGHT_TYPE_POINT: written.type = "point"; break;
    case KA_GFX_LIGHT_TYPE_SPOT: written.type = "spot"; break;
    default: _warnings.loss("lights of unknown type dropped"); return _lights[light] = -1;
    }
    // glTF colours stay within 0 to 1; the light's own intensity is taken out of the colour
    // when that leaves the colour in range, else the brightness beyond 1.
    const kaVec4f& color = light->getColor();
    const float red = std::max(color.x, 0.0f), green = std::max(color.y, 0.0f), blue = std::max(color.z, 0.0f);
    const float brightest = std::max({red, green, blue});
    const float own = light->getIntensity();
    const float intensity = own > 0.0f && brightest <= own * (1.0f + 1e-6f) ? own : std::max(brightest, 1.0f);
    written.color = {std::min(red / intensity, 1.0f), std::min(green / intensity, 1.0f), std::min(blue / intensity, 1.0f)};
    written.intensity = intensity;
    if (light->getRange() > 0.0f) written.range = light->getRange();
    if (written.type == "spot") {
        written.spot.innerConeAngle = light->getInnerConeAngle();
        written.spot.outerConeAngle = light->getOuterConeAngle();
        const double quarterTurn = 1.5707963267948966;
        if (!(written.spot.innerConeAngle >= 0.0 && written.spot.innerConeAngle < written.spot.outerConeAngle &&
              written.spot.outerConeAngle <= quarterTurn))
            fail("spot light \"" + written.name + "\" has cone angles " + std::to_string(written.spot.innerConeAngle) +
                 " and " + std::to_string(written.spot.outerConeAngle) +
                 "; glTF needs 0 <= inner < outer <= a quarter turn");
    }
    _model.lights.push_back(std::move(written));
    return _lights[light] = static_cast<int>(_model.lights.size()) - 1;
}

void kaGltfExporter::placeCamera(int node, kaCamera* camera)
{
    // A node holds one camera: another gets a node of its own.
    if (node < 0 || _model.nodes[node].camera >= 0) node = addNode(nameOf(camera), node);
    auto found = _cameras.find(camera);
    if (found == _cameras.end()) {
        tinygltf::Camera written;
        written.name = nameOf(camera);
        keepUnread(written, camera);
        const std::string what = "camera \"" + written.name + "\"";
        if (!(camera->getZNear() > 0.0f) || !(camera->getZFar() >= 0.0f) ||
            (camera->getZFar() > 0.0f && camera->getZFar() <= camera->getZNear()))
            fail(what + " has near and far planes at " + std::to_string(camera->getZNear()) + " and " +
                 std::to_string(camera->getZFar()) + "; glTF needs 0 < near < far");
        if (camera->getProjection() == KA_GFX_PROJECTION_ORTHOGRAPHIC) {
            written.type = "orthographic";
            written.orthographic.xmag = camera->getXMag();
            written.orthographic.ymag = camera->getYMag();
            written.orthographic.znear = camera->getZNear();
            written.orthographic.zfar = camera->getZFar();
            if (camera->getXMag() == 0.0f || camera->getYMag() == 0.0f || camera->getZFar() == 0.0f)
                fail(what + " is orthographic without a far plane or with an empty view; glTF needs both");
        } else {
            written.type = "perspective";
            written.perspective.yfov = camera->getYFov();
            written.perspective.aspectRatio = camera->getAspectRatio();
            written.perspective.znear = camera->getZNear();
            written.perspective.zfar = camera->getZFar();
            if (!(camera->getYFov() > 0.0f) || camera->getAspectRatio() < 0.0f)
                fail(what + " has a field of view of " + std::to_string(camera->getYFov()) + " and an aspect ratio of " +
                     std::to_string(camera->getAspectRatio()) + "; glTF needs both positive");
        }
        _model.cameras.push_back(std::move(written));
        found = _cameras.emplace(camera, static_cast<int>(_model.cameras.size()) - 1).first;
    }
    _model.nodes[node].camera = found->second;
}

} // namespace Lode::Io
