// The glTF exporter's state, shared by the files that build each part of the document:
// kaGltfExport.cpp (the run), kaGltfExportScene.cpp (nodes, lights, cameras),
// kaGltfExportMeshes.cpp (meshes, skins), kaGltfExportMaterials.cpp (materials, textures,
// images), kaGltfExportAnimations.cpp, kaGltfExportAccessors.cpp (buffer views, accessors) and
// kaGltfExportFiles.cpp (the written files). Internal to host/io.
#pragma once

#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/io/kaGltf.h"
#include "host/io/kaGltfCommon.h"
#include "host/io/kaGltfExtensions.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace Lode::Io {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;

// glTF text is UTF-8: a byte that starts no valid sequence becomes '?'.
std::string validUtf8(const char* text);
std::string nameOf(const kaNamedObject* object);
std::string className(const kaObject* object);
// A URI reference for a relative file path: unreserved characters and '/' stay, the rest is
// percent-encoded.
std::string uriOfPath(const std::string& path);

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
    // object's extras as JSON, discarded when it has none or they are dropped (with a loss), and
    // its extensions as a JSON object, empty when it has none or they are dropped.
    nlohmann::json unreadExtras(const kaNamedObject* object);
    nlohmann::json unreadExtensions(const kaNamedObject* object);
    // The extras and extensions kept for a glTF object the engine folded into another one (a
    // texture reference, a sampler), from their {"extensions", "extras"} text.
    template <class GltfObject> void keepMembers(GltfObject& written, const char* membersJson)
    {
        if (!membersJson) return;
        const nlohmann::json members = kaParseGltfJson(membersJson);
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
    void addChannel(tinygltf::Animation& animation, int node, const char* path, kaChannelKeys keys, int type,
                    const kaAnimationBinding* binding);

    // ---- buffers ----
    // Views are laid out as they are added and written only when the file is: their data must
    // live until then, which the engine's arrays do and what the export makes does once kept.
    template <class T> const T* keep(std::vector<T>&& values)
    {
        auto kept = std::make_shared<std::vector<T>>(std::move(values));
        _kept.push_back(kept);
        return kept->data();
    }
    // Where a view's bytes are until written: in one run, or gathered as they are written from
    // elements of elementBytes every sourceStride bytes (a set of four blend weights out of a
    // vertex's eight), so that the export keeps no copy of them.
    struct ViewBytes {
        const uint8_t* data = nullptr;
        size_t elementBytes = 0; // 0: the bytes lie in one run
        size_t sourceStride = 0;
        // The bytes [offset, offset + size): in place when in one run, else gathered into
        // scratch, which holds size bytes.
        const uint8_t* at(size_t offset, size_t size, uint8_t* scratch) const;
    };
    // Views are read, compared and written this many bytes at a time (a multiple of eight, so
    // that the digest's words fall alike however a view is held).
    static constexpr size_t ViewChunkBytes = 1 << 16;
    int addView(ViewBytes data, size_t bytes, int target);
    int addAccessor(int view, int componentType, int type, size_t count);
    // An accessor of the data: the one already written when one holds the same, else a new one
    // with a view of its own.
    int addData(ViewBytes data, size_t bytes, int target, int componentType, int type, size_t count,
                bool normalized = false, size_t stride = 0);
    int addData(const void* data, size_t bytes, int target, int componentType, int type, size_t count,
                bool normalized = false, size_t stride = 0)
    {
        return addData(ViewBytes{static_cast<const uint8_t*>(data)}, bytes, target, componentType, type, count,
                       normalized, stride);
    }
    int addFloats(const float* values, size_t count, int type, int target, bool bounds);
    // The accessor's min and max, from the values it holds as floats.
    void setBounds(int accessor, const float* values, size_t count, int components);
    int addSparseVectors(const std::map<uint32_t, kaVec3f>& entries, size_t count);

    // The buffer, its views at their offsets with zeros between them.
    bool writeBuffer(std::FILE* file, const std::string& path, std::string& error) const;
    bool writeFiles(std::string& error);
    bool fail(const std::string& message);
    std::string accessorUse(int accessor) const;
    bool checkAccessorNumbers();
    bool checkNumbers(const nlohmann::json& json);

    std::string _path;
    std::string _folder;
    std::string _stem;
    bool _binary = false;
    kaGltfWarnings _warnings;
    tinygltf::Model _model;
    std::vector<ViewBytes> _viewData; // per buffer view
    std::vector<std::shared_ptr<const void>> _kept;
    size_t _binSize = 0;
    // The export's files, renamed into place with the caller's other files.
    kaFileCommit& _files;
    std::map<const kaObject*, kaExternalDirEntry*> _externalImages;
    std::set<std::string> _usedFileNames;

    std::vector<kaAnimationDatabase*> _databases;
    // The groups between the scene's root and the node being exported, to cut cycles.
    std::unordered_set<const kaNode*> _ancestors;
    // The named scene nodes as written, in order; the names are the scene's own texts, which
    // outlive the export.
    struct kaNamedNode {
        const char* name;
        int index;
        bool transform;
    };
    std::vector<kaNamedNode> _namedNodes;
    // Built from them when there are animations to write: written nodes by name, the first of a
    // name kept, of every node and of transforms only.
    std::unordered_map<std::string_view, int> _nodeByName;
    std::unordered_map<std::string_view, int> _anyNodeByName;
    std::vector<int> _nonFiniteAccessors;
    // Accessors by a digest of what they hold, and sparse ones by their entries, so that the same
    // data (the key times of every channel of a clip, above all) is written once.
    std::unordered_multimap<uint64_t, int> _accessorsByDigest;
    std::map<std::pair<size_t, std::string>, int> _sparseAccessors;
    std::string _error;
    std::map<const kaMatrixObject*, int> _jointNodes;
    // Each written node's world matrix, by index; identity for nodes added beside a scene node.
    std::vector<kaMatrix44f> _worlds;
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

} // namespace Lode::Io
