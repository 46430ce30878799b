// glTF import of geometry: meshes, their primitives, vertex data and morph targets, and the
// skins that become matrix palettes and skeletons.
#include "host/io/kaGltfImporter.h"

#include "host/io/kaGltfExtensions.h"
#include "host/io/kaGltfSkinPalettes.h"
#include "host/io/kaGltfVertexData.h"
#include "host/io/kaSceneCounts.h"
#include "host/sg/kaJoint.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace Lode::Io {

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
        // The material first, so that its images decode while the vertices are read (a
        // primitive without positions is dropped, material and all).
        if (primitive.attributes.count("POSITION")) materialAttrs(primitive);
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
    // The positions' count sizes the vertex array; every attribute is then read straight into it.
    kaAccessorView positions;
    if (!locateAccessor(positionAccessor, what + " POSITION", {TINYGLTF_TYPE_VEC3}, positions)) return false;
    const size_t vertexCount = positions.count;
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
    // Counting needs how many vertices and indices there are, not what they hold.
    const bool countOnly = _countsOnly && !skinJoints;
    if (countOnly) {
        vertices->setup(kaVertexFormat(), static_cast<int>(vertexCount), 0, 0);
        vertices->closeSetup();
    } else if (!readVertices(primitive, what, format, vertexCount, jointCount, vertices, skinJoints)) {
        return false;
    }

    // Indices: a line loop is drawn as a strip that returns to its first vertex.
    kaSmartPointer<kaIndexArray> indexArray;
    int drawn = static_cast<int>(vertexCount);
    if (primitive.indices >= 0) {
        if (!readIndices(primitive.indices, what, primitive.mode == kaGltfModeLineLoop, vertexCount,
                         countOnly ? nullptr : &indexArray, drawn))
            return false;
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

// The vertex array's data, attribute by attribute straight from the file into the array set up
// in format.
bool kaGltfImporter::readVertices(const tinygltf::Primitive& primitive, const std::string& what, kaVertexFormat format,
                                  size_t vertexCount, int jointCount, kaVertexArray* vertices,
                                  std::vector<uint32_t>* skinJoints)
{
    const auto attribute = [&](const std::string& name) {
        const auto found = primitive.attributes.find(name);
        return found == primitive.attributes.end() ? -1 : found->second;
    };
    const int positionAccessor = attribute("POSITION");
    const int texCoordSets = format.getTextureCoordSetCount();
    const int blendSets = format.getBlendWeightCount() / 4;
    vertices->setup(format, static_cast<int>(vertexCount), 0, 0);
    if (!readVertexFloats(positionAccessor, what, "POSITION", TINYGLTF_TYPE_VEC3, vertexCount, vertices->positionData(),
                          3))
        return false;

    if (format.hasNormals() && !readVertexFloats(attribute("NORMAL"), what, "NORMAL", TINYGLTF_TYPE_VEC3, vertexCount,
                                                 vertices->normalData(), 3))
        return false;
    int components = 0;
    if (format.hasColors()) {
        std::vector<float> values;
        if (!readFloats(attribute("COLOR_0"), what + " COLOR_0", {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4}, values,
                        components))
            return false;
        if (values.size() / components != vertexCount)
            return fail(what + " has " + std::to_string(values.size() / components) + " COLOR_0 values for " +
                        std::to_string(vertexCount) + " vertices");
        float* colors = vertices->colorData();
        for (size_t v = 0; v < vertexCount; ++v)
            for (int c = 0; c < 4; ++c) colors[v * 4 + c] = c < components ? values[v * components + c] : 1.0f;
    }
    for (int set = 0; set < texCoordSets; ++set) {
        const std::string name = "TEXCOORD_" + std::to_string(set);
        if (!readVertexFloats(attribute(name), what, name, TINYGLTF_TYPE_VEC2, vertexCount, vertices->texCoordData(set),
                              2))
            return false;
    }
    const size_t slots = 4 * size_t(blendSets);
    if (skinJoints) skinJoints->assign(vertexCount * slots, 0);
    float* weights = vertices->blendWeightData();
    uint8_t* indices = vertices->blendIndexData();
    const uint32_t limit = jointCount < 0 ? 256u : static_cast<uint32_t>(jointCount);
    for (int set = 0; set < blendSets; ++set) {
        const std::string weightsName = "WEIGHTS_" + std::to_string(set);
        const std::string jointsName = "JOINTS_" + std::to_string(set);
        if (!readVertexFloats(attribute(weightsName), what, weightsName, TINYGLTF_TYPE_VEC4, vertexCount,
                              weights + set * 4, slots))
            return false;
        // Joints stored as bytes go straight into the blend indices; others, a palette split's
        // and bytes that name a joint the skin does not have, are read at full width and
        // checked in order.
        const int jointsAccessor = attribute(jointsName);
        bool direct = false;
        if (!skinJoints && !readByteJoints(jointsAccessor, what + " " + jointsName, vertexCount, limit,
                                           indices + set * 4, slots, direct))
            return false;
        if (direct) continue;
        std::vector<uint32_t> joints;
        if (!readUnsigneds(jointsAccessor, what + " " + jointsName, {TINYGLTF_TYPE_VEC4}, joints, components))
            return false;
        if (joints.size() / 4 != vertexCount)
            return fail(what + " has " + std::to_string(joints.size() / 4) + " " + jointsName + " values for " +
                        std::to_string(vertexCount) + " vertices");
        for (size_t v = 0; v < vertexCount; ++v) {
            for (int k = 0; k < 4; ++k) {
                const uint32_t joint = joints[v * 4 + k];
                if (joint >= limit)
                    return fail(what + " " + jointsName + " has joint index " + std::to_string(joint) +
                                ", out of range for " + std::to_string(limit) + " joints");
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
    for (const auto& attribute : primitive.attributes) {
        // Named, not bound: the lambda below captures it.
        const std::string& name = attribute.first;
        const int accessor = attribute.second;
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

// ---- skins ----

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

} // namespace Lode::Io
