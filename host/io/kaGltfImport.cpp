// glTF 2.0 import: tinygltf parses the file; everything read from its buffers is checked here
// against the buffers' real sizes before it is used, since tinygltf itself does not check the
// accessors and buffer views of a damaged or hostile file.
#include "host/io/kaGltf.h"

#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaFileCommit.h"
#include "host/io/kaGltfCommon.h"
#include "host/io/kaGltfExtensions.h"
#include "host/io/kaGltfSkinPalettes.h"
#include "host/io/kaGltfVertexData.h"
#include "host/io/kaSceneCounts.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSceneModel.h"
#include "host/sg/kaTransform.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>

namespace Lode::Io {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;

namespace {

// A file larger than this is refused before it is read: tinygltf counts bytes in 32 bits.
constexpr uint64_t kaMaxGltfFileBytes = uint64_t(INT32_MAX);

// ---- files the parser may read ----

// External buffers and images are read only when the caller names a folder for them, and only
// where kaReferenceRefusal lets the input reach.
struct kaFileAccess {
    bool allowed = false;
    std::string input;
    std::string folder;
    std::string refused;  // why the first reference refused was not read
};

bool fileExists(const std::string& path, void* user)
{
    struct stat status;
    return static_cast<kaFileAccess*>(user)->allowed && !path.empty() &&
           ::stat(kaFileCommit::readablePath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// tinygltf asks for the input's folder joined with the URI, then for the working folder joined
// with it. The first is the reference, checked here ("": not to be read), where an absolute URI
// stands for itself; the second is looked at only when any place may be read.
std::string expandFilePath(const std::string& path, void* user)
{
    auto& access = *static_cast<kaFileAccess*>(user);
    const std::string prefix = !access.folder.empty() && access.folder.back() == '/' ? access.folder : access.folder + "/";
    if (path.rfind(prefix, 0) != 0) return kaOutsideReferencesAllowed() ? path : "";
    const std::string uri = path.substr(prefix.size());
    const std::string refusal = kaReferenceRefusal(uri, access.folder, access.folder, "the folder of " + access.input);
    if (refusal.empty()) return !uri.empty() && uri.front() == '/' ? uri : path;
    if (access.refused.empty()) access.refused = access.input + ": the uri '" + uri + "' " + refusal;
    return "";
}

bool readWholeFile(std::vector<unsigned char>* out, std::string* error, const std::string& path, void* user)
{
    if (!static_cast<kaFileAccess*>(user)->allowed) {
        *error = "external files are not read for a file held in memory";
        return false;
    }
    std::ifstream in(kaFileCommit::readablePath(path), std::ios::binary | std::ios::ate);
    if (!in) {
        *error = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    kaFileCommit::noteInput(path);
    const std::streamoff size = in.tellg();
    if (size < 0 || uint64_t(size) > kaMaxGltfFileBytes) {
        *error = "the file is too large";
        return false;
    }
    out->resize(static_cast<size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(out->data()), size)) {
        *error = "cannot read the file";
        return false;
    }
    return true;
}

bool refuseWrite(std::string* error, const std::string&, const std::vector<unsigned char>&, void*)
{
    *error = "the importer writes no files";
    return false;
}

// tinygltf hands every image's bytes to a loader. Images given by URI are kept here and decoded
// later; images in buffer views are read later from the checked views, since tinygltf passes
// them on without checking the view against its buffer.
struct kaCapturedImages {
    std::map<int, std::vector<uint8_t>> bytes;
};

bool captureImage(tinygltf::Image* image, const int index, std::string*, std::string*, int, int,
                  const unsigned char* bytes, int size, void* user)
{
    if (image->bufferView < 0 && bytes && size > 0)
        static_cast<kaCapturedImages*>(user)->bytes[index].assign(bytes, bytes + size);
    return true;
}

// One line per reason: tinygltf ends its messages with line breaks.
std::string oneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "; ";
        else if (c != '\r')
            line += c;
    }
    return line;
}

std::string fileStem(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

int componentSize(int componentType)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_BYTE:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
    case TINYGLTF_COMPONENT_TYPE_SHORT:
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
    case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
    default: return 0;
    }
}

int componentCount(int type)
{
    switch (type) {
    case TINYGLTF_TYPE_SCALAR: return 1;
    case TINYGLTF_TYPE_VEC2: return 2;
    case TINYGLTF_TYPE_VEC3: return 3;
    case TINYGLTF_TYPE_VEC4: return 4;
    case TINYGLTF_TYPE_MAT2: return 4;
    case TINYGLTF_TYPE_MAT3: return 9;
    case TINYGLTF_TYPE_MAT4: return 16;
    default: return 0;
    }
}

bool isUnsignedInteger(int componentType)
{
    return componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

uint32_t readUnsigned(const uint8_t* at, int componentType)
{
    switch (componentType) {
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return *at;
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
        uint16_t value;
        std::memcpy(&value, at, 2);
        return value;
    }
    case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
        uint32_t value;
        std::memcpy(&value, at, 4);
        return value;
    }
    default: return 0;
    }
}

kaMatrix44f matrixOfColumns(const float* columns)
{
    // glTF stores column-vector matrices column by column: column i of that matrix is row i of
    // the row-vector matrix, so the 16 values are the rows in order.
    kaMatrix44f matrix;
    std::memcpy(matrix.data(), columns, 16 * sizeof(float));
    return matrix;
}

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

class kaGltfImporter {
public:
    kaGltfImporter(const tinygltf::Model& model, std::string file, const kaCapturedImages& captured)
        : _model(model), _file(std::move(file)), _captured(captured), _warnings(_file)
    {
        uint64_t bufferBytes = 0;
        for (const tinygltf::Buffer& buffer : _model.buffers) bufferBytes += buffer.data.size();
        _maxZeroFilledCount = std::max<uint64_t>(uint64_t(1) << 16, bufferBytes);
    }

    bool run(kaSmartPointer<kaInfoList>& infos);
    const std::string& getError() const { return _error; }
    void printWarnings() const { _warnings.print(); }

private:
    // ---- accessors ----
    struct kaAccessorView {
        const tinygltf::Accessor* accessor = nullptr;
        const uint8_t* data = nullptr;  // null: every element is zero before the sparse values
        size_t stride = 0;
        size_t count = 0;
        int components = 0;
    };
    bool fail(const std::string& message);
    bool locateView(int viewIndex, size_t offset, uint64_t bytes, const std::string& what, const uint8_t*& data,
                    size_t& available);
    bool locateAccessor(int index, const std::string& what, std::initializer_list<int> types, kaAccessorView& view);
    template <class Read> bool applySparse(const kaAccessorView& view, const std::string& what, Read read);
    bool readFloats(int index, const std::string& what, std::initializer_list<int> types, std::vector<float>& values,
                    int& components);
    // The elements as stored, tightly packed, for streams the engine carries without reading.
    bool readStream(int index, const std::string& what, const std::string& name, int target, size_t vertexCount,
                    kaVertexArray* vertices);
    bool readUnsigneds(int index, const std::string& what, std::initializer_list<int> types,
                       std::vector<uint32_t>& values, int& components);

    // ---- the objects ----
    bool checkNodes();
    bool buildNodes();
    kaNode* meshNode(int meshIndex, int skinIndex, const std::string& nodeName);
    bool splitIntoPalettes(const tinygltf::Primitive& primitive, const std::string& what, int skinIndex,
                           const kaGeometryAttr* whole, const std::vector<uint32_t>& skinJoints, kaGeometry* geometry);
    bool buildPrimitive(const tinygltf::Primitive& primitive, const std::string& what, int jointCount,
                        kaSmartPointer<kaGeometryAttr>& attr, kaSmartPointer<kaVertexArray>& vertices,
                        std::vector<uint32_t>* skinJoints);
    bool buildMorphBase(const tinygltf::Primitive& primitive, const std::string& what, kaVertexArray* vertices,
                        kaSmartPointer<kaMorphBase>& base);
    bool sparseDisplacements(int accessor, const std::string& what, int vertexCount,
                             kaSmartPointer<kaVec3fList>& displacements, kaSmartPointer<kaIntList>& indices);
    void appendMaterialAttrs(const tinygltf::Primitive& primitive, kaAttrSet* set);
    kaMaterialAttr* material(int index);
    kaTextureAttr* texture(int index, KA_GFX_TEXTURE_SLOT slot, int texCoordSet, const std::string& referenceData);
    void keepExtensionTextures(const tinygltf::Material& source, kaMaterialAttr* attr);
    kaCamera* camera(int index);
    kaImage* image(int index, bool decoded = true);
    kaVertexBlendMatrixListAttr* skinList(int index);
    kaLightAttr* light(int index);
    bool buildSkeletons(kaAnimationDatabase* database);
    bool buildAnimations(kaAnimationDatabase* database);
    std::string nodeName(int index) const;

    const tinygltf::Model& _model;
    std::string _file;
    const kaCapturedImages& _captured;
    kaGltfWarnings _warnings;
    std::string _error;
    uint64_t _maxZeroFilledCount = 0;

    std::vector<int> _parents;
    std::vector<kaMatrix44f> _worlds;
    std::vector<bool> _isJoint;
    std::vector<bool> _isAnimated;
    std::vector<bool> _hasAnimatedWeights;
    std::vector<kaSmartPointer<kaGroup>> _nodes;
    std::map<std::pair<int, int>, kaSmartPointer<kaNode>> _meshNodes;
    std::map<int, kaSmartPointer<kaMaterialAttr>> _materials;
    // texture, slot, set, what the reference carries besides
    std::map<std::tuple<int, int, int, std::string>, kaSmartPointer<kaTextureAttr>> _textures;
    std::set<int> _undecodedImages;
    std::map<int, kaSmartPointer<kaCamera>> _cameras;
    std::map<int, kaSmartPointer<kaImage>> _images;
    std::map<int, kaSmartPointer<kaVertexBlendMatrixListAttr>> _skinLists;
    std::map<int, kaSmartPointer<kaLightAttr>> _lights;
};

bool kaGltfImporter::fail(const std::string& message)
{
    if (_error.empty()) _error = _file + ": " + message;
    return false;
}

bool kaGltfImporter::locateView(int viewIndex, size_t offset, uint64_t bytes, const std::string& what,
                                const uint8_t*& data, size_t& available)
{
    if (viewIndex < 0 || size_t(viewIndex) >= _model.bufferViews.size())
        return fail(what + " refers to buffer view " + std::to_string(viewIndex) + ", which does not exist");
    const tinygltf::BufferView& view = _model.bufferViews[viewIndex];
    if (view.buffer < 0 || size_t(view.buffer) >= _model.buffers.size())
        return fail("buffer view " + std::to_string(viewIndex) + " refers to buffer " + std::to_string(view.buffer) +
                    ", which does not exist");
    const tinygltf::Buffer& buffer = _model.buffers[view.buffer];
    if (view.byteOffset > buffer.data.size() || view.byteLength > buffer.data.size() - view.byteOffset)
        return fail("buffer view " + std::to_string(viewIndex) + " needs bytes " + std::to_string(view.byteOffset) +
                    " to " + std::to_string(uint64_t(view.byteOffset) + view.byteLength) + " of buffer " +
                    std::to_string(view.buffer) + ", which has " + std::to_string(buffer.data.size()) + " bytes");
    if (offset > view.byteLength || bytes > view.byteLength - offset)
        return fail(what + " needs " + std::to_string(bytes) + " bytes from byte " + std::to_string(offset) +
                    " of buffer view " + std::to_string(viewIndex) + ", which has " +
                    std::to_string(view.byteLength) + " bytes");
    data = buffer.data.data() + view.byteOffset + offset;
    available = view.byteLength - offset;
    return true;
}

bool kaGltfImporter::locateAccessor(int index, const std::string& what, std::initializer_list<int> types,
                                    kaAccessorView& view)
{
    if (index < 0 || size_t(index) >= _model.accessors.size())
        return fail(what + " refers to accessor " + std::to_string(index) + ", which does not exist");
    const tinygltf::Accessor& accessor = _model.accessors[index];
    const std::string name = "accessor " + std::to_string(index) + " (" + what + ")";
    if (std::find(types.begin(), types.end(), accessor.type) == types.end())
        return fail(name + " has an element type that does not fit");
    const int size = componentSize(accessor.componentType);
    if (size == 0) return fail(name + " has an unknown component type " + std::to_string(accessor.componentType));
    view = {};
    view.accessor = &accessor;
    view.components = componentCount(accessor.type);
    view.count = accessor.count;
    const size_t elementBytes = size_t(size) * view.components;
    if (accessor.bufferView < 0) {
        // Zeros plus sparse values: the file spends no bytes on the elements, so their number is
        // held to what the file could plausibly describe.
        if (accessor.count > _maxZeroFilledCount)
            return fail(name + " has " + std::to_string(accessor.count) + " elements without data");
    } else if (accessor.count > 0) {
        const tinygltf::BufferView& bufferView =
            size_t(accessor.bufferView) < _model.bufferViews.size() ? _model.bufferViews[accessor.bufferView]
                                                                    : tinygltf::BufferView();
        view.stride = bufferView.byteStride ? bufferView.byteStride : elementBytes;
        if (view.stride < elementBytes) return fail(name + " has elements wider than the stride of its buffer view");
        // Checked by division first, so that a huge count cannot overflow the product.
        const uint64_t limit = bufferView.byteLength / view.stride + 1;
        const uint64_t bytes = accessor.count > limit ? UINT64_MAX : view.stride * (accessor.count - 1) + elementBytes;
        size_t available = 0;
        if (!locateView(accessor.bufferView, accessor.byteOffset, bytes, name, view.data, available)) return false;
    }
    if (accessor.sparse.isSparse &&
        (accessor.sparse.count < 1 || size_t(accessor.sparse.count) > accessor.count))
        return fail(name + " has " + std::to_string(accessor.sparse.count) + " sparse elements for " +
                    std::to_string(accessor.count) + " elements");
    return true;
}

template <class Read>
bool kaGltfImporter::applySparse(const kaAccessorView& view, const std::string& what, Read read)
{
    const tinygltf::Accessor& accessor = *view.accessor;
    if (!accessor.sparse.isSparse) return true;
    const int indexType = accessor.sparse.indices.componentType;
    if (!isUnsignedInteger(indexType)) return fail(what + ": the sparse indices are not unsigned integers");
    const size_t count = size_t(accessor.sparse.count);
    const size_t elementBytes = size_t(componentSize(accessor.componentType)) * view.components;
    const uint8_t* indices = nullptr;
    const uint8_t* values = nullptr;
    size_t available = 0;
    if (accessor.sparse.indices.byteOffset < 0 || accessor.sparse.values.byteOffset < 0)
        return fail(what + ": a sparse byte offset is negative");
    if (!locateView(accessor.sparse.indices.bufferView, size_t(accessor.sparse.indices.byteOffset),
                    uint64_t(count) * componentSize(indexType), what + " sparse indices", indices, available) ||
        !locateView(accessor.sparse.values.bufferView, size_t(accessor.sparse.values.byteOffset),
                    uint64_t(count) * elementBytes, what + " sparse values", values, available))
        return false;
    for (size_t k = 0; k < count; ++k) {
        const uint32_t element = readUnsigned(indices + k * componentSize(indexType), indexType);
        if (element >= view.count)
            return fail(what + ": sparse index " + std::to_string(element) + " is out of range (count " +
                        std::to_string(view.count) + ")");
        read(element, values + k * elementBytes);
    }
    return true;
}

bool kaGltfImporter::readFloats(int index, const std::string& what, std::initializer_list<int> types,
                                std::vector<float>& values, int& components)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, types, view)) return false;
    const tinygltf::Accessor& accessor = *view.accessor;
    const int type = accessor.componentType;
    const int size = componentSize(type);
    components = view.components;
    values.assign(view.count * components, 0.0f);
    if (view.data && type == TINYGLTF_COMPONENT_TYPE_FLOAT && view.stride == size_t(size) * components) {
        // Tightly packed floats, the common case, are one block.
        std::memcpy(values.data(), view.data, values.size() * sizeof(float));
    } else if (view.data) {
        for (size_t e = 0; e < view.count; ++e) {
            const uint8_t* element = view.data + e * view.stride;
            for (int c = 0; c < components; ++c)
                values[e * components + c] = kaGltfComponentValue(element + c * size, type, accessor.normalized);
        }
    }
    return applySparse(view, "accessor " + std::to_string(index) + " (" + what + ")",
                       [&](uint32_t element, const uint8_t* at) {
                           for (int c = 0; c < components; ++c)
                               values[size_t(element) * components + c] =
                                   kaGltfComponentValue(at + c * size, type, accessor.normalized);
                       });
}

bool kaGltfImporter::readUnsigneds(int index, const std::string& what, std::initializer_list<int> types,
                                   std::vector<uint32_t>& values, int& components)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, types, view)) return false;
    const int type = view.accessor->componentType;
    if (!isUnsignedInteger(type))
        return fail("accessor " + std::to_string(index) + " (" + what + ") does not hold unsigned integers");
    const int size = componentSize(type);
    components = view.components;
    values.assign(view.count * components, 0u);
    if (view.data) {
        for (size_t e = 0; e < view.count; ++e) {
            const uint8_t* element = view.data + e * view.stride;
            for (int c = 0; c < components; ++c) values[e * components + c] = readUnsigned(element + c * size, type);
        }
    }
    return applySparse(view, "accessor " + std::to_string(index) + " (" + what + ")",
                       [&](uint32_t element, const uint8_t* at) {
                           for (int c = 0; c < components; ++c)
                               values[size_t(element) * components + c] = readUnsigned(at + c * size, type);
                       });
}

bool kaGltfImporter::readStream(int index, const std::string& what, const std::string& name, int target,
                                size_t vertexCount, kaVertexArray* vertices)
{
    kaAccessorView view;
    if (!locateAccessor(index, what, {TINYGLTF_TYPE_SCALAR, TINYGLTF_TYPE_VEC2, TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4}, view))
        return false;
    if (view.count != vertexCount)
        return fail(what + " has " + std::to_string(view.count) + " values for " + std::to_string(vertexCount) +
                    " vertices");
    auto stream = make<kaVertexStream>();
    stream->setSemantic(name.c_str());
    kaVertexStream::ComponentType type;
    kaStreamComponentTypeOf(view.accessor->componentType, type);
    stream->setComponentType(type);
    stream->setComponentCount(view.components);
    stream->setNormalized(view.accessor->normalized);
    stream->setTarget(target);
    const size_t element = stream->getElementSize();
    kaBlock<uint8_t>& bytes = stream->data();
    bytes.assign(view.count * element, 0);
    for (size_t e = 0; view.data && e < view.count; ++e) std::memcpy(bytes.data() + e * element, view.data + e * view.stride, element);
    if (!applySparse(view, "accessor " + std::to_string(index) + " (" + what + ")",
                     [&](uint32_t e, const uint8_t* at) { std::memcpy(bytes.data() + size_t(e) * element, at, element); }))
        return false;
    vertices->appendStream(stream);
    return true;
}

// ---- nodes ----

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

// ---- meshes ----

kaNode* kaGltfImporter::meshNode(int meshIndex, int skinIndex, const std::string& nodeName)
{
    const auto key = std::make_pair(meshIndex, skinIndex);
    auto found = _meshNodes.find(key);
    if (found != _meshNodes.end()) return found->second;

    const tinygltf::Mesh& mesh = _model.meshes[meshIndex];
    const std::string name = mesh.name.empty() ? nodeName : mesh.name;
    const int jointCount = skinIndex < 0 ? -1 : static_cast<int>(_model.skins[skinIndex].joints.size());
    auto geometry = make<kaGeometry>(name);
    kaKeepUnread(geometry, mesh);
    // A skin whose joints 8-bit blend indices cannot all name gets a palette per part of each
    // primitive, before its attributes; another one palette for the whole mesh.
    const bool split = jointCount > int(kaMaxPaletteJoints);
    if (skinIndex >= 0 && !split) geometry->appendAttr(skinList(skinIndex));

    size_t targetCount = 0;
    for (const tinygltf::Primitive& primitive : mesh.primitives)
        targetCount = std::max(targetCount, primitive.targets.size());
    kaSmartPointer<kaMorphSequence> sequence;
    if (targetCount > 0) {
        sequence = make<kaMorphSequence>(name);
        for (size_t t = 0; t < targetCount; ++t)
            sequence->getInitialWeights()->append(t < mesh.weights.size() ? static_cast<float>(mesh.weights[t]) : 0.0f);
    }

    for (size_t p = 0; p < mesh.primitives.size(); ++p) {
        const tinygltf::Primitive& primitive = mesh.primitives[p];
        const std::string what = "mesh " + std::to_string(meshIndex) + " primitive " + std::to_string(p);
        kaSmartPointer<kaGeometryAttr> attr;
        kaSmartPointer<kaVertexArray> vertices;
        std::vector<uint32_t> skinJoints;
        if (!buildPrimitive(primitive, what, jointCount, attr, vertices, split ? &skinJoints : nullptr)) return nullptr;
        if (!attr) continue;
        kaKeepUnread(attr, primitive);
        if (split) {
            if (!splitIntoPalettes(primitive, what, skinIndex, attr, skinJoints, geometry)) return nullptr;
            continue;
        }
        if (primitive.targets.empty()) {
            appendMaterialAttrs(primitive, geometry);
            geometry->appendAttr(attr);
            continue;
        }
        // A morph instance draws one geometry attribute; the primitive's material and texture
        // go to an attribute set above it.
        kaSmartPointer<kaMorphBase> base;
        if (!buildMorphBase(primitive, what, vertices, base)) return nullptr;
        auto instance = make<kaMorphInstance>(name);
        instance->setBase(base);
        instance->setMorphSequence(sequence);
        instance->appendAttr(attr);
        auto materialSet = make<kaAttrSet>();
        appendMaterialAttrs(primitive, materialSet);
        if (materialSet->getAttrCount() > 0) {
            materialSet->appendChild(instance);
            geometry->appendChild(materialSet);
        } else {
            geometry->appendChild(instance);
        }
    }
    return _meshNodes[key] = geometry;
}

bool kaGltfImporter::buildPrimitive(const tinygltf::Primitive& primitive, const std::string& what, int jointCount,
                                    kaSmartPointer<kaGeometryAttr>& attr, kaSmartPointer<kaVertexArray>& vertices,
                                    std::vector<uint32_t>* skinJoints)
{
    KA_GFX_DRAW draw;
    if (!kaDrawOfGltfMode(primitive.mode, draw)) return fail(what + " has unknown mode " + std::to_string(primitive.mode));
    const auto attribute = [&](const std::string& name) {
        const auto found = primitive.attributes.find(name);
        return found == primitive.attributes.end() ? -1 : found->second;
    };
    const int positionAccessor = attribute("POSITION");
    if (positionAccessor < 0) {
        _warnings.loss("primitives without positions dropped", kaCount::meshes);
        return true;
    }
    int components = 0;
    std::vector<float> positions;
    if (!readFloats(positionAccessor, what + " POSITION", {TINYGLTF_TYPE_VEC3}, positions, components)) return false;
    const size_t vertexCount = positions.size() / 3;
    if (vertexCount > size_t(INT32_MAX)) return fail(what + " has too many vertices");

    int texCoordSets = 0;
    while (texCoordSets < kaVertexFormat::MaxTextureCoordSetCount &&
           attribute("TEXCOORD_" + std::to_string(texCoordSets)) >= 0)
        ++texCoordSets;
    int blendSets = 0;
    while (attribute("JOINTS_" + std::to_string(blendSets)) >= 0 && attribute("WEIGHTS_" + std::to_string(blendSets)) >= 0)
        ++blendSets;
    // Four weights per set; the format counts 15 at most.
    const int maxBlendSets = kaVertexFormat::MaxBlendWeightCount / 4;
    if (blendSets > maxBlendSets) {
        _warnings.loss("joint and weight sets beyond the third dropped");
        blendSets = maxBlendSets;
    }
    if (blendSets > 0 && jointCount < 0) _warnings.add("joints and weights of meshes without a skin kept unbound");

    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(attribute("NORMAL") >= 0);
    format.setColors(attribute("COLOR_0") >= 0);
    format.setTextureCoordSetCount(texCoordSets);
    format.setBlendWeightCount(4 * blendSets);
    format.setBlendIndexCount(4 * blendSets);
    vertices = make<kaVertexArray>();
    vertices->setup(format, static_cast<int>(vertexCount), 0, 0);
    if (vertexCount > 0) std::copy(positions.begin(), positions.end(), vertices->positionData());

    std::vector<float> values;
    const auto readAttribute = [&](const std::string& name, std::initializer_list<int> types) {
        if (!readFloats(attribute(name), what + " " + name, types, values, components)) return false;
        if (values.size() / components != vertexCount)
            return fail(what + " has " + std::to_string(values.size() / components) + " " + name + " values for " +
                        std::to_string(vertexCount) + " vertices");
        return true;
    };
    if (format.hasNormals()) {
        if (!readAttribute("NORMAL", {TINYGLTF_TYPE_VEC3})) return false;
        std::copy(values.begin(), values.end(), vertices->normalData());
    }
    if (format.hasColors()) {
        if (!readAttribute("COLOR_0", {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4})) return false;
        float* colors = vertices->colorData();
        for (size_t v = 0; v < vertexCount; ++v)
            for (int c = 0; c < 4; ++c) colors[v * 4 + c] = c < components ? values[v * components + c] : 1.0f;
    }
    for (int set = 0; set < texCoordSets; ++set) {
        if (!readAttribute("TEXCOORD_" + std::to_string(set), {TINYGLTF_TYPE_VEC2})) return false;
        std::copy(values.begin(), values.end(), vertices->texCoordData(set));
    }
    const int slots = 4 * blendSets;
    std::vector<uint32_t> joints;
    if (skinJoints) skinJoints->assign(vertexCount * slots, 0);
    for (int set = 0; set < blendSets; ++set) {
        const std::string weightsName = "WEIGHTS_" + std::to_string(set);
        const std::string jointsName = "JOINTS_" + std::to_string(set);
        if (!readAttribute(weightsName, {TINYGLTF_TYPE_VEC4})) return false;
        if (!readUnsigneds(attribute(jointsName), what + " " + jointsName, {TINYGLTF_TYPE_VEC4}, joints, components))
            return false;
        if (joints.size() / 4 != vertexCount)
            return fail(what + " has " + std::to_string(joints.size() / 4) + " " + jointsName + " values for " +
                        std::to_string(vertexCount) + " vertices");
        float* weights = vertices->blendWeightData();
        uint8_t* indices = vertices->blendIndexData();
        const uint32_t limit = jointCount < 0 ? 256u : static_cast<uint32_t>(jointCount);
        for (size_t v = 0; v < vertexCount; ++v) {
            for (int k = 0; k < 4; ++k) {
                const uint32_t joint = joints[v * 4 + k];
                if (joint >= limit)
                    return fail(what + " " + jointsName + " has joint index " + std::to_string(joint) +
                                ", out of range for " + std::to_string(limit) + " joints");
                weights[v * slots + set * 4 + k] = values[v * 4 + k];
                if (skinJoints)
                    (*skinJoints)[v * slots + set * 4 + k] = joint;
                else
                    indices[v * slots + set * 4 + k] = static_cast<uint8_t>(joint);
            }
        }
    }
    vertices->closeSetup();
    // Attributes the vertex format has no place for (tangents, an application's own, further
    // colour sets, sets after a gap) are carried as the file stores them; joints and weights
    // beyond the third set would name joints no palette has. Components the file stores as
    // integers are noted, so that they are written so again.
    for (const auto& [name, accessor] : primitive.attributes) {
        const auto setOf = [&](const char* prefix) {
            return name.rfind(prefix, 0) == 0 ? std::atoi(name.c_str() + std::strlen(prefix)) : -1;
        };
        const bool read = name == "POSITION" || name == "NORMAL" || name == "COLOR_0" ||
                          (setOf("TEXCOORD_") >= 0 && setOf("TEXCOORD_") < texCoordSets) ||
                          (setOf("JOINTS_") >= 0 && setOf("JOINTS_") < blendSets) ||
                          (setOf("WEIGHTS_") >= 0 && setOf("WEIGHTS_") < blendSets);
        if (setOf("JOINTS_") >= 0 || setOf("WEIGHTS_") >= 0) {
            if (!read) _warnings.loss("vertex attribute " + name + " dropped");
        } else if (!read) {
            if (!readStream(accessor, what + " " + name, name, -1, vertexCount, vertices)) return false;
        } else if (accessor >= 0 && size_t(accessor) < _model.accessors.size()) {
            const tinygltf::Accessor& stored = _model.accessors[accessor];
            kaVertexStream::ComponentType type;
            const bool narrowColour = name == "COLOR_0" && stored.type == TINYGLTF_TYPE_VEC3;
            if ((stored.componentType != TINYGLTF_COMPONENT_TYPE_FLOAT || narrowColour) &&
                kaStreamComponentTypeOf(stored.componentType, type)) {
                auto record = make<kaVertexStream>();
                record->setSemantic(name.c_str());
                record->setComponentType(type);
                record->setComponentCount(componentCount(stored.type));
                record->setNormalized(stored.normalized);
                vertices->appendStream(record);
            }
        }
    }

    // Indices: a line loop is drawn as a strip that returns to its first vertex.
    kaSmartPointer<kaIndexArray> indexArray;
    int drawn = static_cast<int>(vertexCount);
    if (primitive.indices >= 0) {
        std::vector<uint32_t> indices;
        if (!readUnsigneds(primitive.indices, what + " indices", {TINYGLTF_TYPE_SCALAR}, indices, components))
            return false;
        for (uint32_t index : indices)
            if (index >= vertexCount)
                return fail(what + " has vertex index " + std::to_string(index) + ", out of range for " +
                            std::to_string(vertexCount) + " vertices");
        if (indices.size() > size_t(INT32_MAX) - 1) return fail(what + " has too many indices");
        if (primitive.mode == kaGltfModeLineLoop && !indices.empty()) indices.push_back(indices.front());
        indexArray = make<kaIndexArray>();
        indexArray->setCount(static_cast<int>(indices.size()));
        std::copy(indices.begin(), indices.end(), indexArray->data());
        drawn = static_cast<int>(indices.size());
    } else if (primitive.mode == kaGltfModeLineLoop && vertexCount > 0) {
        indexArray = make<kaIndexArray>();
        indexArray->setCount(static_cast<int>(vertexCount) + 1);
        for (size_t v = 0; v < vertexCount; ++v) indexArray->data()[v] = static_cast<uint32_t>(v);
        indexArray->data()[vertexCount] = 0;
        drawn = static_cast<int>(vertexCount) + 1;
    }

    attr = make<kaGeometryAttr1_5>();
    attr->configureVertexArray(vertices);
    attr->setIndexArray(indexArray);
    attr->setPrimitiveType(draw);
    attr->setPrimitiveCount(kaPrimitiveCountOf(draw, drawn));
    return true;
}

bool kaGltfImporter::splitIntoPalettes(const tinygltf::Primitive& primitive, const std::string& what, int skinIndex,
                                       const kaGeometryAttr* whole, const std::vector<uint32_t>& skinJoints,
                                       kaGeometry* geometry)
{
    const std::vector<int>& skin = _model.skins[skinIndex].joints;
    // A morph target moves the vertices of the whole primitive: they cannot be shared out.
    if (!primitive.targets.empty())
        return fail(what + " has morph targets and a skin of " + std::to_string(skin.size()) +
                    " joints: its vertices cannot be split between palettes of " + std::to_string(kaMaxPaletteJoints) +
                    " joints, which 8-bit blend indices name");
    const kaVertexArray* vertices = whole->getVertexArray();
    const kaVertexFormat format = vertices->getVertexFormat();
    const int slots = format.getBlendWeightCount();
    std::vector<uint32_t> drawn;
    if (const kaIndexArray* indices = whole->getIndexArray())
        drawn.assign(indices->data(), indices->data() + indices->getCount());
    else
        for (int v = 0; v < vertices->getVertexCount(); ++v) drawn.push_back(uint32_t(v));
    drawn.resize(std::min<size_t>(drawn.size(), size_t(kaIndexCountOf(whole->getPrimitiveType(), whole->getPrimitiveCount()))));
    KA_GFX_DRAW draw = whole->getPrimitiveType();
    std::vector<kaPalettePart> parts;
    kaSplitIntoPalettes(drawn, draw, skinJoints.data(), vertices->blendWeightData(), slots, parts);
    for (const kaPalettePart& part : parts) {
        auto palette = make<kaVertexBlendMatrixListAttr>();
        std::unordered_map<uint32_t, uint8_t> local;
        for (uint32_t joint : part.joints) {
            local.emplace(joint, uint8_t(palette->getMatrixCount()));
            palette->appendMatrix(static_cast<kaJoint*>(_nodes[skin[joint]].get())->getBlendingMatrix());
        }
        auto partVertices = make<kaVertexArray>();
        partVertices->setup(format, static_cast<int>(part.vertices.size()), 0, 0);
        for (size_t v = 0; v < part.vertices.size(); ++v) {
            kaCopyVertex(*vertices, *partVertices, int(part.vertices[v]), int(v), format);
            for (int k = 0; k < slots; ++k) {
                const size_t slot = size_t(part.vertices[v]) * slots + k;
                partVertices->blendIndexData()[v * slots + k] = vertices->blendWeightData()[slot] != 0.0f ? local[skinJoints[slot]] : 0;
            }
        }
        partVertices->closeSetup();
        auto indices = make<kaIndexArray>();
        indices->setCount(static_cast<int>(part.indices.size()));
        std::copy(part.indices.begin(), part.indices.end(), indices->data());
        kaSmartPointer<kaGeometryAttr> attr = make<kaGeometryAttr1_5>();
        attr->configureVertexArray(partVertices);
        attr->setIndexArray(indices);
        attr->setPrimitiveType(draw);
        attr->setPrimitiveCount(kaPrimitiveCountOf(draw, static_cast<int>(part.indices.size())));
        if (whole->getExtras()) attr->setExtras(whole->getExtras());
        if (whole->getExtensions()) attr->setExtensions(whole->getExtensions());
        geometry->appendAttr(palette);
        appendMaterialAttrs(primitive, geometry);
        geometry->appendAttr(attr);
    }
    if (parts.size() > 1) _warnings.add("primitives of skins of more than 256 joints split into palettes of 256 joints");
    return true;
}

bool kaGltfImporter::sparseDisplacements(int accessor, const std::string& what, int vertexCount,
                                         kaSmartPointer<kaVec3fList>& displacements, kaSmartPointer<kaIntList>& indices)
{
    displacements = make<kaVec3fList>();
    indices = make<kaIntList>();
    if (accessor >= 0) {
        std::vector<float> values;
        int components = 0;
        if (!readFloats(accessor, what, {TINYGLTF_TYPE_VEC3}, values, components)) return false;
        if (values.size() / 3 != size_t(vertexCount))
            return fail(what + " has " + std::to_string(values.size() / 3) + " values for " +
                        std::to_string(vertexCount) + " vertices");
        for (int v = 0; v < vertexCount; ++v) {
            const kaVec3f displacement(values[v * 3], values[v * 3 + 1], values[v * 3 + 2]);
            if (displacement == kaVec3f::ZeroVector) continue;
            indices->append(v);
            displacements->append(displacement);
        }
    }
    // The engine's sparse lists close with one index past the last displaced vertex.
    indices->append(-1);
    return true;
}

bool kaGltfImporter::buildMorphBase(const tinygltf::Primitive& primitive, const std::string& what,
                                    kaVertexArray* vertices, kaSmartPointer<kaMorphBase>& base)
{
    base = make<kaMorphBase>();
    base->setVertexArray(vertices);
    const bool normals = vertices->getVertexFormat().hasNormals();
    for (size_t t = 0; t < primitive.targets.size(); ++t) {
        const auto& target = primitive.targets[t];
        const auto accessorOf = [&](const char* name) {
            const auto found = target.find(name);
            return found == target.end() ? -1 : found->second;
        };
        const std::string targetName = what + " target " + std::to_string(t);
        // Displacements of attributes the base carries as streams (tangents) are streams too.
        for (const auto& [name, accessor] : target)
            if (name == "NORMAL" && !normals)
                _warnings.loss("morph target attribute " + name + " dropped");
            else if (name != "POSITION" && name != "NORMAL" &&
                     !readStream(accessor, targetName + " " + name, name, int(t), size_t(vertices->getVertexCount()), vertices))
                return false;
        kaSmartPointer<kaVec3fList> positionDisplacements, normalDisplacements;
        kaSmartPointer<kaIntList> positionIndices, normalIndices;
        if (!sparseDisplacements(accessorOf("POSITION"), targetName + " POSITION", vertices->getVertexCount(),
                                 positionDisplacements, positionIndices))
            return false;
        if (normals && !sparseDisplacements(accessorOf("NORMAL"), targetName + " NORMAL", vertices->getVertexCount(),
                                            normalDisplacements, normalIndices))
            return false;
        base->appendTarget(positionDisplacements, positionIndices, normalDisplacements, normalIndices);
    }
    return true;
}

// ---- materials, textures, images ----

void kaGltfImporter::appendMaterialAttrs(const tinygltf::Primitive& primitive, kaAttrSet* set)
{
    if (primitive.material < 0) return;
    if (size_t(primitive.material) >= _model.materials.size()) {
        _warnings.loss("references to missing materials dropped");
        return;
    }
    set->appendAttr(material(primitive.material));
    const tinygltf::Material& source = _model.materials[primitive.material];
    // One texture attribute per slot in use, in slot order. (The normal and occlusion
    // references have types of their own; their scale and strength are the material's.)
    const auto append = [&](KA_GFX_TEXTURE_SLOT slot, const auto& info) {
        if (info.index < 0) return;
        if (kaTextureAttr* attr = texture(info.index, slot, info.texCoord, kaUnreadGltfMembers(info))) set->appendAttr(attr);
    };
    append(KA_GFX_TEXTURE_SLOT_BASE_COLOR, source.pbrMetallicRoughness.baseColorTexture);
    append(KA_GFX_TEXTURE_SLOT_METALLIC_ROUGHNESS, source.pbrMetallicRoughness.metallicRoughnessTexture);
    append(KA_GFX_TEXTURE_SLOT_NORMAL, source.normalTexture);
    append(KA_GFX_TEXTURE_SLOT_OCCLUSION, source.occlusionTexture);
    append(KA_GFX_TEXTURE_SLOT_EMISSIVE, source.emissiveTexture);
}

kaMaterialAttr* kaGltfImporter::material(int index)
{
    auto found = _materials.find(index);
    if (found != _materials.end()) return found->second;
    const tinygltf::Material& source = _model.materials[index];
    auto attr = make<kaMaterialAttr>(source.name);
    keepExtensionTextures(source, attr);
    const tinygltf::PbrMetallicRoughness& pbr = source.pbrMetallicRoughness;
    attr->setMetallic(static_cast<float>(pbr.metallicFactor));
    attr->setRoughness(static_cast<float>(pbr.roughnessFactor));
    attr->setAlphaMode(source.alphaMode == "MASK"    ? KA_GFX_ALPHA_MODE_MASK
                       : source.alphaMode == "BLEND" ? KA_GFX_ALPHA_MODE_BLEND
                                                     : KA_GFX_ALPHA_MODE_OPAQUE);
    attr->setAlphaCutoff(static_cast<float>(source.alphaCutoff));
    attr->setDoubleSided(source.doubleSided);
    attr->setNormalScale(static_cast<float>(source.normalTexture.scale));
    attr->setOcclusionStrength(static_cast<float>(source.occlusionTexture.strength));
    const std::vector<double>& base = pbr.baseColorFactor;
    if (base.size() == 4) attr->setDiffuse(kaVec4f(float(base[0]), float(base[1]), float(base[2]), float(base[3])));
    const std::vector<double>& emissive = source.emissiveFactor;
    if (emissive.size() == 3)
        attr->setEmission(kaVec4f(float(emissive[0]), float(emissive[1]), float(emissive[2]), 1.0f));
    // Without the extension glTF's specular is white at full strength.
    kaVec4f specular(1.0f, 1.0f, 1.0f, 1.0f);
    const auto extension = source.extensions.find(kaGltfSpecularExtension);
    if (extension != source.extensions.end() && extension->second.IsObject()) {
        const tinygltf::Value& color = extension->second.Get("specularColorFactor");
        if (color.IsArray() && color.ArrayLen() == 3 && color.Get(0).IsNumber() && color.Get(1).IsNumber() &&
            color.Get(2).IsNumber())
            specular.set(float(color.Get(0).GetNumberAsDouble()), float(color.Get(1).GetNumberAsDouble()),
                         float(color.Get(2).GetNumberAsDouble()), 1.0f);
        const tinygltf::Value& factor = extension->second.Get("specularFactor");
        if (factor.IsNumber()) specular.w = float(factor.GetNumberAsDouble());
    }
    attr->setSpecular(specular);
    return _materials[index] = attr;
}

void kaGltfImporter::keepExtensionTextures(const tinygltf::Material& source, kaMaterialAttr* attr)
{
    if (!source.extras_json_string.empty()) attr->setExtras(source.extras_json_string.c_str());
    nlohmann::json extensions = nlohmann::json::parse(kaUnreadGltfExtensions(source.extensions_json_string), nullptr, false);
    if (!extensions.is_object()) return;
    // The specular factors are the material's own; the rest of the extension is kept.
    if (extensions.contains(kaGltfSpecularExtension) && extensions[kaGltfSpecularExtension].is_object()) {
        nlohmann::json& specular = extensions[kaGltfSpecularExtension];
        specular.erase("specularFactor");
        specular.erase("specularColorFactor");
        if (specular.empty()) extensions.erase(kaGltfSpecularExtension);
    }
    // Textures the extensions use are the material's, each named in the JSON by its place in
    // the material's list.
    std::vector<kaTextureAttr*> used;
    kaForEachGltfTextureReference(extensions, [&](nlohmann::json& reference) {
        kaTextureAttr* texture = this->texture(reference["index"].get<int>(), KA_GFX_TEXTURE_SLOT_BASE_COLOR, 0, "");
        if (!texture) return false;
        auto at = std::find(used.begin(), used.end(), texture);
        if (at == used.end()) {
            attr->appendExtensionTexture(texture);
            at = used.insert(used.end(), texture);
        }
        reference["index"] = at - used.begin();
        return true;
    });
    if (!extensions.empty()) attr->setExtensions(extensions.dump().c_str());
}

kaTextureAttr* kaGltfImporter::texture(int index, KA_GFX_TEXTURE_SLOT slot, int texCoordSet, const std::string& referenceData)
{
    // A glTF texture that feeds two slots, or one with two coordinate sets or transforms, is one
    // texture attribute per use; they share the image.
    const auto key = std::make_tuple(index, int(slot), texCoordSet, referenceData);
    auto found = _textures.find(key);
    if (found != _textures.end()) return found->second;
    if (index < 0 || size_t(index) >= _model.textures.size()) {
        _warnings.loss("references to missing textures dropped");
        return _textures[key] = nullptr;
    }
    const tinygltf::Texture& source = _model.textures[index];
    kaImage* level0 = source.source >= 0 && size_t(source.source) < _model.images.size() ? image(source.source) : nullptr;
    // Extensions may give the image in encodings of their own (KTX2, WebP) besides or instead of
    // level 0: those images are kept as they came, each named by its place in the texture's list.
    nlohmann::json extensions = nlohmann::json::parse(kaUnreadGltfExtensions(source.extensions_json_string), nullptr, false);
    std::vector<kaImage*> alternatives;
    kaForEachGltfImageReference(extensions, [&](nlohmann::json& extension) {
        const int at = extension["source"].get<int>();
        kaImage* kept = at >= 0 && size_t(at) < _model.images.size() ? image(at, false) : nullptr;
        if (!kept) return false;
        extension["source"] = alternatives.size();
        alternatives.push_back(kept);
        return true;
    });
    if (!_error.empty()) return _textures[key] = nullptr;
    if (!level0 && alternatives.empty()) {
        _warnings.loss("textures without an image dropped", kaCount::images);
        return _textures[key] = nullptr;
    }
    auto attr = make<kaTextureAttr>(source.name);
    if (!source.extras_json_string.empty()) attr->setExtras(source.extras_json_string.c_str());
    if (extensions.is_object() && !extensions.empty()) attr->setExtensions(extensions.dump().c_str());
    for (kaImage* kept : alternatives) attr->appendExtensionImage(kept);
    if (!referenceData.empty()) attr->setReferenceData(referenceData.c_str());
    attr->setImage(level0, 0);
    attr->setSlot(slot);
    attr->setTexCoordSet(texCoordSet);
    // Without a sampler, or without filters in it, glTF leaves filtering to the viewer, which
    // mipmaps: the texture is tagged for mipmapping and filtered trilinearly.
    const tinygltf::Sampler none;
    const bool hasSampler = source.sampler >= 0 && size_t(source.sampler) < _model.samplers.size();
    const tinygltf::Sampler& sampler = hasSampler ? _model.samplers[source.sampler] : none;
    attr->setMinFilter(sampler.minFilter < 0 ? KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR
                                             : kaFilterOfGltf(sampler.minFilter));
    attr->setMagFilter(kaFilterOfGltf(sampler.magFilter));
    if (kaIsMipmapFilter(attr->getMinFilter())) attr->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);
    attr->setWrapS(kaWrapOfGltf(sampler.wrapS));
    attr->setWrapT(kaWrapOfGltf(sampler.wrapT));
    const std::string samplerData = kaUnreadGltfMembers(sampler);
    if (!samplerData.empty()) attr->setSamplerData(samplerData.c_str());
    return _textures[key] = attr;
}

kaImage* kaGltfImporter::image(int index, bool decoded)
{
    const tinygltf::Image& source = _model.images[index];
    const std::string name = !source.uri.empty() && source.uri.rfind("data:", 0) != 0 ? source.uri
                             : !source.name.empty()                               ? source.name
                                                                                  : "image" + std::to_string(index);
    const std::string what = "image " + std::to_string(index) + " \"" + name + "\"";
    auto found = _images.find(index);
    if (found != _images.end()) {
        if (decoded && _undecodedImages.count(index)) {
            fail(what + ": not a PNG or JPEG image, yet a texture's image");
            return nullptr;
        }
        return found->second;
    }
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    if (source.bufferView >= 0) {
        if (size_t(source.bufferView) < _model.bufferViews.size() &&
            !locateView(source.bufferView, 0, _model.bufferViews[source.bufferView].byteLength, what, bytes, size))
            return _images[index] = nullptr;
        if (!bytes) {
            fail(what + " refers to buffer view " + std::to_string(source.bufferView) + ", which does not exist");
            return _images[index] = nullptr;
        }
    } else {
        const auto captured = _captured.bytes.find(index);
        if (captured == _captured.bytes.end()) {
            fail(what + ": cannot read the image file");
            return _images[index] = nullptr;
        }
        bytes = captured->second.data();
        size = captured->second.size();
    }
    auto image = make<kaImage>(name);
    kaKeepUnread(image, source);
    std::string reason;
    if (!kaDecodeGltfImage(bytes, size, image, reason)) {
        if (decoded || size == 0) {
            fail(what + ": " + reason);
            return _images[index] = nullptr;
        }
        // An encoding only an extension knows (KTX2, WebP): kept as its bytes, without pixels.
        _undecodedImages.insert(index);
    }
    image->setEncoded(bytes, size);
    return _images[index] = image;
}

// ---- skins and animations ----

kaVertexBlendMatrixListAttr* kaGltfImporter::skinList(int index)
{
    auto found = _skinLists.find(index);
    if (found != _skinLists.end()) return found->second;
    auto list = make<kaVertexBlendMatrixListAttr>();
    for (int joint : _model.skins[index].joints)
        list->appendMatrix(static_cast<kaJoint*>(_nodes[joint].get())->getBlendingMatrix());
    return _skinLists[index] = list;
}

bool kaGltfImporter::buildSkeletons(kaAnimationDatabase* database)
{
    std::vector<bool> blendingSet(_model.nodes.size(), false);
    for (size_t s = 0; s < _model.skins.size(); ++s) {
        const tinygltf::Skin& skin = _model.skins[s];
        std::vector<float> matrices;
        if (skin.inverseBindMatrices >= 0) {
            int components = 0;
            if (!readFloats(skin.inverseBindMatrices, "skin " + std::to_string(s) + " inverse bind matrices",
                            {TINYGLTF_TYPE_MAT4}, matrices, components))
                return false;
            if (matrices.size() / 16 < skin.joints.size())
                return fail("skin " + std::to_string(s) + " has " + std::to_string(matrices.size() / 16) +
                            " inverse bind matrices for " + std::to_string(skin.joints.size()) + " joints");
        }
        auto skeleton = make<kaSkeleton>(skin.name.empty() ? "skeleton" + std::to_string(s) : skin.name);
        kaKeepUnread(skeleton, skin);
        for (size_t k = 0; k < skin.joints.size(); ++k) {
            const int joint = skin.joints[k];
            const kaMatrix44f inverseBind = matrices.empty() ? kaMatrix44f() : matrixOfColumns(&matrices[k * 16]);
            skeleton->appendJoint(_nodes[joint]->getName(), inverseBind);
            // The matrix that takes a bound vertex to where the joint has it now: into the
            // joint's bind space, then out by the joint's placement in the scene.
            if (!blendingSet[joint]) {
                static_cast<kaJoint*>(_nodes[joint].get())->getBlendingMatrix()->setMatrix(inverseBind * _worlds[joint]);
                blendingSet[joint] = true;
            }
        }
        if (skin.skeleton >= 0) {
            const auto root = std::find(skin.joints.begin(), skin.joints.end(), skin.skeleton);
            if (root != skin.joints.end())
                skeleton->setRootJoint(static_cast<int>(root - skin.joints.begin()));
            else
                _warnings.loss("skeleton roots that are not joints of their skin dropped");
        }
        database->appendSkeleton(skeleton);
    }
    return true;
}

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

bool kaGltfImporter::run(kaSmartPointer<kaInfoList>& infos)
{
    for (const std::string& extension : _model.extensionsRequired)
        if (!kaIsSupportedGltfExtension(extension))
            return fail("the file requires the extension " + extension + ", which is not supported");
    if (!checkNodes() || !buildNodes()) return false;

    const int sceneIndex = _model.defaultScene >= 0 && size_t(_model.defaultScene) < _model.scenes.size() ? _model.defaultScene
                           : _model.scenes.empty()                                                    ? -1
                                                                                                      : 0;
    auto root = make<kaGroup>(sceneIndex >= 0 ? _model.scenes[sceneIndex].name : "");
    if (sceneIndex >= 0) kaKeepUnread(root.get(), _model.scenes[sceneIndex]);
    if (sceneIndex >= 0) {
        for (int node : _model.scenes[sceneIndex].nodes) {
            if (node < 0 || size_t(node) >= _nodes.size())
                return fail("scene " + std::to_string(sceneIndex) + " has node " + std::to_string(node) +
                            ", which does not exist");
            root->appendChild(_nodes[node]);
        }
    } else {
        // A file without scenes still shows its node trees.
        for (size_t i = 0; i < _nodes.size(); ++i)
            if (_parents[i] == -1) root->appendChild(_nodes[i]);
    }
    // Meshes, materials and images used by no node are still read, so that a damaged one is
    // refused whether or not it is placed.
    for (size_t m = 0; m < _model.meshes.size(); ++m)
        if (_meshNodes.lower_bound({int(m), INT32_MIN}) == _meshNodes.upper_bound({int(m), INT32_MAX}) &&
            !meshNode(static_cast<int>(m), -1, ""))
            return false;
    if (!_error.empty()) return false;

    const std::string stem = fileStem(_file);
    auto scene = make<kaSceneInfo>(stem);
    scene->setSceneGraph(root);
    // The scene info stands for the file: the asset's extras, the file's own extensions and the
    // extensions it requires.
    if (!_model.asset.extras_json_string.empty()) scene->setExtras(_model.asset.extras_json_string.c_str());
    if (!_model.asset.extensions_json_string.empty()) _warnings.loss("extensions of the asset dropped");
    const std::string extensions = kaUnreadGltfExtensions(_model.extensions_json_string, {kaGltfLightsExtension});
    scene->setExtensions(extensions.empty() ? nullptr : extensions.c_str());
    std::string required;
    for (const std::string& extension : _model.extensionsRequired) required += (required.empty() ? "" : " ") + extension;
    if (!required.empty()) scene->setRequiredExtensions(required.c_str());
    if (!_model.asset.copyright.empty()) scene->setCopyright(_model.asset.copyright.c_str());
    if (_model.scenes.size() > 1) _warnings.loss("scenes other than the default dropped");
    const auto hasUnread = [](const auto& objects) {
        return std::any_of(objects.begin(), objects.end(), [](const auto& o) {
            return !o.extras_json_string.empty() || !o.extensions_json_string.empty();
        });
    };
    // Buffers are laid out anew on export: what their parts carried has no place to go.
    if (hasUnread(_model.accessors) || hasUnread(_model.bufferViews) || hasUnread(_model.buffers))
        _warnings.loss("extras and extensions of accessors, buffer views and buffers dropped");
    if (!_model.extras_json_string.empty() && _model.extras_json_string != "null")
        _warnings.loss("extras of the file's top level dropped");
    auto list = make<kaInfoList>();
    list->append(scene);
    if (!_model.skins.empty() || !_model.animations.empty()) {
        auto database = make<kaAnimationDatabase>(stem);
        if (!buildSkeletons(database) || !buildAnimations(database)) return false;
        if (database->getSkeletonList()->getCount() > 0 || database->getAnimationList()->getCount() > 0)
            list->append(database);
    }
    infos = list;
    return true;
}

bool importModel(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                 kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    kaRegisterSceneModel();
    if (size > kaMaxGltfFileBytes) {
        error = name + ": the file is too large";
        return false;
    }
    tinygltf::TinyGLTF loader;
    loader.SetStoreOriginalJSONForExtrasAndExtensions(true);
    kaFileAccess access{!folder.empty(), name, folder, ""};
    loader.SetFsCallbacks({&fileExists, &expandFilePath, &readWholeFile, &refuseWrite, &access});
    kaCapturedImages captured;
    loader.SetImageLoader(&captureImage, &captured);
    tinygltf::Model model;
    std::string parseError, parseWarning;
    bool parsed = false;
    try {
        const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
        parsed = binary ? loader.LoadBinaryFromMemory(&model, &parseError, &parseWarning, data,
                                                      static_cast<unsigned int>(size), folder)
                        : loader.LoadASCIIFromString(&model, &parseError, &parseWarning,
                                                     reinterpret_cast<const char*>(data),
                                                     static_cast<unsigned int>(size), folder);
    } catch (const std::exception& exception) {
        parseError = exception.what();
        parsed = false;
    }
    if (!access.refused.empty()) {
        error = access.refused;
        return false;
    }
    if (!parsed) {
        error = name + ": " + (parseError.empty() ? std::string("not a glTF file") : oneLine(parseError));
        return false;
    }
    kaGltfImporter importer(model, name, captured);
    if (!importer.run(infos)) {
        error = importer.getError();
        return false;
    }
    importer.printWarnings();
    return true;
}

} // namespace

bool kaImportGltf(const std::string& path, kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    std::vector<unsigned char> bytes;
    std::string reason;
    kaFileAccess access{true, path, "", ""};
    if (!readWholeFile(&bytes, &reason, path, &access)) {
        error = path + ": " + reason;
        return false;
    }
    const std::string folder = kaFolderOf(path);
    return importModel(bytes.data(), bytes.size(), path, folder.empty() ? "." : folder, infos, error);
}

bool kaImportGltfFromMemory(const uint8_t* data, size_t size, const std::string& name, const std::string& folder,
                            kaSmartPointer<kaInfoList>& infos, std::string& error)
{
    return importModel(data, size, name, folder, infos, error);
}

} // namespace Lode::Io
