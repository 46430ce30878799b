// The glTF importer's state, shared by the files that read each part of the document:
// kaGltfImport.cpp (parsing and the run), kaGltfImportAccessors.cpp (checked reads of buffer
// data), kaGltfImportScene.cpp (nodes, lights, cameras), kaGltfImportMeshes.cpp (meshes,
// skins), kaGltfImportMaterials.cpp (materials, textures, images) and
// kaGltfImportAnimations.cpp. Internal to host/io.
#pragma once

#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/io/kaGltf.h"
#include "host/io/kaGltfBuffers.h"
#include "host/io/kaGltfCommon.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaCamera.h"
#include "host/sg/kaMorph.h"
#include "host/utils/kaBackgroundWork.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace Lode::Io {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;

// The number of components of an accessor's element type; 0 for a type glTF does not define.
int componentCount(int type);
kaMatrix44f matrixOfColumns(const float* columns);

// tinygltf hands every image's bytes to a loader. Images given by URI are kept here and decoded
// later; images in buffer views are read later from the checked views, since tinygltf passes
// them on without checking the view against its buffer.
struct kaCapturedImages {
    std::map<int, std::vector<uint8_t>> bytes;
};

class kaGltfImporter {
public:
    // buffers holds the bytes of the model's buffers, in their order.
    kaGltfImporter(const tinygltf::Model& model, std::string file, const kaCapturedImages& captured,
                   const kaGltfBuffers& buffers, kaGltfImportData data)
        : _model(model), _file(std::move(file)), _captured(captured), _buffers(buffers),
          _countsOnly(data == kaGltfImportData::Counts), _warnings(_file),
          _maxZeroFilledCount(std::max<uint64_t>(uint64_t(1) << 16, buffers.totalBytes()))
    {}

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
    // Calls use(first, count, bytes) for the accessor's elements in runs that follow each other,
    // bytes holding elements first to first + count - 1 as stored, view.stride apart.
    template <class Use> bool readRuns(const kaAccessorView& view, const std::string& what, Use use);
    // The accessor's elements into out, element e from out + e * outStride on: its bytes copied
    // as stored when asStored, else each component through convert.
    template <class T, class Convert>
    bool copyElements(int index, const kaAccessorView& view, const std::string& what, bool asStored, T* out,
                      size_t outStride, Convert convert);
    // A vertex attribute of the given count straight into the vertex array's block.
    bool readVertexFloats(int index, const std::string& what, const std::string& name, int type, size_t vertexCount,
                          float* out, size_t outStride);
    bool readFloats(int index, const std::string& what, std::initializer_list<int> types, std::vector<float>& values,
                    int& components);
    // The elements as stored, tightly packed, for streams the engine carries without reading.
    bool readStream(int index, const std::string& what, const std::string& name, int target, size_t vertexCount,
                    kaVertexArray* vertices);
    bool readUnsigneds(int index, const std::string& what, std::initializer_list<int> types,
                       std::vector<uint32_t>& values, int& components);
    // Joints stored as bytes, each below limit, straight into the blend indices (direct true).
    // direct is false, nothing failed, when they are stored otherwise or one is out of range.
    bool readByteJoints(int index, const std::string& what, size_t vertexCount, uint32_t limit, uint8_t* out,
                        size_t outStride, bool& direct);
    // A primitive's indices straight into a new index array, each checked against the vertex
    // count; a line loop's first index is repeated at its end. drawn receives the array's
    // length; without array (counting) nothing else is read.
    bool readIndices(int index, const std::string& what, bool closeLoop, size_t vertexCount,
                     kaSmartPointer<kaIndexArray>* array, int& drawn);

    // ---- the objects ----
    bool checkNodes();
    bool buildNodes();
    kaNode* meshNode(int meshIndex, int skinIndex, const std::string& nodeName);
    bool splitIntoPalettes(const tinygltf::Primitive& primitive, const std::string& what, int skinIndex,
                           const kaGeometryAttr* whole, const std::vector<uint32_t>& skinJoints, kaGeometry* geometry);
    bool buildPrimitive(const tinygltf::Primitive& primitive, const std::string& what, int jointCount,
                        kaSmartPointer<kaGeometryAttr>& attr, kaSmartPointer<kaVertexArray>& vertices,
                        std::vector<uint32_t>* skinJoints);
    bool readVertices(const tinygltf::Primitive& primitive, const std::string& what, kaVertexFormat format,
                      size_t vertexCount, int jointCount, kaVertexArray* vertices, std::vector<uint32_t>* skinJoints);
    bool buildMorphBase(const tinygltf::Primitive& primitive, const std::string& what, kaVertexArray* vertices,
                        kaSmartPointer<kaMorphBase>& base);
    bool sparseDisplacements(int accessor, const std::string& what, int vertexCount,
                             kaSmartPointer<kaVec3fList>& displacements, kaSmartPointer<kaIntList>& indices);
    // The primitive's material and one texture attribute per slot in use, made the first time
    // (which starts their images decoding), found again after.
    std::vector<kaAttr*> materialAttrs(const tinygltf::Primitive& primitive);
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
    const kaGltfBuffers& _buffers;
    const bool _countsOnly;
    kaGltfWarnings _warnings;
    std::string _error;
    uint64_t _maxZeroFilledCount;
    uint64_t _bytesRead = 0; // of the buffers, for progress
    std::vector<uint8_t> _run; // readRuns' buffer

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
    // Images being decoded beside the run, and what went wrong with each ("" when nothing).
    // Declared last, so that it is the first to go: its destructor waits for the decodes, whose
    // images _images holds.
    std::deque<std::string> _decodeFailures;
    kaBackgroundWork _decodes;
};

} // namespace Lode::Io
