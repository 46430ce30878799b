// glTF export of geometry: meshes, their primitives, vertex attributes and morph targets, and
// the skins of their matrix palettes.
#include "host/io/kaGltfExporter.h"

#include "host/io/kaGltfVertexData.h"
#include "host/io/kaSceneCounts.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Lode::Io {

namespace {

// Whether the file the array came from stored the component as integers: a note without data
// of its own.
bool storedAsIntegers(const kaVertexArray* vertices, const std::string& name)
{
    const kaVertexStream* stored = vertices->findStream(name.c_str(), -1);
    return stored && stored->data().empty() && stored->getComponentType() != kaVertexStream::Float32;
}

} // namespace

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
    const kaIndexArray* indexArray = attr->getIndexArray();
    const int offset = attr->getOffset();
    const int available = indexArray ? indexArray->getCount() : vertexCount;
    const int drawn = std::min(wanted, std::max(available - offset, 0));
    if (drawn < wanted) _warnings.add("primitive counts beyond the indices or vertices there are cut");
    if (drawn == 0 || kaPrimitiveCountOf(draw, drawn) == 0) {
        _warnings.loss("geometry that draws no primitives dropped", kaCount::meshes);
        return false;
    }
    // The index array's own indices are written, or those made for a range of the vertices.
    const uint32_t* indices = nullptr;
    std::vector<uint32_t> made;
    if (indexArray) {
        indices = indexArray->data() + offset;
        for (int i = 0; i < drawn; ++i)
            if (indices[i] >= uint32_t(vertexCount)) {
                _warnings.loss("geometry with vertex indices out of range dropped", kaCount::meshes);
                return false;
            }
    } else if (offset != 0 || drawn != vertexCount) {
        for (int i = 0; i < drawn; ++i) made.push_back(static_cast<uint32_t>(offset + i));
        indices = made.data();
    }

    primitive.mode = kaGltfModeOfDraw(draw);
    primitive.attributes = vertexAccessors(source.vertices, source.format, skin, mesh);
    if (indices) {
        const size_t count = size_t(drawn);
        const uint32_t largest = *std::max_element(indices, indices + count);
        // 16-bit indices unless an index needs more; 65535 is the restart value glTF forbids.
        if (largest < 65535u) {
            primitive.indices = addData(keep(std::vector<uint16_t>(indices, indices + count)), count * 2,
                                        TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                        TINYGLTF_TYPE_SCALAR, count);
        } else {
            if (!made.empty()) indices = keep(std::move(made));
            primitive.indices = addData(indices, count * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR, count);
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
        // glTF normals are unit vectors: the vertex array's own are written, or a copy when one
        // is not.
        const float* normals = vertices->normalData();
        std::vector<float> changed;
        for (size_t v = 0; v < n; ++v) {
            kaVec3f normal(normals[v * 3], normals[v * 3 + 1], normals[v * 3 + 2]);
            if (std::abs(normal.length() - 1.0f) <= 5e-4f) continue;
            const float length = normal.normalize();
            if (changed.empty()) {
                changed.assign(normals, normals + n * 3);
                normals = changed.data();
            }
            if (length == 0.0f || !std::isfinite(length)) {
                normal.set(0.0f, 0.0f, 1.0f);
                _warnings.add("zero normals replaced by +z");
            } else {
                _warnings.add("normals of other than unit length rescaled");
            }
            changed[v * 3] = normal.x;
            changed[v * 3 + 1] = normal.y;
            changed[v * 3 + 2] = normal.z;
        }
        if (!changed.empty()) normals = keep(std::move(changed));
        accessors["NORMAL"] = vertexFloats(vertices, "NORMAL", normals, 3, false);
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
        accessors["COLOR_0"] = vertexFloats(vertices, "COLOR_0", keep(std::move(colors)), opaque ? 3 : 4, false);
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
    const int slotCount = sets * 4;
    // Most arrays hold what glTF asks already (a weight and a known joint in every slot, joint 0
    // where nothing weighs, sums of 1): their sets are written from the array itself, gathered
    // as the file is written. An array that needs a change is copied into sets from the first
    // vertex that does. Weights the file stored as integers are encoded from a set of their own.
    bool asHeld = weightCount == slotCount && indexCount == slotCount;
    for (int set = 0; asHeld && sets > 1 && set < sets; ++set)
        asHeld = !storedAsIntegers(vertices, "WEIGHTS_" + std::to_string(set));
    std::vector<std::vector<float>> setWeights;
    std::vector<std::vector<uint8_t>> setJoints;
    const auto makeSets = [&] {
        setWeights.assign(sets, std::vector<float>(n * 4));
        setJoints.assign(sets, std::vector<uint8_t>(n * 4));
    };
    if (!asHeld) makeSets();
    const auto putVertex = [&](size_t v, const float* vertexWeights, const uint8_t* vertexJoints) {
        for (int set = 0; set < sets; ++set) {
            std::copy_n(vertexWeights + set * 4, 4, &setWeights[set][v * 4]);
            std::copy_n(vertexJoints + set * 4, 4, &setJoints[set][v * 4]);
        }
    };
    // A vertex glTF takes as it is: finite weights that sum to 1, known joints, joint 0 where
    // nothing weighs. Checked first, since it is what most vertices are.
    const auto inGltfForm = [&](size_t v) {
        const float* vertexWeights = weights + v * slotCount;
        const uint8_t* vertexJoints = blendIndices + v * slotCount;
        // One verdict over all slots rather than a branch per slot: nearly every vertex passes.
        bool held = true;
        for (int slot = 0; slot < slotCount; ++slot)
            held &= std::isfinite(vertexWeights[slot]) & (vertexJoints[slot] < jointCount) &
                    ((vertexWeights[slot] != 0.0f) | (vertexJoints[slot] == 0));
        return held && kaGltfWeightsSumToOne(vertexWeights, slotCount);
    };
    size_t renormalised = 0;
    for (size_t v = 0; v < n; ++v) {
        if (asHeld && inGltfForm(v)) continue;
        // Four slots a set, for as many as the format counts of either.
        constexpr int maxSlots =
            (std::max(kaVertexFormat::MaxBlendWeightCount, kaVertexFormat::MaxBlendIndexCount) + 3) / 4 * 4;
        float vertexWeights[maxSlots];
        uint8_t vertexJoints[maxSlots];
        bool finite = true;
        for (int slot = 0; slot < slotCount; ++slot) {
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
            finite = finite && std::isfinite(weight);
            vertexWeights[slot] = weight;
            vertexJoints[slot] = static_cast<uint8_t>(joint);
        }
        renormalised += kaNormaliseGltfWeights(vertexWeights, 1, slotCount);
        if (asHeld) {
            asHeld = finite && std::memcmp(vertexWeights, weights + v * slotCount, slotCount * sizeof(float)) == 0 &&
                     std::memcmp(vertexJoints, blendIndices + v * slotCount, slotCount) == 0;
            if (asHeld) continue;
            makeSets();
            for (size_t held = 0; held < v; ++held)
                putVertex(held, weights + held * slotCount, blendIndices + held * slotCount);
        }
        putVertex(v, vertexWeights, vertexJoints);
    }
    if (renormalised > 0) _warnings.add("blend weights that do not sum to 1 renormalised in mesh \"" + mesh + "\"");
    for (int set = 0; set < sets; ++set) {
        const std::string name = "WEIGHTS_" + std::to_string(set);
        const std::string joints = "JOINTS_" + std::to_string(set);
        if (!asHeld) {
            accessors[name] = vertexFloats(vertices, name, keep(std::move(setWeights[set])), 4, false);
            accessors[joints] = addData(keep(std::move(setJoints[set])), n * 4, TINYGLTF_TARGET_ARRAY_BUFFER,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, n);
        } else if (sets == 1) {
            accessors[name] = vertexFloats(vertices, name, weights, 4, false);
            accessors[joints] = addData(blendIndices, n * 4, TINYGLTF_TARGET_ARRAY_BUFFER,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, n);
        } else {
            const ViewBytes setOfWeights{reinterpret_cast<const uint8_t*>(weights + set * 4), 4 * sizeof(float),
                                         slotCount * sizeof(float)};
            accessors[name] = addData(setOfWeights, n * 4 * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER,
                                      TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC4, n);
            accessors[joints] =
                addData(ViewBytes{blendIndices + set * 4, 4, size_t(slotCount)}, n * 4, TINYGLTF_TARGET_ARRAY_BUFFER,
                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, n);
        }
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
    if (storedAsIntegers(vertices, name)) {
        const kaVertexStream* stored = vertices->findStream(name.c_str(), -1);
        const int componentType = kaGltfComponentTypeOf(stored->getComponentType());
        const size_t size = size_t(kaVertexStream::getComponentSize(stored->getComponentType()));
        const size_t stride = vertexStride(size * components);
        std::vector<uint8_t> bytes;
        if (kaGltfEncodeExactly(values, n, components, componentType, stored->isNormalized(), stride, bytes)) {
            if (needsQuantization(name, componentType, stored->isNormalized(), false)) useQuantization();
            const size_t byteCount = bytes.size();
            const int accessor =
                addData(keep(std::move(bytes)), byteCount, TINYGLTF_TARGET_ARRAY_BUFFER, componentType,
                        gltfTypeOf(components), n, stored->isNormalized(), stride == size * components ? 0 : stride);
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
    // Elements padded to the stride are a copy; others are the stream's own bytes.
    const uint8_t* data = stream->data().data();
    if (stride != element) {
        std::vector<uint8_t> bytes(n * stride, 0);
        for (size_t e = 0; e < n; ++e) std::memcpy(bytes.data() + e * stride, data + e * element, element);
        data = keep(std::move(bytes));
    }
    return addData(data, n * stride, TINYGLTF_TARGET_ARRAY_BUFFER, componentType,
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
        const nlohmann::json extras = unreadExtras(skeleton);
        if (!extras.is_discarded())
            _unwritten.push_back({"/skins/" + std::to_string(_model.skins.size()), {{"extras", extras}}});
        _usedSkeletons.insert(skeleton);
    }
    skin.inverseBindMatrices = addFloats(keep(std::move(matrices)), skin.joints.size(), TINYGLTF_TYPE_MAT4, 0, false);
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

} // namespace Lode::Io
