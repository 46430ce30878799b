// glTF 2.0 export. The scene graph is walked once to lay out the glTF nodes; meshes, skins and
// materials are built afterwards, when every joint has its node. tinygltf serialises the model;
// the files are written here, all under temporary names first.
#include "host/io/kaGltf.h"

#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaText.h"
#include "host/io/kaGltfCommon.h"
#include "host/io/kaGltfExtensions.h"
#include "host/io/kaGltfVertexData.h"
#include "host/io/kaSceneCounts.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSceneModel.h"
#include "host/sg/kaTransform.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <optional>
#include <tuple>
#include <unordered_set>

namespace Lode::Io {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;

namespace {

// glTF text is UTF-8: a byte that starts no valid sequence becomes '?'.
std::string validUtf8(const char* text)
{
    std::string result;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; bytes[i];) {
        const unsigned char lead = bytes[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        bool valid = length > 0;
        for (int k = 1; valid && k < length; ++k) valid = (bytes[i + k] & 0xc0) == 0x80;
        if (valid) {
            result.append(text + i, length);
            i += length;
        } else {
            result += '?';
            ++i;
        }
    }
    return result;
}

std::string nameOf(const kaNamedObject* object)
{
    return object && object->getName() ? validUtf8(object->getName()) : "";
}

std::string className(const kaObject* object)
{
    const char* name = object->getMetaObject()->getName();
    return name ? name : "an unknown class";
}

bool fileExists(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// A URI reference for a relative file path: unreserved characters and '/' stay, the rest is
// percent-encoded.
std::string uriOfPath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string uri;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// What the attribute sets above a geometry put in force: its material, a texture per slot and
// its matrix palette.
struct kaAttrState {
    kaMaterialAttr* material = nullptr;
    std::array<kaTextureAttr*, KA_GFX_TEXTURE_SLOT_COUNT> textures{};
    kaVertexBlendMatrixListAttr* blendList = nullptr;

    auto key() const { return std::make_tuple(material, textures, blendList); }
    void setTexture(kaTextureAttr* texture)
    {
        const int slot = texture->getSlot();
        textures[slot >= 0 && slot < KA_GFX_TEXTURE_SLOT_COUNT ? slot : KA_GFX_TEXTURE_SLOT_BASE_COLOR] = texture;
    }
};

// A group whose children are being exported: the glTF node they go under, the attribute state
// and world placement they inherit, and the next child to take. Exports keep these on a stack
// of their own, so that scenes many thousands of levels deep do not exhaust the call stack.
struct kaExportFrame {
    kaGroup* group = nullptr;
    int node = -1;
    kaAttrState state;
    kaMatrix44f world;
    int next = 0;
};

// One drawn primitive found below a mesh's node.
struct kaPrimitiveSource {
    kaGeometryAttr* attr = nullptr;
    kaVertexArray* vertices = nullptr;
    // The components written: the vertices' own, less those a first-generation morph's
    // attribute no longer has.
    kaVertexFormat format;
    kaAttrState state;
    kaMorphBase* morphBase = nullptr;                // first-generation morph
    kaMorphedGeometryAttr* morphedGeometry = nullptr;  // second-generation morph
    kaMorphSequence* sequence = nullptr;
    int targetCount = 0;
};

// The keys of one animation channel in glTF's layout: per key the value, or for a cubic spline
// the in-tangent, the value and the out-tangent (flat where the binding has no tangents).
struct kaChannelKeys {
    std::vector<float> times, values;
};

class kaGltfExporter {
public:
    kaGltfExporter(const std::string& path, const std::vector<kaExternalDirEntry*>& externalEntries,
                   kaFileCommit& files);
    bool run(kaInfoList* infos, std::string& error);

private:
    // ---- nodes (first pass) ----
    int addNode(const std::string& name, int parent);
    void setTransform(tinygltf::Node& node, const kaMatrix44f& matrix);
    std::optional<kaExportFrame> exportNode(kaNode* node, int parent, const kaAttrState& state,
                                            const kaMatrix44f& parentWorld);
    void exportChildren(kaExportFrame top);
    kaAttrState applyAttrs(kaAttrSet* set, kaAttrState state);
    bool isMeshTree(kaNode* node) const;
    void placeMesh(int node, kaNode* source, bool ownAttrsOnly, const kaAttrState& state);
    void placeLights(int node, kaLightSet* set);
    void placeCamera(int node, kaCamera* camera);
    void keepExtras(tinygltf::Value& extras, const kaNamedObject* object);
    // The extras and the extensions the engine did not read that object carries, on the glTF
    // object written for it.
    template <class GltfObject> void keepUnread(GltfObject& written, const kaNamedObject* object)
    {
        keepExtras(written.extras, object);
        if (const nlohmann::json extensions = unreadExtensions(object); !extensions.empty())
            kaMergeGltfExtensions(written.extensions, extensions);
    }
    nlohmann::json unreadExtensions(const kaNamedObject* object);
    // The extras and extensions kept for a glTF object the engine folded into another one (a
    // texture reference, a sampler), from their {"extensions", "extras"} text.
    template <class GltfObject> void keepMembers(GltfObject& written, const char* membersJson)
    {
        if (!membersJson) return;
        const nlohmann::json members = nlohmann::json::parse(membersJson, nullptr, false);
        if (!members.is_object()) {
            _warnings.loss("extras and extensions that are not JSON dropped");
            return;
        }
        if (members.contains("extras")) written.extras = kaGltfValueOfJson(members["extras"]);
        if (members.contains("extensions")) kaMergeGltfExtensions(written.extensions, members["extensions"]);
    }
    void keepExtensionTextures(tinygltf::Material& written, kaMaterialAttr* material);

    // ---- meshes, skins, materials (second pass) ----
    void collectPrimitives(kaNode* node, kaAttrState state, bool recurse, std::vector<kaPrimitiveSource>& out);
    void collectOwnPrimitives(kaNode* node, kaAttrState& state, std::vector<kaPrimitiveSource>& out);
    void buildMeshes();
    int buildMesh(const std::string& name, const std::vector<const kaPrimitiveSource*>& primitives, int skin);
    bool buildPrimitive(const kaPrimitiveSource& source, int skin, const std::string& mesh, tinygltf::Primitive& primitive);
    const std::map<std::string, int>& vertexAccessors(kaVertexArray* vertices, kaVertexFormat format, int skin,
                                                      const std::string& mesh);
    int vertexFloats(const kaVertexArray* vertices, const std::string& name, const float* values, int components,
                     bool bounds);
    int streamAccessor(const kaVertexStream* stream);
    int morphTarget(const kaPrimitiveSource& source, int target, bool normals);
    int skinOf(kaVertexBlendMatrixListAttr* list);
    int sharedSkinOf(const std::vector<int>& joints) const;
    std::vector<const kaMatrix44f*> inverseBindMatricesByName(const std::vector<std::string>& jointNames);
    int materialOf(const kaAttrState& state);
    int textureOf(kaTextureAttr* texture);
    int samplerOf(const kaTextureAttr* texture);
    int imageOf(kaImage* image);
    int lightOf(kaLightAttr* light);
    void buildAnimations();
    void weightChannel(tinygltf::Animation& animation, const kaAnimationBinding* binding);
    void addChannel(tinygltf::Animation& animation, int node, const char* path, const kaChannelKeys& keys, int type,
                    const kaAnimationBinding* binding);

    // ---- buffers ----
    int addView(const void* data, size_t bytes, int target);
    int addAccessor(int view, int componentType, int type, size_t count);
    // An accessor of the data: the one already written when one holds the same, else a new one
    // with a view of its own.
    int addData(const void* data, size_t bytes, int target, int componentType, int type, size_t count,
                bool normalized = false, size_t stride = 0);
    int addFloats(const float* values, size_t count, int type, int target, bool bounds);
    // The accessor's min and max, from the values it holds as floats.
    void setBounds(int accessor, const float* values, size_t count, int components);
    int addSparseVectors(const std::map<uint32_t, kaVec3f>& entries, size_t count);

    bool writeFiles(std::string& error);
    bool fail(const std::string& message);
    std::string accessorUse(int accessor) const;
    bool checkNumbers(const nlohmann::json& json);

    std::string _path;
    std::string _folder;
    std::string _stem;
    bool _binary = false;
    kaGltfWarnings _warnings;
    tinygltf::Model _model;
    std::vector<uint8_t> _bin;
    // The export's files, renamed into place with the caller's other files.
    kaFileCommit& _files;
    std::map<const kaObject*, kaExternalDirEntry*> _externalImages;
    std::set<std::string> _usedFileNames;

    std::vector<kaAnimationDatabase*> _databases;
    // The groups between the scene's root and the node being exported, to cut cycles.
    std::unordered_set<const kaNode*> _ancestors;
    std::map<std::string, int> _nodeByName;
    std::map<std::string, int> _anyNodeByName;
    std::vector<int> _nonFiniteAccessors;
    // Accessors by a digest of what they hold, and sparse ones by their entries, so that the same
    // data (the key times of every channel of a clip, above all) is written once.
    std::unordered_multimap<uint64_t, int> _accessorsByDigest;
    std::map<std::pair<size_t, std::string>, int> _sparseAccessors;
    std::string _error;
    std::map<const kaMatrixObject*, int> _jointNodes;
    std::map<int, kaMatrix44f> _worlds;
    std::vector<bool> _hasMesh;

    struct kaPlacedMesh {
        int node;
        kaNode* source;
        bool ownAttrsOnly;
        kaAttrState state;
    };
    std::vector<kaPlacedMesh> _placedMeshes;
    std::map<std::tuple<kaNode*, bool, decltype(kaAttrState().key())>, std::vector<std::pair<int, int>>>
        _meshes;  // placed mesh source -> glTF meshes with their skins
    std::map<std::tuple<kaVertexArray*, uint32_t, int>, std::map<std::string, int>> _vertexAccessors;
    std::map<kaVertexBlendMatrixListAttr*, int> _skins;
    std::map<std::vector<int>, int> _skinsByJoints;
    std::set<kaSkeleton*> _usedSkeletons;
    std::map<std::pair<kaMaterialAttr*, std::array<kaTextureAttr*, KA_GFX_TEXTURE_SLOT_COUNT>>, int> _materials;
    std::map<kaTextureAttr*, int> _textures;
    // image, sampler, name, extras, extensions
    std::map<std::tuple<int, int, std::string, std::string, std::string>, int> _gltfTextures;
    std::map<std::pair<std::array<int, 4>, std::string>, int> _samplers;  // filters and wraps, extras and extensions
    std::map<kaCamera*, int> _cameras;
    std::map<kaImage*, int> _images;
    std::map<kaLightAttr*, int> _lights;
    // Extensions the written file requires, where it uses them, and those it uses by the form of
    // its data alone (no object names them).
    std::set<std::string> _required;
    std::set<std::string> _usedByData;
    void useQuantization()
    {
        _required.insert(kaGltfQuantizationExtension);
        _usedByData.insert(kaGltfQuantizationExtension);
    }
    // Members tinygltf does not write (a skin's extras and extensions, a sampler's extensions),
    // by the JSON pointer of their object.
    std::vector<std::pair<std::string, nlohmann::json>> _unwritten;
};

kaGltfExporter::kaGltfExporter(const std::string& path, const std::vector<kaExternalDirEntry*>& externalEntries,
                               kaFileCommit& files)
    : _path(path), _folder(kaFolderOf(path)), _warnings(path), _files(files)
{
    const size_t slash = path.find_last_of('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    _stem = dot == std::string::npos ? file : file.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : file.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    _binary = extension == "glb";
    for (kaExternalDirEntry* entry : externalEntries)
        if (entry && kaImage::dynamicCast(entry->getBoundObject()) && entry->getDirectoryName())
            _externalImages.emplace(entry->getBoundObject(), entry);
    _usedFileNames.insert(file);
    _usedFileNames.insert(_stem + ".bin");
}

// ---- nodes ----

int kaGltfExporter::addNode(const std::string& name, int parent)
{
    tinygltf::Node node;
    node.name = name;
    const int index = static_cast<int>(_model.nodes.size());
    _model.nodes.push_back(std::move(node));
    _hasMesh.push_back(false);
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
    if (node->getName()) _anyNodeByName.emplace(node->getName(), index);
    kaMatrix44f world = parentWorld;
    if (kaTransform* transform = kaTransform::dynamicCast(node)) {
        setTransform(_model.nodes[index], transform->getMatrix());
        world = transform->getMatrix() * parentWorld;
        if (node->getName()) _nodeByName.emplace(node->getName(), index);
    }
    _worlds.emplace(index, world);
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

// ---- meshes ----

// The primitives of the node and, with `recurse`, of every node below it in depth-first order;
// each node's attributes set the state its primitives and its children's are drawn with.
void kaGltfExporter::collectPrimitives(kaNode* node, kaAttrState state, bool recurse,
                                       std::vector<kaPrimitiveSource>& out)
{
    collectOwnPrimitives(node, state, out);
    if (!recurse) return;
    struct kaMeshFrame {
        kaGroup* group;
        kaAttrState state;
        int next;
    };
    std::vector<kaMeshFrame> frames{{kaGroup::dynamicCast(node), state, 0}};
    std::unordered_set<const kaNode*> ancestors{node};
    while (!frames.empty()) {
        kaMeshFrame& frame = frames.back();
        if (frame.next == frame.group->getChildCount()) {
            ancestors.erase(frame.group);
            frames.pop_back();
            continue;
        }
        kaNode* child = frame.group->getChild(frame.next++);
        if (!child) continue;
        kaAttrState inner = frame.state;
        collectOwnPrimitives(child, inner, out);
        if (!ancestors.insert(child).second) {
            _warnings.add("cycles in the scene graph cut");
            continue;
        }
        frames.push_back({kaGroup::dynamicCast(child), inner, 0});
    }
}

void kaGltfExporter::collectOwnPrimitives(kaNode* node, kaAttrState& state, std::vector<kaPrimitiveSource>& out)
{
    kaAttrSet* set = kaAttrSet::dynamicCast(node);
    if (!set) return;
    kaMorphInstance* morph = kaMorphInstance::dynamicCast(node);
    kaMorphInstance2* morph2 = kaMorphInstance2::dynamicCast(node);
    for (int i = 0; i < set->getAttrCount(); ++i) {
        kaAttr* attr = set->getAttr(i);
        if (!attr) continue;
        kaPrimitiveSource source;
        if (kaMaterialAttr* material = kaMaterialAttr::dynamicCast(attr)) {
            state.material = material;
        } else if (kaTextureAttr* texture = kaTextureAttr::dynamicCast(attr)) {
            state.setTexture(texture);
        } else if (kaVertexBlendMatrixListAttr* list = kaVertexBlendMatrixListAttr::dynamicCast(attr)) {
            state.blendList = list;
        } else if (kaGeometryAttr* geometry = kaGeometryAttr::dynamicCast(attr)) {
            source.attr = geometry;
            source.vertices = geometry->getVertexArray();
            // A first-generation morph draws its attribute with the base's vertices.
            if (morph && morph->getBase() && morph->getBase()->getVertexArray()) {
                source.morphBase = morph->getBase();
                source.vertices = source.morphBase->getVertexArray();
                // Components stripped from the attribute are not drawn, though the base keeps them.
                kaVertexFormat& format = source.format = source.vertices->getVertexFormat();
                if (const kaVertexArray* own = geometry->getVertexArray()) {
                    const kaVertexFormat drawn = own->getVertexFormat();
                    format.setNormals(format.hasNormals() && drawn.hasNormals());
                    format.setColors(format.hasColors() && drawn.hasColors());
                    format.setTextureCoordSetCount(
                        std::min(format.getTextureCoordSetCount(), drawn.getTextureCoordSetCount()));
                }
                source.sequence = morph->getMorphSequence();
                source.targetCount = source.morphBase->getTargetCount();
            }
        } else if (kaMorphedGeometryAttr* morphed = kaMorphedGeometryAttr::dynamicCast(attr)) {
            if (!morphed->getGeometry()) continue;
            source.attr = morphed->getGeometry();
            source.vertices = source.attr->getVertexArray();
            source.morphedGeometry = morphed;
            source.sequence = morph2 ? morph2->getMorphSequence() : nullptr;
            const kaMorphDataList* data = morphed->getMorphList();
            const kaVector3MorphData* positions =
                data && data->getCount() > 0 ? kaVector3MorphData::dynamicCast(data->getShared(0)) : nullptr;
            source.targetCount = positions ? positions->getTargetCount() : 0;
        } else {
            _warnings.loss("attributes of class " + className(attr) + " dropped");
        }
        if (!source.attr) continue;
        if (!source.vertices || source.vertices->getVertexCount() == 0 ||
            !source.vertices->getVertexFormat().hasPositions()) {
            _warnings.loss("geometry without vertex positions dropped", kaCount::meshes);
            continue;
        }
        if (!source.morphBase) source.format = source.vertices->getVertexFormat();
        source.state = state;
        out.push_back(source);
    }
}

void kaGltfExporter::buildMeshes()
{
    for (const kaPlacedMesh& placed : _placedMeshes) {
        const auto key = std::make_tuple(placed.source, placed.ownAttrsOnly, placed.state.key());
        auto found = _meshes.find(key);
        if (found == _meshes.end()) {
            std::vector<kaPrimitiveSource> sources;
            collectPrimitives(placed.source, placed.state, !placed.ownAttrsOnly, sources);
            // One glTF mesh has one skin and one number of morph targets: primitives that
            // differ go to meshes of their own.
            std::vector<std::pair<std::pair<int, int>, std::vector<const kaPrimitiveSource*>>> groups;
            for (const kaPrimitiveSource& source : sources) {
                const std::pair<int, int> group(skinOf(source.state.blendList), source.targetCount);
                auto at = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == group; });
                if (at == groups.end()) {
                    groups.push_back({group, {}});
                    at = groups.end() - 1;
                }
                at->second.push_back(&source);
            }
            std::vector<std::pair<int, int>> meshes;
            for (const auto& [group, primitives] : groups) {
                const int mesh = buildMesh(nameOf(placed.source), primitives, group.first);
                if (mesh < 0) continue;
                keepUnread(_model.meshes[mesh], placed.source);
                meshes.push_back({mesh, group.first});
            }
            found = _meshes.emplace(key, std::move(meshes)).first;
        }
        int node = placed.node;
        for (size_t m = 0; m < found->second.size(); ++m) {
            if (m > 0) node = addNode(nameOf(placed.source), placed.node);
            _model.nodes[node].mesh = found->second[m].first;
            _model.nodes[node].skin = found->second[m].second;
        }
    }
}

int kaGltfExporter::buildMesh(const std::string& name, const std::vector<const kaPrimitiveSource*>& primitives, int skin)
{
    tinygltf::Mesh mesh;
    mesh.name = name;
    for (const kaPrimitiveSource* source : primitives) {
        tinygltf::Primitive primitive;
        if (buildPrimitive(*source, skin, name, primitive)) mesh.primitives.push_back(std::move(primitive));
    }
    if (mesh.primitives.empty()) return -1;
    const int targetCount = primitives.front()->targetCount;
    if (targetCount > 0) {
        const kaMorphSequence* sequence = nullptr;
        for (const kaPrimitiveSource* source : primitives)
            if (!sequence) sequence = source->sequence;
        const kaFloatList* weights = sequence ? sequence->getInitialWeights() : nullptr;
        for (int t = 0; t < targetCount; ++t)
            mesh.weights.push_back(weights && t < weights->getCount() ? weights->get(t) : 0.0);
    }
    _model.meshes.push_back(std::move(mesh));
    return static_cast<int>(_model.meshes.size()) - 1;
}

bool kaGltfExporter::buildPrimitive(const kaPrimitiveSource& source, int skin, const std::string& mesh,
                                    tinygltf::Primitive& primitive)
{
    const kaGeometryAttr* attr = source.attr;
    const int vertexCount = source.vertices->getVertexCount();
    const KA_GFX_DRAW draw = attr->getPrimitiveType();
    const int wanted = kaIndexCountOf(draw, attr->getPrimitiveCount());
    std::vector<uint32_t> indices;
    const kaIndexArray* indexArray = attr->getIndexArray();
    const int offset = attr->getOffset();
    const int available = indexArray ? indexArray->getCount() : vertexCount;
    const int drawn = std::min(wanted, std::max(available - offset, 0));
    if (drawn < wanted) _warnings.add("primitive counts beyond the indices or vertices there are cut");
    if (drawn == 0 || kaPrimitiveCountOf(draw, drawn) == 0) {
        _warnings.loss("geometry that draws no primitives dropped", kaCount::meshes);
        return false;
    }
    if (indexArray) {
        indices.assign(indexArray->data() + offset, indexArray->data() + offset + drawn);
        for (uint32_t index : indices)
            if (index >= uint32_t(vertexCount)) {
                _warnings.loss("geometry with vertex indices out of range dropped", kaCount::meshes);
                return false;
            }
    } else if (offset != 0 || drawn != vertexCount) {
        for (int i = 0; i < drawn; ++i) indices.push_back(static_cast<uint32_t>(offset + i));
    }

    primitive.mode = kaGltfModeOfDraw(draw);
    primitive.attributes = vertexAccessors(source.vertices, source.format, skin, mesh);
    if (!indices.empty()) {
        const uint32_t largest = *std::max_element(indices.begin(), indices.end());
        // 16-bit indices unless an index needs more; 65535 is the restart value glTF forbids.
        if (largest < 65535u) {
            std::vector<uint16_t> narrow(indices.begin(), indices.end());
            primitive.indices = addData(narrow.data(), narrow.size() * 2, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_SCALAR, narrow.size());
        } else {
            primitive.indices = addData(indices.data(), indices.size() * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR, indices.size());
        }
    }
    kaAttrState state = source.state;
    for (kaTextureAttr*& texture : state.textures)
        if (texture && texture->getTexCoordSet() >= source.format.getTextureCoordSetCount()) {
            _warnings.loss("textures of geometry without their texture coordinate set dropped", kaCount::images);
            texture = nullptr;
        }
    primitive.material = materialOf(state);
    keepUnread(primitive, attr);
    const bool normals = source.format.hasNormals();
    for (int t = 0; t < source.targetCount; ++t) {
        std::map<std::string, int> target;
        target["POSITION"] = morphTarget(source, t, false);
        if (normals) target["NORMAL"] = morphTarget(source, t, true);
        // Displacements of attributes carried as streams, where the attribute is written.
        const kaVertexStreamList* streams = source.vertices->getStreams();
        for (int i = 0; streams && i < streams->getCount(); ++i) {
            const kaVertexStream* stream = streams->getShared(i);
            if (stream && stream->getTarget() == t && !stream->data().empty() && stream->getSemantic() &&
                primitive.attributes.count(stream->getSemantic()))
                target[stream->getSemantic()] = streamAccessor(stream);
        }
        primitive.targets.push_back(std::move(target));
    }
    return true;
}

const std::map<std::string, int>& kaGltfExporter::vertexAccessors(kaVertexArray* vertices, kaVertexFormat format,
                                                                  int skin, const std::string& mesh)
{
    const auto key = std::make_tuple(vertices, format.getWord(), skin);
    auto found = _vertexAccessors.find(key);
    if (found != _vertexAccessors.end()) return found->second;
    std::map<std::string, int>& accessors = _vertexAccessors[key];
    const size_t n = static_cast<size_t>(vertices->getVertexCount());

    accessors["POSITION"] = vertexFloats(vertices, "POSITION", vertices->positionData(), 3, true);
    if (format.hasNormals()) {
        // glTF normals are unit vectors.
        std::vector<float> normals(vertices->normalData(), vertices->normalData() + n * 3);
        for (size_t v = 0; v < n; ++v) {
            kaVec3f normal(normals[v * 3], normals[v * 3 + 1], normals[v * 3 + 2]);
            const float length = normal.normalize();
            if (std::abs(length - 1.0f) <= 5e-4f) continue;
            if (length == 0.0f || !std::isfinite(length)) {
                normal.set(0.0f, 0.0f, 1.0f);
                _warnings.add("zero normals replaced by +z");
            } else {
                _warnings.add("normals of other than unit length rescaled");
            }
            normals[v * 3] = normal.x;
            normals[v * 3 + 1] = normal.y;
            normals[v * 3 + 2] = normal.z;
        }
        accessors["NORMAL"] = vertexFloats(vertices, "NORMAL", normals.data(), 3, false);
    }
    if (format.hasColors()) {
        // glTF colours lie within 0..1; the scene's may not (colour scaling does not clamp).
        std::vector<float> colors(vertices->colorData(), vertices->colorData() + n * 4);
        bool clamped = false;
        for (float& component : colors)
            if (!(component >= 0.0f && component <= 1.0f)) {
                component = component > 1.0f ? 1.0f : 0.0f;
                clamped = true;
            }
        if (clamped) _warnings.add("vertex colours outside 0..1 clamped (NaN to 0)");
        // Colours the file gave without alpha go back without it while they are opaque.
        const kaVertexStream* stored = vertices->findStream("COLOR_0", -1);
        bool opaque = stored && stored->data().empty() && stored->getComponentCount() == 3;
        for (size_t v = 0; opaque && v < n; ++v) opaque = colors[v * 4 + 3] == 1.0f;
        if (opaque) {
            for (size_t v = 0; v < n; ++v) std::copy_n(&colors[v * 4], 3, &colors[v * 3]);
            colors.resize(n * 3);
        }
        accessors["COLOR_0"] = vertexFloats(vertices, "COLOR_0", colors.data(), opaque ? 3 : 4, false);
    }
    for (int set = 0; set < format.getTextureCoordSetCount(); ++set) {
        const std::string name = "TEXCOORD_" + std::to_string(set);
        accessors[name] = vertexFloats(vertices, name, vertices->texCoordData(set), 2, false);
    }
    if (format.getPointSpriteCoordCount() > 0) _warnings.loss("point-sprite sizes dropped");
    const kaVertexStreamList* streams = vertices->getStreams();
    for (int i = 0; streams && i < streams->getCount(); ++i) {
        const kaVertexStream* stream = streams->getShared(i);
        if (!stream || stream->getTarget() != -1 || stream->data().empty() || !stream->getSemantic()) continue;
        // A tangent frame needs the normal it is built around.
        if (std::strcmp(stream->getSemantic(), "TANGENT") == 0 && !format.hasNormals())
            _warnings.loss("tangents of geometry without normals dropped");
        else
            accessors[stream->getSemantic()] = streamAccessor(stream);
    }

    const int weightCount = format.getBlendWeightCount();
    const int indexCount = format.getBlendIndexCount();
    const int slots = std::max(weightCount, indexCount);
    if (slots > 0 && skin < 0) {
        _warnings.loss("blend weights of geometry without a resolvable matrix palette dropped", kaCount::skins);
        return accessors;
    }
    if (slots == 0) return accessors;
    const int jointCount = static_cast<int>(_model.skins[skin].joints.size());
    const int sets = (slots + 3) / 4;
    const float* weights = vertices->blendWeightData();
    const uint8_t* blendIndices = vertices->blendIndexData();
    std::vector<float> allWeights(n * sets * 4);
    std::vector<uint8_t> allJoints(n * sets * 4);
    for (size_t v = 0; v < n; ++v) {
        for (int slot = 0; slot < sets * 4; ++slot) {
            // Slots beyond the weight count weigh nothing, except that an array reduced to no
            // weights still has its one index, which then carries the whole vertex.
            float weight = slot < weightCount ? weights[v * weightCount + slot]
                                              : (weightCount == 0 && slot == 0 ? 1.0f : 0.0f);
            int joint = slot < indexCount ? blendIndices[v * indexCount + slot] : 0;
            if (joint >= jointCount) {
                if (weight != 0.0f) _warnings.loss("blend weights of joints the palette does not have dropped");
                weight = 0.0f;
            }
            // A slot without weight names joint 0, as glTF asks.
            if (weight == 0.0f) joint = 0;
            allWeights[v * sets * 4 + slot] = weight;
            allJoints[v * sets * 4 + slot] = static_cast<uint8_t>(joint);
        }
    }
    if (kaNormaliseGltfWeights(allWeights.data(), n, sets * 4) > 0)
        _warnings.add("blend weights that do not sum to 1 renormalised in mesh \"" + mesh + "\"");
    std::vector<float> setWeights(n * 4);
    std::vector<uint8_t> setJoints(n * 4);
    for (int set = 0; set < sets; ++set) {
        for (size_t v = 0; v < n; ++v)
            for (int k = 0; k < 4; ++k) {
                setWeights[v * 4 + k] = allWeights[v * sets * 4 + set * 4 + k];
                setJoints[v * 4 + k] = allJoints[v * sets * 4 + set * 4 + k];
            }
        const std::string name = "WEIGHTS_" + std::to_string(set);
        accessors[name] = vertexFloats(vertices, name, setWeights.data(), 4, false);
        accessors["JOINTS_" + std::to_string(set)] =
            addData(setJoints.data(), setJoints.size(), TINYGLTF_TARGET_ARRAY_BUFFER, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE,
                    TINYGLTF_TYPE_VEC4, n);
    }
    return accessors;
}

namespace {

int gltfTypeOf(int components)
{
    return components == 1 ? TINYGLTF_TYPE_SCALAR : components;
}

// Whether a reader needs KHR_mesh_quantization for the attribute in this encoding: core glTF
// has floats only for positions, normals, tangents and displacements, and normalised bytes and
// shorts besides for texture coordinates, colours and weights. An application's own attribute
// may take any encoding.
bool needsQuantization(const std::string& name, int componentType, bool normalized, bool displacement)
{
    if (componentType == TINYGLTF_COMPONENT_TYPE_FLOAT || name.rfind('_', 0) == 0) return false;
    if (displacement || name == "POSITION" || name == "NORMAL" || name == "TANGENT") return true;
    return !normalized || (componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE &&
                           componentType != TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
}

// Vertex attribute elements start on 4-byte boundaries.
size_t vertexStride(size_t elementSize)
{
    return (elementSize + 3) / 4 * 4;
}

} // namespace

int kaGltfExporter::vertexFloats(const kaVertexArray* vertices, const std::string& name, const float* values,
                                 int components, bool bounds)
{
    // A component the file stored as integers is written so again while the values allow it.
    const size_t n = static_cast<size_t>(vertices->getVertexCount());
    const kaVertexStream* stored = vertices->findStream(name.c_str(), -1);
    if (stored && stored->data().empty() && stored->getComponentType() != kaVertexStream::Float32) {
        const int componentType = kaGltfComponentTypeOf(stored->getComponentType());
        const size_t size = size_t(kaVertexStream::getComponentSize(stored->getComponentType()));
        const size_t stride = vertexStride(size * components);
        std::vector<uint8_t> bytes;
        if (kaGltfEncodeExactly(values, n, components, componentType, stored->isNormalized(), stride, bytes)) {
            if (needsQuantization(name, componentType, stored->isNormalized(), false)) useQuantization();
            const int accessor = addData(bytes.data(), bytes.size(), TINYGLTF_TARGET_ARRAY_BUFFER, componentType,
                                         gltfTypeOf(components), n, stored->isNormalized(),
                                         stride == size * components ? 0 : stride);
            if (bounds) setBounds(accessor, values, n, components);
            return accessor;
        }
    }
    return addFloats(values, n, gltfTypeOf(components), TINYGLTF_TARGET_ARRAY_BUFFER, bounds);
}

int kaGltfExporter::streamAccessor(const kaVertexStream* stream)
{
    const int componentType = kaGltfComponentTypeOf(stream->getComponentType());
    const std::string name = stream->getSemantic();
    if (needsQuantization(name, componentType, stream->isNormalized(), stream->getTarget() >= 0))
        useQuantization();
    const size_t element = stream->getElementSize();
    const size_t stride = vertexStride(element);
    const size_t n = element ? stream->data().size() / element : 0;
    std::vector<uint8_t> bytes(n * stride, 0);
    for (size_t e = 0; e < n; ++e) std::memcpy(bytes.data() + e * stride, stream->data().data() + e * element, element);
    return addData(bytes.data(), bytes.size(), TINYGLTF_TARGET_ARRAY_BUFFER, componentType,
                   gltfTypeOf(stream->getComponentCount()), n, stream->isNormalized(), stride == element ? 0 : stride);
}

int kaGltfExporter::morphTarget(const kaPrimitiveSource& source, int target, bool normals)
{
    const size_t n = static_cast<size_t>(source.vertices->getVertexCount());
    std::map<uint32_t, kaVec3f> entries;
    if (source.morphBase) {
        const kaVec3fList* displacements = normals ? source.morphBase->getNormalDisplacementVec(target)
                                                   : source.morphBase->getPositionDisplacementVec(target);
        const kaIntList* indices = normals ? source.morphBase->getNormalIndexArray(target)
                                           : source.morphBase->getPositionIndexArray(target);
        if (displacements && indices) {
            // The index list closes with one entry past the last displaced vertex.
            const int pairs = std::min(displacements->getCount(), indices->getCount() - 1);
            for (int k = 0; k < pairs; ++k) {
                const int vertex = indices->get(k);
                if (vertex >= 0 && size_t(vertex) < n) entries[uint32_t(vertex)] = displacements->get(k);
            }
        }
    } else if (source.morphedGeometry) {
        const kaMorphDataList* data = source.morphedGeometry->getMorphList();
        const int slot = normals ? 1 : 0;
        const kaVector3MorphData* morph =
            data && data->getCount() > slot ? kaVector3MorphData::dynamicCast(data->getShared(slot)) : nullptr;
        const kaVec3fAlignedList* dense = morph ? morph->getTarget(target) : nullptr;
        if (dense)
            for (int v = 0; v < std::min(dense->getCount(), int(n)); ++v)
                if (dense->get(v) != kaVec3f::ZeroVector) entries[uint32_t(v)] = dense->get(v);
    }
    return addSparseVectors(entries, n);
}

// ---- skins ----

int kaGltfExporter::skinOf(kaVertexBlendMatrixListAttr* list)
{
    if (!list) return -1;
    auto found = _skins.find(list);
    if (found != _skins.end()) return found->second;
    tinygltf::Skin skin;
    std::vector<std::string> jointNames;
    for (int i = 0; i < list->getMatrixCount(); ++i) {
        const auto joint = _jointNodes.find(list->getMatrixPointer(i));
        if (joint == _jointNodes.end()) {
            _warnings.loss("matrix palettes with matrices of no joint dropped (with the blend weights)",
                           kaCount::skins);
            return _skins[list] = -1;
        }
        skin.joints.push_back(joint->second);
        jointNames.push_back(_model.nodes[joint->second].name);
    }
    if (skin.joints.empty()) return _skins[list] = -1;
    // Palettes that list the same joints in the same order are one skin: a palette combined for
    // a joint hierarchy is shared by all its meshes.
    const int samePalette = sharedSkinOf(skin.joints);
    if (samePalette >= 0) return _skins[list] = samePalette;
    // The skeleton whose joints are these, by name and order, gives the inverse bind matrices;
    // without one the joints' present placement is taken as the bind pose.
    kaSkeleton* skeleton = nullptr;
    for (kaAnimationDatabase* database : _databases) {
        kaSkeletonList* skeletons = database->getSkeletonList();
        for (int s = 0; s < skeletons->getCount() && !skeleton; ++s) {
            kaSkeleton* candidate = skeletons->getShared(s);
            if (!candidate || candidate->getJointCount() != int(jointNames.size())) continue;
            bool same = true;
            for (int k = 0; k < candidate->getJointCount() && same; ++k)
                same = candidate->getJointName(k) && jointNames[k] == candidate->getJointName(k);
            if (same) skeleton = candidate;
        }
        if (skeleton) break;
    }
    const std::vector<const kaMatrix44f*> byName =
        skeleton ? std::vector<const kaMatrix44f*>() : inverseBindMatricesByName(jointNames);
    std::vector<float> matrices;
    for (size_t k = 0; k < skin.joints.size(); ++k) {
        kaMatrix44f inverse;
        if (const kaMatrix44f* given = skeleton ? skeleton->getInverseJointMatrix(int(k)) : byName[k])
            inverse = *given;
        else
            inverse.invert(_worlds[skin.joints[k]]);
        // glTF's last row of a column-vector matrix: the engine's last column.
        inverse.m[0][3] = inverse.m[1][3] = inverse.m[2][3] = 0.0f;
        inverse.m[3][3] = 1.0f;
        matrices.insert(matrices.end(), inverse.data(), inverse.data() + 16);
    }
    if (skeleton) {
        skin.name = nameOf(skeleton);
        if (skeleton->getRootJoint() >= 0 && size_t(skeleton->getRootJoint()) < skin.joints.size())
            skin.skeleton = skin.joints[skeleton->getRootJoint()];
        // tinygltf writes neither of a skin: they join the JSON it writes.
        const nlohmann::json extensions = unreadExtensions(skeleton);
        if (!extensions.empty()) _unwritten.push_back({"/skins/" + std::to_string(_model.skins.size()), {{"extensions", extensions}}});
        if (skeleton->getExtras()) _unwritten.push_back({"/skins/" + std::to_string(_model.skins.size()),
                                                         {{"extras", nlohmann::json::parse(skeleton->getExtras(), nullptr, false)}}});
        _usedSkeletons.insert(skeleton);
    }
    skin.inverseBindMatrices = addFloats(matrices.data(), skin.joints.size(), TINYGLTF_TYPE_MAT4, 0, false);
    _skinsByJoints[skin.joints] = static_cast<int>(_model.skins.size());
    _model.skins.push_back(std::move(skin));
    return _skins[list] = static_cast<int>(_model.skins.size()) - 1;
}

int kaGltfExporter::sharedSkinOf(const std::vector<int>& joints) const
{
    const auto found = _skinsByJoints.find(joints);
    return found == _skinsByJoints.end() ? -1 : found->second;
}

std::vector<const kaMatrix44f*> kaGltfExporter::inverseBindMatricesByName(const std::vector<std::string>& jointNames)
{
    // A combined palette lists the joints of one skeleton in another order, or of several: each
    // joint takes its inverse bind matrix from the first skeleton that names it (the one whose
    // skin placed the joint's blending matrix on import); a joint no skeleton names gets none.
    std::vector<const kaMatrix44f*> matrices(jointNames.size(), nullptr);
    for (size_t k = 0; k < jointNames.size(); ++k)
        for (kaAnimationDatabase* database : _databases) {
            kaSkeletonList* skeletons = database->getSkeletonList();
            for (int s = 0; s < skeletons->getCount() && !matrices[k]; ++s) {
                kaSkeleton* candidate = skeletons->getShared(s);
                for (int j = 0; candidate && j < candidate->getJointCount() && !matrices[k]; ++j)
                    if (candidate->getJointName(j) && jointNames[k] == candidate->getJointName(j)) {
                        matrices[k] = candidate->getInverseJointMatrix(j);
                        _usedSkeletons.insert(candidate);
                    }
            }
            if (matrices[k]) break;
        }
    return matrices;
}

// ---- materials, textures, images, lights ----

float clamped(float value, float low, float high, bool& changed)
{
    const float result = std::isnan(value) ? low : std::min(std::max(value, low), high);
    changed = changed || result != value;
    return result;
}

int kaGltfExporter::materialOf(const kaAttrState& state)
{
    const auto firstTexture = std::find_if(state.textures.begin(), state.textures.end(), [](auto* t) { return t; });
    if (!state.material && firstTexture == state.textures.end()) return -1;
    const auto key = std::make_pair(state.material, state.textures);
    auto found = _materials.find(key);
    if (found != _materials.end()) return found->second;
    tinygltf::Material material;
    // Without a material the engine's defaults hold: a rough dielectric.
    const auto defaults = kaSmartPointer<kaMaterialAttr>::adopt(kaMaterialAttr::_instantiate());
    const kaMaterialAttr* source = state.material ? state.material : defaults.get();
    material.name = state.material ? nameOf(source) : nameOf(*firstTexture);
    keepExtras(material.extras, state.material);
    bool clampedColour = false;
    const kaVec4f& diffuse = source->getDiffuse();
    material.pbrMetallicRoughness.baseColorFactor = {
        clamped(diffuse.x, 0.0f, 1.0f, clampedColour), clamped(diffuse.y, 0.0f, 1.0f, clampedColour),
        clamped(diffuse.z, 0.0f, 1.0f, clampedColour), clamped(diffuse.w, 0.0f, 1.0f, clampedColour)};
    material.pbrMetallicRoughness.metallicFactor = clamped(source->getMetallic(), 0.0f, 1.0f, clampedColour);
    material.pbrMetallicRoughness.roughnessFactor = clamped(source->getRoughness(), 0.0f, 1.0f, clampedColour);
    const kaVec4f& emission = source->getEmission();
    if (emission.xyz() != kaVec3f::ZeroVector)
        material.emissiveFactor = {clamped(emission.x, 0.0f, 1.0f, clampedColour),
                                   clamped(emission.y, 0.0f, 1.0f, clampedColour),
                                   clamped(emission.z, 0.0f, 1.0f, clampedColour)};
    material.alphaMode = source->getAlphaMode() == KA_GFX_ALPHA_MODE_MASK    ? "MASK"
                         : source->getAlphaMode() == KA_GFX_ALPHA_MODE_BLEND ? "BLEND"
                                                                             : "OPAQUE";
    material.alphaCutoff = clamped(source->getAlphaCutoff(), 0.0f, std::numeric_limits<float>::max(), clampedColour);
    material.doubleSided = source->isDoubleSided();
    const kaVec4f& specular = source->getSpecular();
    if (state.material && specular != kaVec4f(1.0f, 1.0f, 1.0f, 1.0f)) {
        const float inf = std::numeric_limits<float>::max();
        tinygltf::Value::Object extension;
        extension["specularColorFactor"] = tinygltf::Value(tinygltf::Value::Array{
            tinygltf::Value(double(clamped(specular.x, 0.0f, inf, clampedColour))),
            tinygltf::Value(double(clamped(specular.y, 0.0f, inf, clampedColour))),
            tinygltf::Value(double(clamped(specular.z, 0.0f, inf, clampedColour)))});
        extension["specularFactor"] = tinygltf::Value(double(clamped(specular.w, 0.0f, 1.0f, clampedColour)));
        material.extensions[kaGltfSpecularExtension] = tinygltf::Value(std::move(extension));
    }
    // The defaults come back on import: only other values are lost.
    if (source->getAmbient() != defaults->getAmbient()) _warnings.loss("material ambient colours dropped");
    if (source->getShininess() != defaults->getShininess()) _warnings.loss("material shininess dropped");

    const auto textureInfo = [&](KA_GFX_TEXTURE_SLOT slot, auto& info) {
        kaTextureAttr* texture = state.textures[slot];
        if (!texture) return;
        info.index = textureOf(texture);
        info.texCoord = texture->getTexCoordSet();
        keepMembers(info, texture->getReferenceData());
    };
    textureInfo(KA_GFX_TEXTURE_SLOT_BASE_COLOR, material.pbrMetallicRoughness.baseColorTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS, material.pbrMetallicRoughness.metallicRoughnessTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_NORMAL, material.normalTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_OCCLUSION, material.occlusionTexture);
    textureInfo(KA_GFX_TEXTURE_SLOT_EMISSIVE, material.emissiveTexture);
    material.normalTexture.scale = source->getNormalScale();
    material.occlusionTexture.strength = clamped(source->getOcclusionStrength(), 0.0f, 1.0f, clampedColour);
    // What the engine did not read of the extensions joins what was written (the specular
    // factors): after the slots, whose textures keep their numbers.
    if (state.material) keepExtensionTextures(material, state.material);
    if (clampedColour) _warnings.add("material factors outside glTF's range clamped");
    _model.materials.push_back(std::move(material));
    return _materials[key] = static_cast<int>(_model.materials.size()) - 1;
}

int kaGltfExporter::samplerOf(const kaTextureAttr* texture)
{
    KA_GFX_TEXTURE_FILTER minFilter = texture->getMinFilter();
    // A texture tagged for mipmapping keeps the tag through a filter that samples mipmaps.
    if (texture->getMipMapMode() == KA_GFX_TEXTURE_MODE_MIPMAP && !kaIsMipmapFilter(minFilter))
        minFilter = minFilter == KA_GFX_TEXTURE_FILTER_NEAREST ? KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR
                                                               : KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    // Magnification has no mipmaps: the filter within a level is kept.
    const KA_GFX_TEXTURE_FILTER magFilter =
        texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST ||
                texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_NEAREST ||
                texture->getMagFilter() == KA_GFX_TEXTURE_FILTER_NEAREST_MIPMAP_LINEAR
            ? KA_GFX_TEXTURE_FILTER_NEAREST
            : KA_GFX_TEXTURE_FILTER_LINEAR;
    const std::array<int, 4> modes = {kaGltfFilterOf(minFilter), kaGltfFilterOf(magFilter),
                                      kaGltfWrapOf(texture->getWrapS()), kaGltfWrapOf(texture->getWrapT())};
    const auto key = std::make_pair(modes, std::string(texture->getSamplerData() ? texture->getSamplerData() : ""));
    auto sampler = _samplers.find(key);
    if (sampler != _samplers.end()) return sampler->second;
    tinygltf::Sampler created;
    created.minFilter = modes[0];
    created.magFilter = modes[1];
    created.wrapS = modes[2];
    created.wrapT = modes[3];
    keepMembers(created, texture->getSamplerData());
    // tinygltf writes no extensions of a sampler: they join the JSON it writes.
    const nlohmann::json samplerMembers = texture->getSamplerData()
                                              ? nlohmann::json::parse(texture->getSamplerData(), nullptr, false)
                                              : nlohmann::json();
    if (samplerMembers.is_object() && samplerMembers.contains("extensions"))
        _unwritten.push_back({"/samplers/" + std::to_string(_model.samplers.size()), {{"extensions", samplerMembers["extensions"]}}});
    _model.samplers.push_back(created);
    return _samplers[key] = static_cast<int>(_model.samplers.size()) - 1;
}

int kaGltfExporter::textureOf(kaTextureAttr* texture)
{
    auto found = _textures.find(texture);
    if (found != _textures.end()) return found->second;
    // Images the texture's extensions give in encodings of their own are renumbered; an extension
    // whose image cannot be written goes with it.
    nlohmann::json extensions = unreadExtensions(texture);
    const kaTextureImageList* alternatives = texture->getExtensionImages();
    std::vector<std::string> carriers;
    kaForEachGltfImageReference(extensions, [&](nlohmann::json& extension) {
        const int at = extension["source"].get<int>();
        kaImage* image = alternatives && at >= 0 && at < alternatives->getCount() ? alternatives->getShared(at) : nullptr;
        const int index = image ? imageOf(image) : -1;
        if (index < 0) {
            _warnings.loss("texture extensions without a writable image dropped");
            return false;
        }
        extension["source"] = index;
        return true;
    });
    const int image = texture->getImage(0) ? imageOf(texture->getImage(0)) : -1;
    if (image < 0 && extensions.empty()) {
        _warnings.loss("textures without a writable image dropped", kaCount::images);
        return _textures[texture] = -1;
    }
    // Without an image of its own the texture can only be read through its extensions.
    if (image < 0)
        for (const auto& [name, extension] : extensions.items())
            if (extension.is_object() && extension.contains("source")) _required.insert(name);
    for (int level = 1; level < texture->getImageCount(); ++level)
        if (texture->getImage(level)) {
            _warnings.loss("mipmap levels above the first dropped");
            break;
        }
    // The uses of one glTF texture (in several slots or materials) are one glTF texture again.
    const auto key = std::make_tuple(image, samplerOf(texture), nameOf(texture),
                                     std::string(texture->getExtras() ? texture->getExtras() : ""), extensions.dump());
    auto shared = _gltfTextures.find(key);
    if (shared == _gltfTextures.end()) {
        tinygltf::Texture created;
        created.name = std::get<2>(key);
        created.source = image;
        created.sampler = std::get<1>(key);
        keepExtras(created.extras, texture);
        kaMergeGltfExtensions(created.extensions, extensions);
        _model.textures.push_back(std::move(created));
        shared = _gltfTextures.emplace(key, static_cast<int>(_model.textures.size()) - 1).first;
    }
    return _textures[texture] = shared->second;
}

void kaGltfExporter::keepExtensionTextures(tinygltf::Material& written, kaMaterialAttr* material)
{
    // The textures the material's extensions use are written like the slots' and referred to by
    // their new numbers; a reference whose texture cannot be written goes.
    nlohmann::json extensions = unreadExtensions(material);
    const kaTextureAttrList* textures = material->getExtensionTextures();
    kaForEachGltfTextureReference(extensions, [&](nlohmann::json& reference) {
        const int at = reference["index"].get<int>();
        kaTextureAttr* texture = textures && at >= 0 && at < textures->getCount() ? textures->getShared(at) : nullptr;
        const int index = texture ? textureOf(texture) : -1;
        if (index < 0) {
            _warnings.loss("material extension textures without a writable texture dropped", kaCount::images);
            return false;
        }
        reference["index"] = index;
        return true;
    });
    kaMergeGltfExtensions(written.extensions, extensions);
}

int kaGltfExporter::imageOf(kaImage* image)
{
    auto found = _images.find(image);
    if (found != _images.end()) return found->second;
    tinygltf::Image written;
    written.name = nameOf(image);
    keepUnread(written, image);
    written.mimeType = "image/png";
    const auto external = _externalImages.find(image);
    if (external != _externalImages.end()) {
        // The image lives in its own PNG file: the glTF file refers to it there.
        const std::string relative = external->second->getDirectoryName();
        const std::string path = _folder.empty() ? relative : _folder + "/" + relative;
        if (!fileExists(path) && !_files.isPending(path)) {
            std::string error;
            if (!image->writeToFile(path.c_str(), _files, error)) {
                _warnings.loss("images that cannot be written as PNG dropped", kaCount::images);
                return _images[image] = -1;
            }
        }
        written.uri = uriOfPath(relative);
    } else {
        // Pixels that no pass changed are written as they were encoded (a JPEG stays the same
        // JPEG); others are encoded as PNG.
        std::vector<uint8_t> encoded;
        if (image->hasCurrentEncoding() && image->getEncodedMimeType()) {
            encoded.assign(image->getEncodedData(), image->getEncodedData() + image->getEncodedSize());
            written.mimeType = image->getEncodedMimeType();
        } else {
            std::string error;
            if (!image->encodePng(encoded, error)) {
                _warnings.loss("images that cannot be written as PNG dropped", kaCount::images);
                return _images[image] = -1;
            }
        }
        if (_binary) {
            written.bufferView = addView(encoded.data(), encoded.size(), 0);
        } else {
            // A file named after the output and the image's own name (its last path part, made
            // safe), so that outputs sharing a folder never share image files.
            std::string base = written.name;
            const size_t slash = base.find_last_of("/\\");
            if (slash != std::string::npos) base = base.substr(slash + 1);
            const size_t dot = base.find_last_of('.');
            if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
            for (char& c : base)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
            if (base.empty() || base[0] == '.') base = "image" + std::to_string(_model.images.size());
            base = _stem + "_" + base;
            const std::string extension = written.mimeType == "image/jpeg"   ? ".jpg"
                                          : written.mimeType == "image/ktx2" ? ".ktx2"
                                          : written.mimeType == "image/webp" ? ".webp"
                                                                             : ".png";
            std::string file = base + extension;
            for (int variant = 1; !_usedFileNames.insert(file).second; ++variant)
                file = base + "_" + std::to_string(variant) + extension;
            std::string error;
            if (!_files.write(_folder.empty() ? file : _folder + "/" + file, encoded.data(), encoded.size(), error)) {
                fail(error);
                return _images[image] = -1;
            }
            written.uri = uriOfPath(validUtf8(file.c_str()));
        }
    }
    _model.images.push_back(std::move(written));
    return _images[image] = static_cast<int>(_model.images.size()) - 1;
}

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

void kaGltfExporter::keepExtras(tinygltf::Value& extras, const kaNamedObject* object)
{
    if (!object || !object->getExtras()) return;
    const nlohmann::json parsed = nlohmann::json::parse(object->getExtras(), nullptr, false);
    if (parsed.is_discarded())
        _warnings.loss("extras that are not JSON dropped");
    else
        extras = kaGltfValueOfJson(parsed);
}

nlohmann::json kaGltfExporter::unreadExtensions(const kaNamedObject* object)
{
    if (!object || !object->getExtensions()) return nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(object->getExtensions(), nullptr, false);
    if (parsed.is_object()) return parsed;
    _warnings.loss("extensions that are not a JSON object dropped");
    return nlohmann::json::object();
}

// ---- animations ----

const char* interpolationName(const kaAnimationBinding* binding)
{
    switch (binding->getInterpolation()) {
    case kaAnimationBinding::Step: return "STEP";
    case kaAnimationBinding::CubicSpline: return "CUBICSPLINE";
    default: return "LINEAR";
    }
}

void kaGltfExporter::buildAnimations()
{
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
                    addChannel(animation, node->second, path, keys, components == 4 ? TINYGLTF_TYPE_VEC4 : TINYGLTF_TYPE_VEC3,
                               binding);
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
    addChannel(animation, node->second, "weights", keys, TINYGLTF_TYPE_SCALAR, binding);
}

void kaGltfExporter::addChannel(tinygltf::Animation& animation, int node, const char* path, const kaChannelKeys& keys,
                                int type, const kaAnimationBinding* binding)
{
    const int components = type == TINYGLTF_TYPE_SCALAR ? 1 : type;
    tinygltf::AnimationSampler sampler;
    sampler.input = addFloats(keys.times.data(), keys.times.size(), TINYGLTF_TYPE_SCALAR, 0, true);
    sampler.output = addFloats(keys.values.data(), keys.values.size() / components, type, 0, false);
    sampler.interpolation = interpolationName(binding);
    tinygltf::AnimationChannel channel;
    channel.sampler = static_cast<int>(animation.samplers.size());
    channel.target_node = node;
    channel.target_path = path;
    animation.samplers.push_back(sampler);
    animation.channels.push_back(channel);
}

// ---- buffers ----

int kaGltfExporter::addView(const void* data, size_t bytes, int target)
{
    while (_bin.size() % 4) _bin.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = _bin.size();
    view.byteLength = bytes;
    view.target = target;
    _bin.insert(_bin.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + bytes);
    _model.bufferViews.push_back(view);
    return static_cast<int>(_model.bufferViews.size()) - 1;
}

int kaGltfExporter::addAccessor(int view, int componentType, int type, size_t count)
{
    tinygltf::Accessor accessor;
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    _model.accessors.push_back(accessor);
    return static_cast<int>(_model.accessors.size()) - 1;
}

int kaGltfExporter::addData(const void* data, size_t bytes, int target, int componentType, int type, size_t count,
                            bool normalized, size_t stride)
{
    uint64_t digest = 1469598103934665603ull;  // FNV-1a over the bytes and what they are
    const auto mix = [&digest](uint64_t value) { digest = (digest ^ value) * 1099511628211ull; };
    for (size_t i = 0; i < bytes; ++i) mix(static_cast<const uint8_t*>(data)[i]);
    for (uint64_t value :
         {uint64_t(target), uint64_t(componentType), uint64_t(type), uint64_t(count), uint64_t(normalized), uint64_t(stride)})
        mix(value);
    const auto [first, last] = _accessorsByDigest.equal_range(digest);
    for (auto candidate = first; candidate != last; ++candidate) {
        const tinygltf::Accessor& accessor = _model.accessors[candidate->second];
        const tinygltf::BufferView& view = _model.bufferViews[accessor.bufferView];
        if (accessor.componentType == componentType && accessor.type == type && accessor.count == count &&
            accessor.normalized == normalized && view.target == target && view.byteLength == bytes &&
            view.byteStride == stride &&
            (bytes == 0 || std::memcmp(_bin.data() + view.byteOffset, data, bytes) == 0))
            return candidate->second;
    }
    const int view = addView(data, bytes, target);
    _model.bufferViews[view].byteStride = stride;
    const int accessor = addAccessor(view, componentType, type, count);
    _model.accessors[accessor].normalized = normalized;
    _accessorsByDigest.emplace(digest, accessor);
    return accessor;
}

int kaGltfExporter::addFloats(const float* values, size_t count, int type, int target, bool bounds)
{
    const int components = type == TINYGLTF_TYPE_SCALAR ? 1 : type == TINYGLTF_TYPE_MAT4 ? 16 : type;
    const int accessor = addData(values, count * components * sizeof(float), target, TINYGLTF_COMPONENT_TYPE_FLOAT, type, count);
    if (!std::all_of(values, values + count * components, [](float value) { return std::isfinite(value); }))
        _nonFiniteAccessors.push_back(accessor);
    if (bounds) setBounds(accessor, values, count, components);
    return accessor;
}

void kaGltfExporter::setBounds(int accessor, const float* values, size_t count, int components)
{
    // A shared accessor has its bounds from its first use.
    if (count == 0 || !_model.accessors[accessor].minValues.empty()) return;
    std::vector<double>& low = _model.accessors[accessor].minValues;
    std::vector<double>& high = _model.accessors[accessor].maxValues;
    low.assign(values, values + components);
    high = low;
    for (size_t e = 1; e < count; ++e)
        for (int c = 0; c < components; ++c) {
            low[c] = std::min(low[c], double(values[e * components + c]));
            high[c] = std::max(high[c], double(values[e * components + c]));
        }
}

int kaGltfExporter::addSparseVectors(const std::map<uint32_t, kaVec3f>& entries, size_t count)
{
    // Zeros except at the listed elements: a sparse accessor without a buffer view, its indices
    // as narrow as they fit.
    const uint32_t largest = entries.empty() ? 0 : entries.rbegin()->first;
    const int indexType = largest < 256u ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE
                          : largest < 65536u ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT
                                             : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    const size_t indexSize = indexType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ? 1 : indexType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ? 2 : 4;
    std::vector<uint8_t> indices;
    std::vector<float> values;
    std::vector<double> low(3, 0.0), high(3, 0.0);
    if (entries.size() == count && !entries.empty()) low = high = {entries.begin()->second.x, entries.begin()->second.y,
                                                                   entries.begin()->second.z};
    bool finite = true;
    for (const auto& [vertex, value] : entries) {
        for (size_t b = 0; b < indexSize; ++b) indices.push_back(static_cast<uint8_t>(vertex >> (8 * b)));
        finite = finite && std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z);
        for (int c = 0; c < 3; ++c) {
            values.push_back(value[c]);
            low[c] = std::min(low[c], double(value[c]));
            high[c] = std::max(high[c], double(value[c]));
        }
    }
    const std::string content = std::string(indices.begin(), indices.end()) +
                                std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
    const auto shared = _sparseAccessors.find({count, content});
    if (shared != _sparseAccessors.end()) return shared->second;
    const int accessor = addAccessor(-1, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
    _sparseAccessors.emplace(std::make_pair(count, content), accessor);
    if (!finite) _nonFiniteAccessors.push_back(accessor);
    _model.accessors[accessor].minValues = low;
    _model.accessors[accessor].maxValues = high;
    if (!entries.empty()) {
        const int indexView = addView(indices.data(), indices.size(), 0);
        const int valueView = addView(values.data(), values.size() * 4, 0);
        tinygltf::Accessor& sparse = _model.accessors[accessor];
        sparse.sparse.isSparse = true;
        sparse.sparse.count = static_cast<int>(entries.size());
        sparse.sparse.indices.bufferView = indexView;
        sparse.sparse.indices.byteOffset = 0;
        sparse.sparse.indices.componentType = indexType;
        sparse.sparse.values.bufferView = valueView;
        sparse.sparse.values.byteOffset = 0;
    }
    return accessor;
}

// ---- the whole export ----

bool kaGltfExporter::fail(const std::string& message)
{
    if (_error.empty()) _error = _path + ": " + message;
    return false;
}

// What an accessor holds, for messages: the first use found.
std::string kaGltfExporter::accessorUse(int accessor) const
{
    for (size_t m = 0; m < _model.meshes.size(); ++m)
        for (size_t p = 0; p < _model.meshes[m].primitives.size(); ++p) {
            const tinygltf::Primitive& primitive = _model.meshes[m].primitives[p];
            const std::string what = "mesh \"" + _model.meshes[m].name + "\" primitive " + std::to_string(p) + " ";
            for (const auto& [name, index] : primitive.attributes)
                if (index == accessor) return what + name;
            for (size_t t = 0; t < primitive.targets.size(); ++t)
                for (const auto& [name, index] : primitive.targets[t])
                    if (index == accessor) return what + "morph target " + std::to_string(t) + " " + name;
        }
    for (const tinygltf::Skin& skin : _model.skins)
        if (skin.inverseBindMatrices == accessor) return "skin \"" + skin.name + "\" inverse bind matrices";
    for (const tinygltf::Animation& animation : _model.animations)
        for (const tinygltf::AnimationChannel& channel : animation.channels) {
            const tinygltf::AnimationSampler& sampler = animation.samplers[channel.sampler];
            if (sampler.input == accessor || sampler.output == accessor)
                return "animation \"" + animation.name + "\" " + channel.target_path + " of node \"" +
                       _model.nodes[channel.target_node].name + "\"";
        }
    return "unused";
}

// glTF has no number for infinity or NaN (JSON writes them as null): such a number anywhere
// refuses the export, naming where it is.
bool kaGltfExporter::checkNumbers(const nlohmann::json& json)
{
    for (int accessor : _nonFiniteAccessors)
        return fail("accessor " + std::to_string(accessor) + " (" + accessorUse(accessor) +
                    ") holds numbers that are not finite");
    std::string pointer;
    std::function<bool(const nlohmann::json&)> walk = [&](const nlohmann::json& value) {
        if (value.is_null()) return false;
        const size_t length = pointer.size();
        bool finite = true;
        if (value.is_object()) {
            for (auto entry = value.begin(); finite && entry != value.end(); ++entry) {
                if (entry.key() == "extras") continue;
                pointer += "/" + entry.key();
                finite = walk(entry.value());
                if (finite) pointer.resize(length);
            }
        } else if (value.is_array()) {
            for (size_t i = 0; finite && i < value.size(); ++i) {
                pointer += "/" + std::to_string(i);
                finite = walk(value[i]);
                if (finite) pointer.resize(length);
            }
        }
        return finite;
    };
    if (walk(json)) return true;
    size_t node = 0;
    if (std::sscanf(pointer.c_str(), "/nodes/%zu", &node) == 1 && node < _model.nodes.size())
        return fail("node " + std::to_string(node) + " \"" + _model.nodes[node].name + "\" has a number that is not finite (" +
                    pointer + ")");
    return fail("a number that is not finite at " + pointer);
}

bool kaGltfExporter::writeFiles(std::string& error)
{
    if (!_bin.empty()) {
        while (_bin.size() % 4) _bin.push_back(0);
        _model.buffers.emplace_back();
    }
    // tinygltf writes a node with nothing to say (an unnamed empty group) as null, which no
    // reader accepts; empty extras make it an object.
    for (tinygltf::Node& node : _model.nodes)
        if (node.name.empty() && node.children.empty() && node.mesh < 0 && node.skin < 0 && node.camera < 0 &&
            node.matrix.empty() && node.translation.empty() && node.rotation.empty() && node.scale.empty() &&
            node.weights.empty() && node.extensions.empty())
            node.extras = tinygltf::Value(tinygltf::Value::Object{});
    tinygltf::TinyGLTF writer;
    std::ostringstream stream;
    nlohmann::json json;
    try {
        writer.WriteGltfSceneToStream(&_model, stream, false, false);
        json = nlohmann::json::parse(stream.str());
        for (const auto& [pointer, members] : _unwritten) json[nlohmann::json::json_pointer(pointer)].update(members);
    } catch (const std::exception& exception) {
        error = _path + ": " + exception.what();
        return false;
    }
    if (!checkNumbers(json)) {
        error = _error;
        return false;
    }
    // The extensions the file uses are those written; it requires those of them that its source
    // required and those the written data cannot be read without.
    std::set<std::string> used = kaGltfExtensionsUsedIn(json);
    used.insert(_usedByData.begin(), _usedByData.end());
    std::vector<std::string> required;
    for (const std::string& name : used)
        if (_required.count(name)) required.push_back(name);
    json.erase("extensionsUsed");
    json.erase("extensionsRequired");
    if (!used.empty()) json["extensionsUsed"] = used;
    if (!required.empty()) json["extensionsRequired"] = required;
    // A perspective camera without a far plane has none in glTF (tinygltf writes 0).
    if (json.contains("cameras"))
        for (nlohmann::json& camera : json["cameras"])
            if (camera.contains("perspective") && camera["perspective"].value("zfar", 0.0) == 0.0)
                camera["perspective"].erase("zfar");
    // tinygltf leaves out the type of images given by URI.
    for (size_t i = 0; i < _model.images.size(); ++i)
        if (!_model.images[i].mimeType.empty()) json["images"][i]["mimeType"] = _model.images[i].mimeType;
    // The buffer is the .glb's binary chunk, or the .bin file beside the .gltf.
    const std::string binFile = _stem + ".bin";
    if (!_bin.empty()) {
        json["buffers"][0] = {{"byteLength", _bin.size()}};
        if (!_binary) json["buffers"][0]["uri"] = uriOfPath(validUtf8(binFile.c_str()));
    }
    // The main file is renamed into place last, so it never refers to files that are not there yet.
    if (!_binary) {
        // Compact, like the binary form's: a round trip does not grow the file.
        const std::string content = json.dump() + "\n";
        return (_bin.empty() ||
                _files.write(_folder.empty() ? binFile : _folder + "/" + binFile, _bin.data(), _bin.size(), error)) &&
               _files.write(_path, content.data(), content.size(), error);
    }
    std::string text = json.dump();
    while (text.size() % 4) text += ' ';
    std::vector<uint8_t> glb;
    const auto word = [&glb](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) glb.push_back(static_cast<uint8_t>(value >> shift));
    };
    const size_t total = 12 + 8 + text.size() + (_bin.empty() ? 0 : 8 + _bin.size());
    if (total > UINT32_MAX) {
        error = _path + ": the scene needs " + std::to_string(total) + " bytes; a .glb holds 4 GiB at most";
        return false;
    }
    word(0x46546c67);  // "glTF"
    word(2);
    word(static_cast<uint32_t>(total));
    word(static_cast<uint32_t>(text.size()));
    word(0x4e4f534a);  // "JSON"
    glb.insert(glb.end(), text.begin(), text.end());
    if (!_bin.empty()) {
        word(static_cast<uint32_t>(_bin.size()));
        word(0x004e4942);  // "BIN"
        glb.insert(glb.end(), _bin.begin(), _bin.end());
    }
    return _files.write(_path, glb.data(), glb.size(), error);
}

bool kaGltfExporter::run(kaInfoList* infos, std::string& error)
{
    kaSceneInfo* scene = infos && infos->getCount() > 0 ? kaSceneInfo::dynamicCast(infos->getShared(0)) : nullptr;
    if (!scene) {
        error = _path + ": the scene has no scene info to write";
        return false;
    }
    for (int i = 1; i < infos->getCount(); ++i) {
        if (kaAnimationDatabase* database = kaAnimationDatabase::dynamicCast(infos->getShared(i)))
            _databases.push_back(database);
        else if (infos->getShared(i))
            _warnings.loss("infos of class " + className(infos->getShared(i)) + " dropped");
    }
    _model.asset.version = "2.0";
    _model.asset.generator = "kaopt";
    keepExtras(_model.asset.extras, scene);
    kaMergeGltfExtensions(_model.extensions, unreadExtensions(scene));
    if (scene->getCopyright()) _model.asset.copyright = validUtf8(scene->getCopyright());
    if (const char* required = scene->getRequiredExtensions())
        for (const std::string& name : kaSplit(required, ' '))
            if (!name.empty()) _required.insert(name);
    _model.scenes.resize(1);
    _model.defaultScene = 0;
    kaNode* root = scene->getSceneGraph();
    const kaAttrState none;
    if (root && root->getMetaObject() == kaGroup::getClassMetaSafe()) {
        // A plain group at the top is the scene itself; its children are the scene's nodes.
        _model.scenes[0].name = nameOf(root);
        keepUnread(_model.scenes[0], root);
        exportChildren({static_cast<kaGroup*>(root), -1, none, kaMatrix44f()});
    } else if (root && isMeshTree(root)) {
        placeMesh(-1, root, false, none);
    } else if (root) {
        if (std::optional<kaExportFrame> children = exportNode(root, -1, none, kaMatrix44f()))
            exportChildren(std::move(*children));
    }
    buildMeshes();
    buildAnimations();
    for (kaAnimationDatabase* database : _databases) {
        kaSkeletonList* skeletons = database->getSkeletonList();
        for (int s = 0; s < skeletons->getCount(); ++s)
            if (skeletons->getShared(s) && !_usedSkeletons.count(skeletons->getShared(s)))
                _warnings.loss("skeletons that match no skinned geometry dropped", kaCount::skins);
    }
    if (!_error.empty()) {
        error = _error;
        return false;
    }
    if (!writeFiles(error)) return false;
    _warnings.print();
    return true;
}

} // namespace

bool kaExportGltf(const std::string& path, kaInfoList* infos, std::string& error)
{
    return kaExportGltf(path, infos, {}, error);
}

bool kaExportGltf(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  std::string& error)
{
    kaFileCommit files;
    return kaExportGltf(path, infos, externalEntries, files, error) && files.commit(error);
}

bool kaExportGltf(const std::string& path, kaInfoList* infos, const std::vector<kaExternalDirEntry*>& externalEntries,
                  kaFileCommit& files, std::string& error)
{
    kaRegisterSceneModel();
    kaGltfExporter exporter(path, externalEntries, files);
    return exporter.run(infos, error);
}

} // namespace Lode::Io
