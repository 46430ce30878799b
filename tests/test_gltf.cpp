// glTF 2.0 import and export: small hand-made files for each part of the mapping, bad input,
// round trips of the sample models (in memory and through kaopt) that lose nothing, the Khronos
// validator on exported files, and kaopt's glTF conversions.
#include "kaGraphDifference.h"
#include "kaTestTools.h"

#include "host/attrs/kaLightAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaWalk.h"
#include "host/io/kaGltf.h"
#include "host/io/kaPngCodec.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaTransform.h"
#include "host/utils/kaProgress.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <set>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;
using namespace Lode::Io;
using kaTest::kaScratchDir;
using kaTest::sampleModels;
using Json = nlohmann::json;
using testing::AllOf;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

// The base64 coding of data URIs, from tinygltf, which the glTF import is built on.
namespace tinygltf {
std::string base64_encode(unsigned char const* bytes, unsigned int length);
std::string base64_decode(std::string const& text);
} // namespace tinygltf

namespace kaGltfTest {

using kaTest::kaSamples;
using kaTest::kaValidation;
using kaTest::validate;
using kaTest::validatorAvailable;

// A glTF file under construction: JSON plus one buffer that the accessors fill.
struct kaGltfFile {
    Json json = {{"asset", {{"version", "2.0"}}}};
    std::vector<uint8_t> bin;

    template <class T> int view(const std::vector<T>& values)
    {
        while (bin.size() % 4) bin.push_back(0);
        const size_t offset = bin.size();
        bin.resize(offset + values.size() * sizeof(T));
        std::memcpy(bin.data() + offset, values.data(), values.size() * sizeof(T));
        json["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", values.size() * sizeof(T)}});
        return int(json["bufferViews"].size()) - 1;
    }
    // stride: elements padded to that many bytes (vertex attributes start on four-byte boundaries).
    template <class T>
    int accessor(const std::vector<T>& values, const char* type, int components, bool normalized = false, size_t stride = 0)
    {
        const int componentType = std::is_same_v<T, float> ? 5126 : std::is_same_v<T, int8_t> ? 5120 : std::is_same_v<T, uint8_t> ? 5121
                                  : std::is_same_v<T, int16_t> ? 5122 : std::is_same_v<T, uint16_t> ? 5123 : 5125;
        Json accessor = {{"bufferView", view(values)}, {"componentType", componentType},
                         {"count", stride ? values.size() * sizeof(T) / stride : values.size() / components}, {"type", type}};
        if (stride) json["bufferViews"].back()["byteStride"] = stride;
        if (normalized) accessor["normalized"] = true;
        json["accessors"].push_back(accessor);
        return int(json["accessors"].size()) - 1;
    }
    int addImage(const std::vector<uint8_t>& png)
    {
        json["images"].push_back({{"bufferView", view(png)}, {"mimeType", "image/png"}});
        return int(json["images"].size()) - 1;
    }
    // The buffer goes in as a data URI, so that one file is the whole glTF.
    std::string text() const
    {
        Json whole = json;
        if (!bin.empty())
            whole["buffers"] = {{{"byteLength", bin.size()},
                                 {"uri", "data:application/octet-stream;base64," + tinygltf::base64_encode(bin.data(), unsigned(bin.size()))}}};
        return whole.dump();
    }
};

std::vector<uint8_t> pngOf(kaPngPixels::Layout layout, uint32_t width, uint32_t height, uint8_t seed)
{
    kaPngPixels pixels;
    pixels.layout = layout;
    pixels.width = width;
    pixels.height = height;
    pixels.bytesPerRow = width * kaPngChannelCount(layout);
    for (uint32_t i = 0; i < pixels.bytesPerRow * height; ++i) pixels.pixels.push_back(uint8_t(seed + i * 7));
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(kaWritePngToMemory(pixels, bytes, error)) << error;
    return bytes;
}

// A triangle (three vertices) mesh primitive with positions, and its accessor.
int triangle(kaGltfFile& file)
{
    return file.accessor<float>({0, 0, 0, 1, 0, 0, 0, 1, 0}, "VEC3", 3);
}

// Writes the file (as name) to a scratch folder and imports it.
kaSmartPointer<kaInfoList> importFile(const kaGltfFile& file, const std::string& name = "test.gltf")
{
    kaScratchDir scratch;
    kaTest::writeText(scratch / name, file.text());
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    EXPECT_TRUE(kaImportGltf((scratch / name).string(), infos, error)) << error;
    return infos;
}

kaGroup* rootOf(kaInfoList* infos)
{
    return kaGroup::dynamicCast(kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph());
}

kaAnimationDatabase* databaseOf(kaInfoList* infos)
{
    return infos->getCount() > 1 ? kaAnimationDatabase::dynamicCast(infos->getShared(1)) : nullptr;
}

// Every geometry attribute of the scene, in the order the scene holds them.
std::vector<kaGeometryAttr*> drawnOf(kaInfoList* infos)
{
    std::vector<kaGeometryAttr*> drawn;
    for (kaObject* object : kaCollectReachable({infos}))
        if (auto* attr = kaGeometryAttr::dynamicCast(object)) drawn.push_back(attr);
    return drawn;
}

// A node tree in one line, "class name[attribute classes](children)", so that one check covers
// the classes, names and order of everything an import built.
std::string treeOf(kaNode* node)
{
    std::string text = std::string(node->getMetaObject()->getName()) + " " + (node->getName() ? node->getName() : "");
    if (auto* set = kaAttrSet::dynamicCast(node)) {
        text += "[";
        for (int a = 0; a < set->getAttrCount(); ++a) text += std::string(a ? " " : "") + set->getAttr(a)->getMetaObject()->getName();
        text += "]";
    }
    if (auto* group = kaGroup::dynamicCast(node); group && group->getChildCount()) {
        text += "(";
        for (int c = 0; c < group->getChildCount(); ++c) text += (c ? ", " : "") + treeOf(group->getChild(c));
        text += ")";
    }
    return text;
}

// ---- comparing scenes ----

// What glTF does not tell apart: the joint of a slot without weight (written as 0), a
// rotation's length (keys are unit quaternions), weights that do not sum to 1 (written so that
// they do), and an image's name where a .gltf file writes the image to a file of its own and
// names it so. A scene is brought to that form before it is compared with one read back.
void toGltfForm(kaInfoList* infos)
{
    static const auto* rotations = static_cast<const kaTDataBlockMetaField<float>*>(
        kaAnimationBinding::getClassMetaSafe()->findMetaField("_rotationValues"));
    for (kaObject* object : kaCollectReachable({infos})) {
        if (kaVertexArray* vertices = kaVertexArray::dynamicCast(object)) {
            const size_t slots = size_t(vertices->getVertexCount()) * vertices->getBlendWeightCount();
            for (size_t k = 0; k < slots; ++k)
                if (vertices->blendWeightData()[k] == 0.0f) vertices->blendIndexData()[k] = 0;
            const int perVertex = vertices->getBlendWeightCount();
            for (size_t at = 0; perVertex > 0 && at < slots; at += perVertex) {
                float* weights = vertices->blendWeightData() + at;
                const float sum = std::accumulate(weights, weights + perVertex, 0.0f);
                if (sum > 0.0f) std::transform(weights, weights + perVertex, weights, [sum](float w) { return w / sum; });
            }
        } else if (kaImage* image = kaImage::dynamicCast(object)) {
            image->setName(nullptr);
        } else if (kaAnimationBinding* binding = kaAnimationBinding::dynamicCast(object)) {
            kaBlock<float>& values = rotations->get(binding);
            for (size_t q = 0; q + 4 <= values.size(); q += 4) {
                const float length = std::hypot(std::hypot(values[q], values[q + 1]), std::hypot(values[q + 2], values[q + 3]));
                for (size_t k = q; k < q + 4; ++k) values[k] /= length;
            }
        }
    }
}

void expectSameScene(kaInfoList* expected, kaInfoList* actual, const std::string& what)
{
    toGltfForm(expected);
    toGltfForm(actual);
    EXPECT_EQ(kaTest::graphDifference(expected, actual, 1e-4f), "") << what;
}

// ---- import: the mapping, one part at a time ----

TEST(GltfImport, NodesBecomeGroupsTransformsAndSharedGeometryInFileOrder)
{
    kaGltfFile file;
    const int positions = triangle(file);
    file.json["meshes"] = {{{"primitives", {{{"attributes", {{"POSITION", positions}}}}}}},
                           {{"name", "leaf"}, {"primitives", {{{"attributes", {{"POSITION", positions}}}}}}}};
    file.json["nodes"] = {
        {{"name", "root"}, {"children", {2, 1}}},
        {{"name", "moved"}, {"translation", {1, 2, 3}}, {"mesh", 1}},
        {{"name", "matrix"}, {"matrix", {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1}}, {"mesh", 0}, {"children", {3}}},
        {{"name", "again"}, {"mesh", 1}},
        {{"name", "other scene"}}};
    file.json["scenes"] = {{{"name", "first"}, {"nodes", {4}}}, {{"name", "main"}, {"nodes", {0}}}};
    file.json["scene"] = 1;
    auto infos = importFile(file, "nodes.gltf");
    ASSERT_TRUE(infos);
    ASSERT_EQ(infos->getCount(), 1) << "no skins, no animations: no animation database";
    EXPECT_STREQ(infos->getShared(0)->getName(), "nodes");
    // The default scene, not the first; without a transform a plain group; the mesh before the
    // children; a mesh without a name takes the node's, and a mesh used twice is one node.
    ASSERT_EQ(treeOf(rootOf(infos)), "kaGroup main(kaGroup root(kaTransform matrix(kaGeometry matrix[kaGeometryAttr1_5], kaGroup "
                                     "again(kaGeometry leaf[kaGeometryAttr1_5])), kaTransform moved(kaGeometry leaf[kaGeometryAttr1_5])))");
    auto* root = kaGroup::dynamicCast(rootOf(infos)->getChild(0));
    auto* matrix = kaTransform::dynamicCast(root->getChild(0));
    auto* moved = kaTransform::dynamicCast(root->getChild(1));
    EXPECT_EQ(moved->getMatrix().m[3][1], 2.0f);
    // glTF's column-major matrix is the engine's row-vector matrix value for value.
    EXPECT_EQ(matrix->getMatrix().m[0][0], 2.0f);
    EXPECT_EQ(matrix->getMatrix().m[3][0], 5.0f);
    EXPECT_EQ(kaGroup::dynamicCast(matrix->getChild(1))->getChild(0), moved->getChild(0));
}

TEST(GltfImport, PrimitivesCarryTheirVertexFormatMaterialAndTexture)
{
    kaGltfFile file;
    const int positions = file.accessor<float>({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, "VEC3", 3);
    const int normals = file.accessor<float>({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3", 3);
    const int colors = file.accessor<uint8_t>({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}, "VEC3", 3, true);
    const int uv0 = file.accessor<float>({0, 0, 1, 0, 0, 1, 1, 1}, "VEC2", 2);
    const int uv1 = file.accessor<float>({0.5f, 0.5f, 1, 0.5f, 0.5f, 1, 1, 1}, "VEC2", 2);
    const int joints0 = file.accessor<uint16_t>({0, 1, 2, 3, 1, 0, 0, 0, 2, 0, 0, 0, 3, 2, 0, 0}, "VEC4", 4);
    const int weights0 = file.accessor<uint8_t>({255, 0, 0, 0, 128, 127, 0, 0, 255, 0, 0, 0, 51, 204, 0, 0}, "VEC4", 4, true);
    const int joints1 = file.accessor<uint8_t>(std::vector<uint8_t>(16, 3), "VEC4", 4);
    const int weights1 = file.accessor<float>(std::vector<float>(16, 0.0f), "VEC4", 4);
    const int indices = file.accessor<uint16_t>({0, 1, 2, 2, 1, 3}, "SCALAR", 1);
    file.json["images"] = Json::array();
    const int rgb = file.addImage(pngOf(kaPngPixels::Layout::RGB8, 3, 2, 1));
    file.json["images"][rgb]["name"] = "bricks";
    file.json["samplers"] = {{{"minFilter", 9987}, {"magFilter", 9728}}};
    file.json["textures"] = {{{"name", "wall"}, {"source", rgb}, {"sampler", 0}}};
    file.json["materials"] = {{{"name", "painted"},
                               {"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.25, 1, 0.75}}, {"baseColorTexture", {{"index", 0}}}}},
                               {"emissiveFactor", {0.1, 0.2, 0.3}},
                               {"extensions", {{"KHR_materials_specular", {{"specularColorFactor", {0.9, 0.8, 0.7}}, {"specularFactor", 0.5}}}}}}};
    Json full = {{"attributes", {{"POSITION", positions}, {"NORMAL", normals}, {"COLOR_0", colors}, {"TEXCOORD_0", uv0},
                                 {"TEXCOORD_1", uv1}, {"JOINTS_0", joints0}, {"WEIGHTS_0", weights0},
                                 {"JOINTS_1", joints1}, {"WEIGHTS_1", weights1}}},
                 {"indices", indices}, {"material", 0}};
    Json plain = {{"attributes", {{"POSITION", positions}}}, {"mode", 0}};
    file.json["meshes"] = {{{"name", "both"}, {"primitives", {full, plain}}}, {{"name", "same material"}, {"primitives", {full}}}};
    file.json["nodes"] = {{{"mesh", 0}}, {{"mesh", 1}}};
    file.json["scenes"] = {{{"nodes", {0, 1}}}};
    auto infos = importFile(file);
    ASSERT_TRUE(infos);

    // Material, texture, geometry; the plain primitive only its geometry.
    ASSERT_EQ(treeOf(rootOf(infos)), "kaGroup (kaGroup (kaGeometry both[kaMaterialAttr kaTextureAttr kaGeometryAttr1_5 kaGeometryAttr1_5]), "
                                     "kaGroup (kaGeometry same material[kaMaterialAttr kaTextureAttr kaGeometryAttr1_5]))");
    auto* both = kaGeometry::dynamicCast(kaGroup::dynamicCast(rootOf(infos)->getChild(0))->getChild(0));
    auto* material = kaMaterialAttr::dynamicCast(both->getAttr(0));
    auto* texture = kaTextureAttr::dynamicCast(both->getAttr(1));
    auto* geometry = kaGeometryAttr::dynamicCast(both->getAttr(2));
    auto* points = kaGeometryAttr::dynamicCast(both->getAttr(3));

    EXPECT_STREQ(material->getName(), "painted");
    EXPECT_EQ(material->getDiffuse(), kaVec4f(0.5f, 0.25f, 1, 0.75f));
    EXPECT_EQ(material->getEmission(), kaVec4f(0.1f, 0.2f, 0.3f, 1));
    EXPECT_EQ(material->getSpecular(), kaVec4f(0.9f, 0.8f, 0.7f, 0.5f));
    EXPECT_STREQ(texture->getName(), "wall");
    EXPECT_EQ(texture->getMipMapMode(), KA_GFX_TEXTURE_MODE_MIPMAP) << "a mipmap minification filter tags the texture";
    EXPECT_EQ(texture->getMinFilter(), KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(texture->getMagFilter(), KA_GFX_TEXTURE_FILTER_NEAREST);
    const kaImage* image = texture->getImage(0);
    EXPECT_STREQ(image->getName(), "bricks");
    EXPECT_EQ(image->getFormat(), KA_GFX_TEXTURE_FORMAT_RGB_8);
    EXPECT_EQ(image->getWidth(), 3);
    EXPECT_EQ(image->pixelData()[5], uint8_t(1 + 5 * 7));

    const kaVertexArray* vertices = geometry->getVertexArray();
    EXPECT_EQ(vertices->getVertexFormat().toText(), "P N C B=8 I=8 T=2");
    EXPECT_EQ(vertices->getVertexCount(), 4);
    float color[4];
    vertices->getColor(1, color);
    EXPECT_EQ(color[1], 1.0f);
    EXPECT_EQ(color[3], 1.0f) << "RGB colours are opaque";
    kaVec2f uv;
    vertices->getTexCoord(1, 1, uv);
    EXPECT_EQ(uv, kaVec2f(1, 0.5f));
    // Normalised byte weights become floats; the second pair fills slots 4 to 7.
    EXPECT_NEAR(vertices->getBlendWeight(1, 0), 128 / 255.0f, 1e-6f);
    EXPECT_NEAR(vertices->getBlendWeight(3, 1), 0.8f, 1e-6f);
    EXPECT_EQ(vertices->getBlendIndex(3, 0), 3);
    EXPECT_EQ(vertices->getBlendIndex(0, 3), 3);
    EXPECT_EQ(vertices->getBlendIndex(2, 5), 3);
    EXPECT_EQ(vertices->getBlendWeight(2, 5), 0.0f);
    EXPECT_EQ(geometry->getPrimitiveType(), KA_GFX_DRAW_TRIANGLES);
    EXPECT_EQ(geometry->getPrimitiveCount(), 2);
    EXPECT_EQ(geometry->getIndexArray()->getIndex(5), 3u);
    EXPECT_EQ(points->getPrimitiveType(), KA_GFX_DRAW_POINTS);
    EXPECT_EQ(points->getPrimitiveCount(), 4);
    EXPECT_EQ(points->getIndexArray(), nullptr) << "unindexed vertices are drawn in order";

    kaGeometry* same = kaGeometry::dynamicCast(kaGroup::dynamicCast(rootOf(infos)->getChild(1))->getChild(0));
    EXPECT_EQ(same->getAttr(0), material) << "one attribute object per glTF material";
    EXPECT_EQ(same->getAttr(1), texture) << "and per texture";
}

TEST(GltfImport, ModesMapToPrimitiveKindsAndCounts)
{
    kaGltfFile file;
    const int positions = file.accessor<float>(std::vector<float>(15, 0.5f), "VEC3", 3);
    const int indices = file.accessor<uint8_t>({4, 3, 2, 1, 0, 1}, "SCALAR", 1);
    Json primitives = Json::array();
    for (int mode = 0; mode <= 6; ++mode) primitives.push_back({{"attributes", {{"POSITION", positions}}}, {"mode", mode}});
    primitives.push_back({{"attributes", {{"POSITION", positions}}}, {"mode", 2}, {"indices", indices}});
    file.json["meshes"] = {{{"primitives", primitives}}};
    file.json["nodes"] = {{{"mesh", 0}}};
    file.json["scenes"] = {{{"nodes", {0}}}};
    auto infos = importFile(file);
    ASSERT_TRUE(infos);
    const std::vector<kaGeometryAttr*> drawn = drawnOf(infos);
    ASSERT_EQ(drawn.size(), 8u);
    // Five vertices drawn as points, lines, line loop, line strip, triangles, strip, fan.
    const KA_GFX_DRAW kinds[] = {KA_GFX_DRAW_POINTS, KA_GFX_DRAW_LINES, KA_GFX_DRAW_LINE_STRIP, KA_GFX_DRAW_LINE_STRIP,
                                 KA_GFX_DRAW_TRIANGLES, KA_GFX_DRAW_TRIANGLE_STRIP, KA_GFX_DRAW_TRIANGLE_FAN};
    const int counts[] = {5, 2, 5, 4, 1, 3, 3};
    for (int mode = 0; mode <= 6; ++mode) {
        EXPECT_EQ(drawn[mode]->getPrimitiveType(), kinds[mode]) << "mode " << mode;
        EXPECT_EQ(drawn[mode]->getPrimitiveCount(), counts[mode]) << "mode " << mode;
    }
    // A line loop becomes a strip that returns to its first vertex.
    const kaIndexArray* loop = drawn[2]->getIndexArray();
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->getCount(), 6);
    EXPECT_EQ(loop->getIndex(5), 0u);
    const kaIndexArray* indexedLoop = drawn[7]->getIndexArray();
    EXPECT_EQ(indexedLoop->getCount(), 7);
    EXPECT_EQ(indexedLoop->getIndex(6), 4u);
    EXPECT_EQ(drawn[7]->getPrimitiveCount(), 6);
}

TEST(GltfImport, SkinsBecomeJointsPalettesAndSkeletons)
{
    kaGltfFile file;
    const int positions = triangle(file);
    const int joints = file.accessor<uint8_t>({0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "VEC4", 4);
    const int weights = file.accessor<float>({0.5f, 0.5f, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "VEC4", 4);
    // Inverse bind matrices: the joints sit at y = 1 and y = 3.
    const int inverseBinds = file.accessor<float>({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1,
                                                   1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -3, 0, 1}, "MAT4", 16);
    file.json["meshes"] = {{{"name", "body"}, {"primitives", {{{"attributes", {{"POSITION", positions}, {"JOINTS_0", joints},
                                                                                 {"WEIGHTS_0", weights}}}}}}}};
    file.json["nodes"] = {{{"name", "hip"}, {"translation", {0, 1, 0}}, {"children", {1}}},
                          {{"translation", {0, 2, 0}}},
                          {{"mesh", 0}, {"skin", 0}},
                          {{"mesh", 0}, {"skin", 1}}};
    file.json["skins"] = {{{"joints", {0, 1}}, {"inverseBindMatrices", inverseBinds}},
                          {{"name", "reversed"}, {"joints", {1, 0}}}};
    file.json["scenes"] = {{{"nodes", {0, 2, 3}}}};
    auto infos = importFile(file);
    ASSERT_TRUE(infos);

    // Joints are found by name, so an unnamed one gets its index; a mesh with two skins is two
    // geometry nodes, each with its palette before the geometry attributes.
    kaGroup* scene = rootOf(infos);
    ASSERT_EQ(treeOf(scene), "kaGroup (kaJoint hip(kaJoint node1), kaGroup (kaGeometry body[kaVertexBlendMatrixListAttr "
                             "kaGeometryAttr1_5]), kaGroup (kaGeometry body[kaVertexBlendMatrixListAttr kaGeometryAttr1_5]))");
    auto* hip = kaJoint::dynamicCast(scene->getChild(0));
    auto* unnamed = kaJoint::dynamicCast(hip->getChild(0));
    // In the bind pose the blending matrices are identities.
    EXPECT_EQ(hip->getBlendingMatrix()->getMatrix(), kaMatrix44f());
    EXPECT_EQ(unnamed->getBlendingMatrix()->getMatrix(), kaMatrix44f());

    auto* first = kaGeometry::dynamicCast(kaGroup::dynamicCast(scene->getChild(1))->getChild(0));
    auto* second = kaGeometry::dynamicCast(kaGroup::dynamicCast(scene->getChild(2))->getChild(0));
    auto* palette = kaVertexBlendMatrixListAttr::dynamicCast(first->getAttr(0));
    ASSERT_EQ(palette->getMatrixCount(), 2);
    EXPECT_EQ(palette->getMatrixPointer(0), hip->getBlendingMatrix());
    EXPECT_EQ(palette->getMatrixPointer(1), unnamed->getBlendingMatrix());
    EXPECT_EQ(kaVertexBlendMatrixListAttr::dynamicCast(second->getAttr(0))->getMatrixPointer(0),
              unnamed->getBlendingMatrix());

    kaAnimationDatabase* database = databaseOf(infos);
    ASSERT_TRUE(database);
    ASSERT_EQ(database->getSkeletonList()->getCount(), 2);
    const kaSkeleton* skeleton = database->getSkeleton("skeleton0");
    ASSERT_TRUE(skeleton);
    EXPECT_STREQ(skeleton->getJointName(1), "node1");
    kaVec3f translation;
    skeleton->getInverseJointMatrix(1)->getTranslation(translation);
    EXPECT_EQ(translation, kaVec3f(0, -3, 0));
    ASSERT_TRUE(database->getSkeleton("reversed"));
    EXPECT_EQ(*database->getSkeleton("reversed")->getInverseJointMatrix(0), kaMatrix44f()) << "no matrices: identities";
}

// A skin of 300 joints: vertex j at x = j moves with joint j alone, and triangle i draws
// vertices 3i to 3i+2, except that triangle 85 shares vertex 254 with triangle 84.
kaGltfFile wideSkin()
{
    kaGltfFile file;
    std::vector<float> positions;
    std::vector<uint16_t> joints;
    std::vector<float> weights;
    std::vector<uint16_t> indices;
    for (uint16_t j = 0; j < 300; ++j) {
        positions.insert(positions.end(), {float(j), 0, 0});
        joints.insert(joints.end(), {j, 0, 0, 0});
        weights.insert(weights.end(), {1, 0, 0, 0});
        indices.push_back(j == 255 ? 254 : j);
    }
    const Json attributes = {{"POSITION", file.accessor(positions, "VEC3", 3)}, {"JOINTS_0", file.accessor(joints, "VEC4", 4)},
                             {"WEIGHTS_0", file.accessor(weights, "VEC4", 4)}};
    file.json["meshes"] = {{{"name", "crowd"}, {"primitives", {{{"attributes", attributes}, {"indices", file.accessor(indices, "SCALAR", 1)}}}}}};
    file.json["nodes"] = {{{"mesh", 0}, {"skin", 0}}};
    file.json["skins"] = {{{"joints", Json::array()}}};
    for (int j = 0; j < 300; ++j) {
        file.json["nodes"].push_back({{"name", "j" + std::to_string(j)}});
        file.json["skins"][0]["joints"].push_back(j + 1);
    }
    file.json["scenes"] = {{{"nodes", Json::array()}}};
    for (int n = 0; n <= 300; ++n) file.json["scenes"][0]["nodes"].push_back(n);
    return file;
}

// 8-bit blend indices name 256 joints: a wider skin's geometry is split into parts of one
// palette each, every triangle whole with its influences, a shared vertex copied; and written
// back, every part is a valid skinned mesh. A morph target's vertices cannot be split.
TEST(GltfImport, WideSkinsAreSplitIntoPalettesOf256Joints)
{
    kaGltfFile file = wideSkin();
    kaScratchDir scratch;
    kaTest::writeText(scratch / "wide.gltf", file.text());
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(kaImportGltf((scratch / "wide.gltf").string(), infos, error)) << error;
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("split into palettes of 256 joints"));
    const auto* geometry = kaGeometry::dynamicCast(kaGroup::dynamicCast(rootOf(infos)->getChild(0))->getChild(0));
    ASSERT_TRUE(geometry);
    std::vector<int> partSizes;
    const kaVertexBlendMatrixListAttr* palette = nullptr;
    for (int a = 0; a < geometry->getAttrCount(); ++a) {
        if (auto* list = kaVertexBlendMatrixListAttr::dynamicCast(geometry->getAttr(a))) palette = list;
        const auto* attr = kaGeometryAttr::dynamicCast(geometry->getAttr(a));
        if (!attr) continue;
        ASSERT_TRUE(palette);
        EXPECT_LE(palette->getMatrixCount(), 256);
        const kaVertexArray* vertices = attr->getVertexArray();
        partSizes.push_back(attr->getPrimitiveCount());
        for (int i = 0; i < attr->getIndexArray()->getCount(); ++i) {
            const int v = int(attr->getIndexArray()->data()[i]);
            kaVec3f at;
            vertices->getPosition(v, at);
            // The vertex's one influence is still the joint of its place.
            const kaMatrixObject* matrix = palette->getMatrixPointer(vertices->getBlendIndex(v, 0));
            const kaNode* joint = nullptr;
            for (int n = 1; n <= 300 && !joint; ++n)
                if (const auto* candidate = kaJoint::dynamicCast(rootOf(infos)->getChild(n)); candidate && candidate->getBlendingMatrix() == matrix)
                    joint = candidate;
            ASSERT_TRUE(joint);
            EXPECT_EQ(std::string(joint->getName()), "j" + std::to_string(int(at.x)));
            EXPECT_EQ(vertices->getBlendWeight(v, 0), 1.0f);
        }
    }
    EXPECT_EQ(partSizes, (std::vector<int>{85, 15})) << "first fit: 85 triangles take 255 joints";

    testing::internal::CaptureStderr();
    ASSERT_TRUE(kaExportGltf((scratch / "out.glb").string(), infos, error)) << error;
    testing::internal::GetCapturedStderr();
    if (validatorAvailable()) {
        const kaValidation result = validate(scratch / "out.glb");
        EXPECT_EQ(result.errors, 0) << result.text;
    }

    file.json["meshes"][0]["primitives"][0]["targets"] = {{{"POSITION", file.json["meshes"][0]["primitives"][0]["attributes"]["POSITION"]}}};
    kaTest::writeText(scratch / "morphing.gltf", file.text());
    EXPECT_FALSE(kaImportGltf((scratch / "morphing.gltf").string(), infos, error));
    EXPECT_THAT(error, AllOf(HasSubstr("mesh 0 primitive 0"), HasSubstr("morph targets"), HasSubstr("palettes of 256 joints")));
}

TEST(GltfImport, MorphTargetsBecomeSparseFirstGenerationMorphs)
{
    kaGltfFile file;
    const int positions = file.accessor<float>({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}, "VEC3", 3);
    const int normals = file.accessor<float>({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3", 3);
    const int lift = file.accessor<float>({0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3}, "VEC3", 3);
    const int tilt = file.accessor<float>({0, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
    // A sparse target: two values over zeros, the way exporters write small changes.
    const int sparseIndices = file.view<uint16_t>({1, 2});
    const int sparseValues = file.view<float>({0, 0, -1, 0, 0, -2});
    file.json["accessors"].push_back({{"componentType", 5126}, {"count", 4}, {"type", "VEC3"},
                                      {"sparse", {{"count", 2}, {"indices", {{"bufferView", sparseIndices}, {"componentType", 5123}}},
                                                  {"values", {{"bufferView", sparseValues}}}}}});
    const int sparse = int(file.json["accessors"].size()) - 1;
    file.json["materials"] = {{{"name", "flesh"}}};
    file.json["meshes"] = {{{"name", "face"},
                            {"weights", {0.25, 0.5}},
                            {"primitives", {{{"attributes", {{"POSITION", positions}, {"NORMAL", normals}}},
                                             {"targets", {{{"POSITION", lift}, {"NORMAL", tilt}}, {{"POSITION", sparse}}}},
                                             {"material", 0}},
                                            {{"attributes", {{"POSITION", positions}}},
                                             {"targets", {{{"POSITION", lift}}, {{"POSITION", lift}}}}}}}}};
    file.json["nodes"] = {{{"mesh", 0}}};
    file.json["scenes"] = {{{"nodes", {0}}}};
    auto infos = importFile(file);
    ASSERT_TRUE(infos);

    // The material goes to an attribute set above the morph, which draws one geometry attribute;
    // a primitive without material is the morph itself.
    ASSERT_EQ(treeOf(rootOf(infos)), "kaGroup (kaGroup (kaGeometry face[](kaAttrSet [kaMaterialAttr](kaMorphInstance "
                                     "face[kaGeometryAttr1_5]), kaMorphInstance face[kaGeometryAttr1_5])))");
    auto* face = kaGeometry::dynamicCast(kaGroup::dynamicCast(rootOf(infos)->getChild(0))->getChild(0));
    auto* morph = kaMorphInstance::dynamicCast(kaGroup::dynamicCast(face->getChild(0))->getChild(0));
    kaMorphBase* base = morph->getBase();
    EXPECT_EQ(base->getVertexArray(), kaGeometryAttr::dynamicCast(morph->getAttr(0))->getVertexArray());
    ASSERT_EQ(base->getTargetCount(), 2);

    // Only the vertices that move are listed; the list closes with one more index.
    const kaIntList* liftIndices = base->getPositionIndexArray(0);
    EXPECT_EQ(std::vector<int>(liftIndices->data(), liftIndices->data() + liftIndices->getCount()), (std::vector<int>{1, 3, -1}));
    EXPECT_EQ(base->getPositionDisplacementVec(0)->get(1), kaVec3f(0, 0, 3));
    EXPECT_EQ(base->getNormalDisplacementVec(0)->getCount(), 1);
    EXPECT_EQ(base->getNormalIndexArray(0)->get(0), 0);
    EXPECT_EQ(base->getPositionDisplacementVec(1)->get(1), kaVec3f(0, 0, -2));
    EXPECT_EQ(base->getNormalDisplacementVec(1)->getCount(), 0) << "a target without normals moves none";

    auto* second = kaMorphInstance::dynamicCast(face->getChild(1));
    EXPECT_EQ(second->getMorphSequence(), morph->getMorphSequence()) << "one sequence per mesh";
    const kaFloatList* weights = morph->getMorphSequence()->getInitialWeights();
    ASSERT_EQ(weights->getCount(), 2);
    EXPECT_EQ(weights->get(1), 0.5f);
    EXPECT_EQ(second->getBase()->getNormalDisplacementVec(0), nullptr) << "no normals in the base, no normal lists";
}

TEST(GltfImport, LightsAndAnimations)
{
    kaGltfFile file;
    const int times = file.accessor<float>({0, 1}, "SCALAR", 1);
    const int moves = file.accessor<float>({0, 0, 0, 0, 5, 0}, "VEC3", 3);
    // A cubic spline stores in-tangent, value, out-tangent per key.
    const int turns = file.accessor<float>({9, 9, 9, 9, 0, 0, 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 0, 1, 0, 0, 9, 9, 9, 9}, "VEC4", 4);
    file.json["extensionsUsed"] = {"KHR_lights_punctual"};
    file.json["extensions"] = {{"KHR_lights_punctual",
                                {{"lights", {{{"name", "sun"}, {"type", "directional"}, {"color", {1, 0.5, 0.25}}, {"intensity", 2}},
                                             {{"type", "spot"}, {"spot", {{"outerConeAngle", 0.5}}}}}}}}};
    file.json["nodes"] = {{{"name", "lamp"}, {"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}, {"children", {1}}},
                          {{"extensions", {{"KHR_lights_punctual", {{"light", 1}}}}}}};
    file.json["animations"] = {{{"name", "swing"},
                                {"samplers", {{{"input", times}, {"output", moves}},
                                              {{"input", times}, {"output", turns}, {"interpolation", "CUBICSPLINE"}}}},
                                {"channels", {{{"sampler", 0}, {"target", {{"node", 0}, {"path", "translation"}}}},
                                              {{"sampler", 1}, {"target", {{"node", 0}, {"path", "rotation"}}}},
                                              {{"sampler", 1}, {"target", {{"node", 1}, {"path", "rotation"}}}}}}}};
    file.json["scenes"] = {{{"nodes", {0}}}};
    auto infos = importFile(file);
    ASSERT_TRUE(infos);

    // An animated node is a transform even without a transform of its own.
    ASSERT_EQ(treeOf(rootOf(infos)), "kaGroup (kaTransform lamp(kaLightSet , kaTransform node1(kaLightSet )))");
    auto* lamp = kaTransform::dynamicCast(rootOf(infos)->getChild(0));
    EXPECT_TRUE(lamp->isAnimated());
    auto* set = kaLightSet::dynamicCast(lamp->getChild(0));
    ASSERT_EQ(set->getLightCount(), 1);
    const kaLightAttr* sun = set->getLight(0);
    EXPECT_STREQ(sun->getName(), "sun");
    EXPECT_EQ(sun->getType(), KA_GFX_LIGHT_TYPE_DIRECTIONAL);
    EXPECT_EQ(sun->getColor(), kaVec4f(2, 1, 0.5f, 1)) << "the intensity scales the colour";
    EXPECT_EQ(sun->getDirection(), kaVec3f(0, 0, -1));
    EXPECT_EQ(kaLightSet::dynamicCast(kaGroup::dynamicCast(lamp->getChild(1))->getChild(0))->getLight(0)->getType(),
              KA_GFX_LIGHT_TYPE_SPOT);

    kaAnimationDatabase* database = databaseOf(infos);
    ASSERT_TRUE(database);
    ASSERT_EQ(database->getAnimationList()->getCount(), 1);
    const kaAnimation* swing = database->getAnimationList()->getShared(0);
    EXPECT_STREQ(swing->getName(), "swing");
    // One binding per animated node and interpolation.
    ASSERT_EQ(swing->getBindingCount(), 3);
    const kaAnimationBinding* binding = swing->getBinding(0);
    EXPECT_STREQ(binding->getName(), "lamp");
    EXPECT_EQ(binding->getInterpolation(), kaAnimationBinding::Linear);
    ASSERT_EQ(binding->getTranslationKeyCount(), 2);
    EXPECT_EQ(binding->getTranslation(1), kaVec3f(0, 5, 0));
    EXPECT_EQ(binding->getTranslationTime(1), 1.0f);
    EXPECT_EQ(binding->getRotationKeyCount() + binding->getScaleKeyCount(), 0);
    const kaAnimationBinding* spline = swing->getBinding(1);
    EXPECT_STREQ(spline->getName(), "lamp");
    EXPECT_EQ(spline->getInterpolation(), kaAnimationBinding::CubicSpline);
    ASSERT_EQ(spline->getRotationKeyCount(), 2);
    EXPECT_EQ(spline->getRotation(1).y, 1.0f) << "the spline's values";
    ASSERT_TRUE(spline->getRotationTangents(1));
    EXPECT_EQ(std::vector<float>(spline->getRotationTangents(1), spline->getRotationTangents(1) + 8), std::vector<float>(8, 9.0f))
        << "and its tangents";
    EXPECT_STREQ(swing->getBinding(2)->getName(), "node1");
}

// ---- buffers in files: the .glb's binary chunk and .bin files, read and written in place ----

// The file as a .glb, its buffer the binary chunk; claimed, when given, is the byte length the
// JSON gives the buffer.
std::vector<uint8_t> glbOf(const kaGltfFile& file, std::optional<size_t> claimed = {})
{
    std::vector<uint8_t> bin = file.bin;
    while (bin.size() % 4) bin.push_back(0);
    Json whole = file.json;
    whole["buffers"] = {{{"byteLength", claimed.value_or(bin.size())}}};
    std::string text = whole.dump();
    while (text.size() % 4) text += ' ';
    std::vector<uint8_t> glb;
    const auto word = [&glb](size_t value) {
        for (int shift = 0; shift < 32; shift += 8) glb.push_back(uint8_t(value >> shift));
    };
    for (size_t value : {size_t(0x46546c67), size_t(2), 20 + text.size() + (bin.empty() ? 0 : 8 + bin.size()),
                         text.size(), size_t(0x4e4f534a)})
        word(value);
    glb.insert(glb.end(), text.begin(), text.end());
    if (!bin.empty()) {
        word(bin.size());
        word(0x004e4942);
        glb.insert(glb.end(), bin.begin(), bin.end());
    }
    return glb;
}

// The file as a .gltf at path with its buffer, of which binBytes bytes are written, in a .bin
// beside it.
void writeWithBin(const kaGltfFile& file, const std::filesystem::path& path, size_t binBytes)
{
    Json whole = file.json;
    whole["buffers"] = {{{"byteLength", file.bin.size()}, {"uri", path.stem().string() + ".bin"}}};
    kaTest::writeText(path, whole.dump());
    kaTest::writeText(std::filesystem::path(path).replace_extension(".bin"),
                      std::string(file.bin.begin(), file.bin.begin() + std::min(binBytes, file.bin.size())));
}

std::vector<uint8_t> bytesOf(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Four skinned vertices whose positions and normals share a view (24-byte stride, normals at
// byte 12) after a view of two bytes, with two sets of byte joints and float weights, drawn by
// two primitives: every read lands at an offset of its own.
kaGltfFile interleavedFile()
{
    kaGltfFile file;
    file.view<uint8_t>({7, 7});
    const int shared = file.view<float>({0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1});
    file.json["bufferViews"][shared]["byteStride"] = 24;
    for (int offset : {0, 12})
        file.json["accessors"].push_back(
            {{"bufferView", shared}, {"byteOffset", offset}, {"componentType", 5126}, {"count", 4}, {"type", "VEC3"}});
    const Json attributes = {
        {"POSITION", 0},
        {"NORMAL", 1},
        {"JOINTS_0", file.accessor<uint8_t>({0, 1, 2, 3, 1, 2, 3, 0, 2, 3, 0, 1, 3, 0, 1, 2}, "VEC4", 4)},
        {"JOINTS_1", file.accessor<uint8_t>({3, 2, 1, 0, 2, 1, 0, 3, 1, 0, 3, 2, 0, 3, 2, 1}, "VEC4", 4)},
        {"WEIGHTS_0", file.accessor<float>(std::vector<float>(16, 0.1875f), "VEC4", 4)},
        {"WEIGHTS_1", file.accessor<float>(std::vector<float>(16, 0.0625f), "VEC4", 4)}};
    // Two primitives of the same vertices, with three 16-bit indices each: written, the second's
    // follow the first's after two bytes of padding.
    file.json["meshes"] = {
        {{"primitives",
          {{{"attributes", attributes}, {"indices", file.accessor<uint16_t>({0, 1, 2}, "SCALAR", 1)}},
           {{"attributes", attributes}, {"indices", file.accessor<uint16_t>({2, 1, 3}, "SCALAR", 1)}}}}}};
    file.json["nodes"] = {
        {{"mesh", 0}, {"skin", 0}}, {{"name", "a"}}, {{"name", "b"}}, {{"name", "c"}}, {{"name", "d"}}};
    file.json["skins"] = {{{"joints", {1, 2, 3, 4}}}};
    file.json["scenes"] = {{{"nodes", {0, 1, 2, 3, 4}}}};
    return file;
}

// What the reads of interleavedFile must give: positions, normals, weights, blend indices and
// each primitive's indices.
void expectInterleavedValues(kaInfoList* infos, const std::string& form)
{
    ASSERT_TRUE(infos) << form;
    const std::vector<kaGeometryAttr*> drawn = drawnOf(infos);
    ASSERT_EQ(drawn.size(), 2u) << form;
    std::vector<float> weights;
    for (int v = 0; v < 4; ++v)
        for (float weight : {0.1875f, 0.1875f, 0.1875f, 0.1875f, 0.0625f, 0.0625f, 0.0625f, 0.0625f})
            weights.push_back(weight);
    std::set<std::vector<uint32_t>> indexLists;
    for (const kaGeometryAttr* primitive : drawn) {
        const kaVertexArray* vertices = primitive->getVertexArray();
        ASSERT_EQ(vertices->getVertexCount(), 4) << form;
        ASSERT_EQ(vertices->getVertexFormat().getBlendIndexCount(), 8) << form;
        EXPECT_EQ(std::vector<float>(vertices->positionData(), vertices->positionData() + 12),
                  std::vector<float>({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}))
            << form;
        EXPECT_EQ(std::vector<float>(vertices->normalData(), vertices->normalData() + 12),
                  std::vector<float>({0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 1}))
            << form;
        EXPECT_EQ(std::vector<float>(vertices->blendWeightData(), vertices->blendWeightData() + 32), weights) << form;
        EXPECT_EQ(std::vector<int>(vertices->blendIndexData(), vertices->blendIndexData() + 32),
                  std::vector<int>(
                      {0, 1, 2, 3, 3, 2, 1, 0, 1, 2, 3, 0, 2, 1, 0, 3, 2, 3, 0, 1, 1, 0, 3, 2, 3, 0, 1, 2, 0, 3, 2, 1}))
            << form;
        const kaIndexArray* indices = primitive->getIndexArray();
        ASSERT_TRUE(indices) << form;
        indexLists.insert(std::vector<uint32_t>(indices->data(), indices->data() + indices->getCount()));
    }
    EXPECT_EQ(indexLists, (std::set<std::vector<uint32_t>>{{0, 1, 2}, {2, 1, 3}})) << form;
}

// The buffer a written file holds: the .glb's binary chunk (its container checked) or the .bin.
std::vector<uint8_t> writtenBuffer(const std::filesystem::path& path, Json& json)
{
    const std::vector<uint8_t> bytes = bytesOf(path);
    if (path.extension() == ".gltf") {
        json = Json::parse(bytes.begin(), bytes.end());
        return bytesOf(std::filesystem::path(path).replace_extension(".bin"));
    }
    const auto word = [&bytes](size_t at) {
        uint32_t value = 0;
        if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
        return size_t(value);
    };
    EXPECT_EQ(word(8), bytes.size()) << "the header's length is the file's";
    const size_t jsonLength = word(12);
    json = Json::parse(bytes.begin() + 20, bytes.begin() + 20 + std::min(jsonLength, bytes.size() - 20));
    const size_t binAt = 20 + jsonLength + 8;
    EXPECT_EQ(binAt + word(20 + jsonLength), bytes.size()) << "the binary chunk ends the file";
    EXPECT_EQ(word(20 + jsonLength + 4), 0x004e4942u);
    return std::vector<uint8_t>(bytes.begin() + std::min(binAt, bytes.size()), bytes.end());
}

TEST(GltfFiles, BuffersInFilesAreReadAndWrittenAtTheirOffsets)
{
    const kaGltfFile file = interleavedFile();
    kaScratchDir scratch;
    const std::vector<uint8_t> glb = glbOf(file);
    kaTest::writeText(scratch / "in.glb", std::string(glb.begin(), glb.end()));
    writeWithBin(file, scratch / "in.gltf", SIZE_MAX);
    const auto fromDisk = [&](const std::string& name) {
        return [&scratch, name](kaSmartPointer<kaInfoList>& infos, std::string& error) {
            return kaImportGltf((scratch / name).string(), infos, error);
        };
    };
    const struct {
        const char* form;
        std::function<bool(kaSmartPointer<kaInfoList>&, std::string&)> read;
    } inputs[] = {
        {".glb", fromDisk("in.glb")},
        {".gltf and .bin", fromDisk("in.gltf")},
        {".glb in memory",
         [&](kaSmartPointer<kaInfoList>& infos, std::string& error) {
             return kaImportGltfFromMemory(glb.data(), glb.size(), "memory.glb", "", infos, error);
         }},
    };
    for (const auto& input : inputs) {
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        ASSERT_TRUE(input.read(infos, error)) << input.form << ": " << error;
        expectInterleavedValues(infos, input.form);
        // Written back, each view stands at its offset with zeros between, and reads the same.
        for (const char* name : {"out.glb", "out.gltf"}) {
            const std::string form = std::string(input.form) + " to " + name;
            ASSERT_TRUE(kaExportGltf((scratch / name).string(), infos, error)) << form << ": " << error;
            Json json;
            const std::vector<uint8_t> buffer = writtenBuffer(scratch / name, json);
            ASSERT_EQ(json["buffers"][0]["byteLength"].get<size_t>(), buffer.size()) << form;
            std::vector<bool> covered(buffer.size(), false);
            for (const Json& view : json["bufferViews"]) {
                const size_t offset = view.value("byteOffset", size_t(0)), length = view["byteLength"].get<size_t>();
                ASSERT_LE(offset + length, buffer.size()) << form;
                EXPECT_EQ(offset % 4, 0u) << form;
                std::fill(covered.begin() + offset, covered.begin() + offset + length, true);
            }
            for (size_t at = 0; at < buffer.size(); ++at)
                EXPECT_TRUE(covered[at] || buffer[at] == 0) << form << ": padding at byte " << at;
            kaSmartPointer<kaInfoList> read;
            ASSERT_TRUE(kaImportGltf((scratch / name).string(), read, error)) << form << ": " << error;
            expectInterleavedValues(read, form);
        }
    }
}

// Views longer than a read of the file are read in runs: every element of an interleaved view
// and of a converted one lands where it belongs, across the runs' ends.
TEST(GltfFiles, LongViewsAreReadWholeAcrossRuns)
{
    const int count = 50000; // 1.2 MB of interleaved positions and normals
    std::vector<float> interleaved;
    std::vector<uint16_t> texCoords;
    for (int v = 0; v < count; ++v) {
        for (float value : {float(v), v + 0.5f, -float(v), 0.0f, 1.0f, float(v % 7)}) interleaved.push_back(value);
        texCoords.push_back(uint16_t(v));
        texCoords.push_back(uint16_t(65535 - v));
    }
    kaGltfFile file;
    const int shared = file.view(interleaved);
    file.json["bufferViews"][shared]["byteStride"] = 24;
    for (int offset : {0, 12})
        file.json["accessors"].push_back({{"bufferView", shared},
                                          {"byteOffset", offset},
                                          {"componentType", 5126},
                                          {"count", count},
                                          {"type", "VEC3"}});
    const int uv = file.accessor(texCoords, "VEC2", 2, true);
    const Json primitive = {{"attributes", {{"POSITION", 0}, {"NORMAL", 1}, {"TEXCOORD_0", uv}}}};
    file.json["meshes"] = {{{"primitives", {primitive}}}};
    file.json["nodes"] = {{{"mesh", 0}}};
    file.json["scenes"] = {{{"nodes", {0}}}};
    kaScratchDir scratch;
    const std::vector<uint8_t> glb = glbOf(file);
    kaTest::writeText(scratch / "long.glb", std::string(glb.begin(), glb.end()));
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(kaImportGltf((scratch / "long.glb").string(), infos, error)) << error;
    const std::vector<kaGeometryAttr*> drawn = drawnOf(infos);
    ASSERT_EQ(drawn.size(), 1u);
    const kaVertexArray* vertices = drawn[0]->getVertexArray();
    ASSERT_EQ(vertices->getVertexCount(), count);
    std::vector<float> positions, normals, expectedTexCoords;
    for (int v = 0; v < count; ++v) {
        positions.insert(positions.end(), interleaved.begin() + 6 * v, interleaved.begin() + 6 * v + 3);
        normals.insert(normals.end(), interleaved.begin() + 6 * v + 3, interleaved.begin() + 6 * v + 6);
        for (int c = 0; c < 2; ++c) expectedTexCoords.push_back(texCoords[2 * v + c] / 65535.0f);
    }
    EXPECT_EQ(std::vector<float>(vertices->positionData(), vertices->positionData() + 3 * count), positions);
    EXPECT_EQ(std::vector<float>(vertices->normalData(), vertices->normalData() + 3 * count), normals);
    EXPECT_EQ(std::vector<float>(vertices->texCoordData(0), vertices->texCoordData(0) + 2 * count), expectedTexCoords);
}

// ---- bad input ----

TEST(GltfImport, DamagedBinaryFilesAreRefusedWithoutReadingPastThem)
{
    const std::filesystem::path model = kaSamples / "BoxTextured" / "BoxTextured.glb";
    if (!std::filesystem::exists(model)) GTEST_SKIP() << "sample model " << model << " absent";
    std::vector<uint8_t> glb;
    {
        std::ifstream in(model, std::ios::binary);
        glb.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(glb.size(), 100u);
    const long live = kaObject::getLiveObjectCount();
    // Every cut of the file and a byte flipped at many places: refused or read, never more.
    for (size_t cut = 0; cut < glb.size(); cut += 37) {
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        EXPECT_FALSE(kaImportGltfFromMemory(glb.data(), cut, "cut.glb", "", infos, error)) << cut;
        EXPECT_THAT(error, StartsWith("cut.glb: "));
    }
    testing::internal::CaptureStderr();
    for (size_t at = 0; at < glb.size(); at += 11) {
        std::vector<uint8_t> damaged = glb;
        damaged[at] ^= 0x5a;
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        if (!kaImportGltfFromMemory(damaged.data(), damaged.size(), "flipped.glb", "", infos, error)) {
            EXPECT_THAT(error, StartsWith("flipped.glb: "));
        }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(kaObject::getLiveObjectCount(), live);
}

// Reading and writing report the bytes of the buffers done, up to all of them.
TEST(GltfFiles, ReadingAndWritingReportTheirBuffersBytes)
{
    struct Heard : kaProgressListener {
        std::vector<std::pair<uint64_t, uint64_t>> reports;
        void show(uint64_t done, uint64_t total) override { reports.push_back({done, total}); }
    } heard;
    // A clock a second on at each look, so that every report is heard.
    static double now = 0.0;
    kaProgressListener* previous = kaProgress::listen(&heard, [] { return now += 1.0; });
    const kaGltfFile file = interleavedFile();
    const std::vector<uint8_t> glb = glbOf(file);
    kaScratchDir scratch;
    kaTest::writeText(scratch / "in.glb", std::string(glb.begin(), glb.end()));
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    const bool read = kaImportGltf((scratch / "in.glb").string(), infos, error);
    const std::vector<std::pair<uint64_t, uint64_t>> reading = heard.reports;
    heard.reports.clear();
    const bool written = read && kaExportGltf((scratch / "out.glb").string(), infos, error);
    kaProgress::listen(previous);
    ASSERT_TRUE(read && written) << error;
    const size_t binBytes = (file.bin.size() + 3) / 4 * 4;
    ASSERT_FALSE(reading.empty());
    EXPECT_EQ(reading.back(), std::make_pair(uint64_t(binBytes), uint64_t(binBytes))) << "reading ends at its total";
    Json json;
    const size_t writtenBytes = writtenBuffer(scratch / "out.glb", json).size();
    ASSERT_FALSE(heard.reports.empty());
    EXPECT_EQ(heard.reports.back(), std::make_pair(uint64_t(writtenBytes), uint64_t(writtenBytes)))
        << "writing ends at its total";
    for (const auto& reports : {reading, heard.reports})
        EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end())) << "done never goes back";
}

TEST(GltfFiles, BuffersThatTheirFilesDoNotHoldAreRefused)
{
    const kaGltfFile whole = interleavedFile();
    const size_t binSize = whole.bin.size();
    const struct {
        const char* damage;
        std::string file; // written by write into a scratch folder
        std::function<void(const std::filesystem::path&)> write;
        const char* message;
    } cases[] = {
        {"a buffer longer than the binary chunk", "cut.glb",
         [&](const std::filesystem::path& path) {
             const std::vector<uint8_t> glb = glbOf(whole, binSize + 4);
             kaTest::writeText(path, std::string(glb.begin(), glb.end()));
         },
         "binary size"},
        {"a buffer and no binary chunk", "empty.glb",
         [](const std::filesystem::path& path) {
             kaGltfFile file;
             file.json["scenes"] = {{{"nodes", Json::array()}}};
             const std::vector<uint8_t> glb = glbOf(file, 4);
             kaTest::writeText(path, std::string(glb.begin(), glb.end()));
         },
         "empty BIN chunk"},
        {"a .bin shorter than its buffer", "short.gltf",
         [&](const std::filesystem::path& path) { writeWithBin(whole, path, binSize - 4); }, "File size mismatch"},
        {"a view past the end of a .bin", "past.gltf",
         [&](const std::filesystem::path& path) {
             kaGltfFile file = whole;
             file.json["bufferViews"][1]["byteLength"] = binSize;
             writeWithBin(file, path, SIZE_MAX);
         },
         "buffer view 1 needs bytes"},
        {"an accessor of a view that is not there", "missing.glb",
         [&](const std::filesystem::path& path) {
             kaGltfFile file = whole;
             file.json["accessors"][2]["bufferView"] = 9;
             const std::vector<uint8_t> glb = glbOf(file);
             kaTest::writeText(path, std::string(glb.begin(), glb.end()));
         },
         "refers to buffer view 9, which does not exist"},
    };
    for (const auto& bad : cases) {
        kaScratchDir scratch;
        bad.write(scratch / bad.file);
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        EXPECT_FALSE(kaImportGltf((scratch / bad.file).string(), infos, error)) << bad.damage;
        EXPECT_THAT(error, AllOf(StartsWith((scratch / bad.file).string() + ": "), HasSubstr(bad.message)))
            << bad.damage;
        EXPECT_FALSE(infos) << bad.damage;
    }
}

// ---- export ----

// A scene of one node under the root.
kaSmartPointer<kaInfoList> sceneOf(kaNode* node)
{
    auto root = make<kaGroup>("scene");
    root->appendChild(node);
    auto info = make<kaSceneInfo>();
    info->setSceneGraph(root);
    auto infos = make<kaInfoList>();
    infos->append(info);
    return infos;
}

// A scene with what glTF cannot carry, and what it carries only in another form.
kaSmartPointer<kaInfoList> sceneWithLosses(int weightCount = 6)
{
    auto vertices = make<kaVertexArray>();
    kaVertexFormat format;
    format.setPositions(true);
    format.setBlendWeightCount(weightCount);
    format.setBlendIndexCount(weightCount);
    format.setPointSpriteCoordCount(1);
    format.setTextureCoordSetCount(1);
    vertices->setup(format, 3, 0, 0);
    for (int v = 0; v < 3; ++v) {
        vertices->setPosition(v, kaVec3f(float(v), float(v % 2), 0));
        // Half on the first slot's joint, half on the last's.
        vertices->setBlendWeight(v, 0, 0.5f);
        vertices->setBlendWeight(v, weightCount - 1, 0.5f);
        vertices->setBlendIndex(v, weightCount - 1, 1);
        // A joint without weight on the last vertex, which glTF writes as joint 0: the vertices
        // before it are written as the array holds them.
        if (weightCount > 2 && v == 2) vertices->setBlendIndex(v, 1, 1);
    }
    vertices->closeSetup();
    auto attr = make<kaGeometryAttr2>();
    attr->configureVertexArray(vertices);
    attr->setPrimitiveCount(1);
    auto material = make<kaMaterialAttr>("shiny");
    material->setShininess(32);
    auto texture = make<kaTextureAttr>();
    auto image = make<kaImage>("pictures/my photo.jpg");
    image->setup(2, 2, KA_GFX_TEXTURE_FORMAT_RGBA_4444);
    texture->setImage(image, 0);
    texture->setImage(make<kaImage>("smaller"), 1);
    texture->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);

    auto bone = make<kaJoint>("bone");
    auto tip = make<kaJoint>("tip");
    kaMatrix44f up;
    up.makeTranslation({0, 2, 0});
    tip->setMatrix(up);
    bone->appendChild(tip);
    auto palette = make<kaVertexBlendMatrixListAttr>();
    palette->appendMatrix(bone->getBlendingMatrix());
    palette->appendMatrix(tip->getBlendingMatrix());
    auto geometry = make<kaGeometry>("skinned");
    geometry->appendAttr(palette);
    geometry->appendAttr(material);
    geometry->appendAttr(texture);
    geometry->appendAttr(attr);
    auto lod = make<kaLod>("levels");
    lod->appendChild(bone);
    lod->appendChild(geometry);
    return sceneOf(lod);
}

// What glTF cannot carry is dropped with one warning per kind of loss, and the file stays valid.
TEST(GltfExport, WarnsOncePerKindOfLossAndStaysValid)
{
    kaScratchDir scratch;
    const std::string path = (scratch / "losses.gltf").string();
    std::string error;
    testing::internal::CaptureStderr();
    const bool written = kaExportGltf(path, sceneWithLosses(), error);
    const std::string warnings = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(written) << error;
    for (const char* lost : {"material shininess dropped", "mipmap levels above the first dropped",
                             "point-sprite sizes dropped", "level-of-detail ranges dropped"})
        EXPECT_THAT(warnings, HasSubstr("LOSS: " + path + ": " + lost));
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 4) << warnings;
    EXPECT_TRUE(std::filesystem::exists(scratch / "losses.bin"));
    EXPECT_TRUE(std::filesystem::exists(scratch / "losses_my_photo.png")) << "a PNG file named after the output and the image";

    const Json json = Json::parse(kaTest::readText(path));
    EXPECT_EQ(json["buffers"][0]["uri"], "losses.bin");
    EXPECT_EQ(json["images"][0]["uri"], "losses_my_photo.png");
    EXPECT_EQ(json["samplers"][0]["minFilter"], 9987) << "the mipmap tag survives as a mipmap filter";
    if (validatorAvailable()) {
        const kaValidation result = validate(path);
        ASSERT_TRUE(result.ran) << result.text;
        EXPECT_EQ(result.errors, 0) << result.text;
    }

    // The joints keep their places; the tip's inverse bind matrix undoes its height.
    kaSmartPointer<kaInfoList> infos;
    ASSERT_TRUE(kaImportGltf(path, infos, error)) << error;
    kaAnimationDatabase* database = databaseOf(infos);
    ASSERT_TRUE(database);
    kaVec3f translation;
    database->getSkeletonList()->getShared(0)->getInverseJointMatrix(1)->getTranslation(translation);
    EXPECT_EQ(translation, kaVec3f(0, -2, 0));
    EXPECT_STREQ(database->getSkeletonList()->getShared(0)->getJointName(1), "tip");
}

// Weights go in sets of four: one weight takes a padded set, five and six take a second one,
// four and eight fill theirs, and none is lost or invented on the way.
TEST(GltfExport, WeightCountsBetweenSetsArePaddedWithoutLoss)
{
    for (int weightCount : {1, 4, 5, 6, 8}) {
        SCOPED_TRACE(weightCount);
        kaScratchDir scratch;
        const std::string path = (scratch / "weights.gltf").string();
        kaSmartPointer<kaInfoList> written = sceneWithLosses(weightCount);
        // The middle vertex weighs half, to be made whole.
        kaVertexArray* halved = drawnOf(written)[0]->getVertexArray();
        for (int k = 0; k < weightCount; ++k) halved->setBlendWeight(1, k, halved->getBlendWeight(1, k) / 2);
        // With eight weights the first vertex sums to 1 but gives a quarter to a joint the palette
        // of two lacks (a vertex that cannot be written as held ends the check of the next ones).
        if (weightCount == 8) {
            halved->setBlendWeight(0, 1, 0.25f), halved->setBlendIndex(0, 1, 2);
            halved->setBlendWeight(0, weightCount - 1, 0.25f);
        }
        std::string error;
        testing::internal::CaptureStderr();
        const bool exported = kaExportGltf(path, written, error);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(exported) << error;
        const int sets = (weightCount + 3) / 4;
        const Json attributes = Json::parse(kaTest::readText(path))["meshes"][0]["primitives"][0]["attributes"];
        EXPECT_TRUE(attributes.contains("WEIGHTS_" + std::to_string(sets - 1)));
        EXPECT_FALSE(attributes.contains("WEIGHTS_" + std::to_string(sets)));

        kaSmartPointer<kaInfoList> read;
        ASSERT_TRUE(kaImportGltf(path, read, error)) << error;
        const kaVertexArray* before = drawnOf(written)[0]->getVertexArray();
        const kaVertexArray* after = drawnOf(read)[0]->getVertexArray();
        ASSERT_EQ(after->getBlendWeightCount(), 4 * sets);
        // Weights of unknown joints go, the rest are made to sum to 1, as glTF wants them.
        const auto known = [&](int v, int k) { return k < weightCount && before->getBlendIndex(v, k) < 2; };
        for (int v = 0; v < before->getVertexCount(); ++v) {
            float sum = 0.0f;
            for (int k = 0; k < weightCount; ++k) sum += known(v, k) ? before->getBlendWeight(v, k) : 0.0f;
            for (int k = 0; k < 4 * sets; ++k) {
                const float weight = known(v, k) ? before->getBlendWeight(v, k) / sum : 0.0f;
                EXPECT_EQ(after->getBlendWeight(v, k), weight) << "vertex " << v << " slot " << k;
                EXPECT_EQ(after->getBlendIndex(v, k), weight != 0.0f ? before->getBlendIndex(v, k) : 0)
                    << "vertex " << v << " slot " << k;
            }
        }
    }
}

TEST(GltfExport, AFailedWriteLeavesNoFileAndNoneHalfWritten)
{
    kaScratchDir scratch;
    std::string error;
    const std::string missing = (scratch / "no such folder" / "out.gltf").string();
    EXPECT_FALSE(kaExportGltf(missing, sceneWithLosses(), error));
    EXPECT_THAT(error, StartsWith((scratch / "no such folder").string()));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));

    // Without a scene info there is nothing to write.
    auto empty = make<kaInfoList>();
    EXPECT_FALSE(kaExportGltf((scratch / "x.glb").string(), empty, error));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));

    // A file that cannot be put in place (a folder holds its name) fails after everything was
    // written: the temporary files go and what was there stays.
    std::filesystem::create_directories(scratch / "taken.glb" / "inside");
    EXPECT_FALSE(kaExportGltf((scratch / "taken.glb").string(), sceneWithLosses(), error));
    EXPECT_THAT(error, HasSubstr("taken.glb"));
    EXPECT_TRUE(std::filesystem::exists(scratch / "taken.glb" / "inside"));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) entries += entry.exists();
    EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
}

// Extras a glTF file cannot hold, text that is not JSON or that nests deeper than a file may,
// are dropped with a loss; the rest are written as they are.
TEST(GltfExport, ExtrasThatAreNotJsonAreDroppedWithALoss)
{
    const std::string deep = std::string(1'000'000, '[') + std::string(1'000'000, ']');
    const std::pair<std::string, bool> cases[] = {{R"({"a":[1]})", true}, {"{a", false}, {deep, false}};
    for (const auto& [extras, kept] : cases) {
        SCOPED_TRACE(extras.substr(0, 10));
        auto node = make<kaTransform>("holder");
        node->setExtras(extras.c_str());
        kaScratchDir scratch;
        const std::string path = (scratch / "extras.gltf").string();
        std::string error;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(kaExportGltf(path, sceneOf(node), error)) << error;
        const std::string warnings = testing::internal::GetCapturedStderr();
        EXPECT_EQ(warnings, kept ? "" : "LOSS: " + path + ": extras that are not JSON dropped\n");
        const Json json = Json::parse(kaTest::readText(path));
        EXPECT_EQ(json["nodes"][0].value("extras", Json()), kept ? Json::parse(extras) : Json());
    }
}

// A number glTF cannot hold refuses the export, named by the node and the place in the file.
TEST(GltfExport, ANumberThatIsNotFiniteIsRefusedWhereItIs)
{
    auto node = make<kaTransform>("far");
    kaMatrix44f far;
    far.makeTranslation({0, std::numeric_limits<float>::infinity(), 0});
    node->setMatrix(far);
    kaScratchDir scratch;
    const std::string path = (scratch / "far.glb").string();
    std::string error;
    EXPECT_FALSE(kaExportGltf(path, sceneOf(node), error));
    EXPECT_EQ(error, path + ": node 0 \"far\" has a number that is not finite (/nodes/0/translation/1)");
}

TEST(GltfExport, LightsOffTheirNodesOriginGetNodesOfTheirOwn)
{
    auto sun = make<kaLightAttr>("sun");
    sun->setDirection({0, -1, 0});
    sun->setColor({3, 1.5f, 0, 1});
    auto bulb = make<kaLightAttr>("bulb");
    bulb->setType(KA_GFX_LIGHT_TYPE_POINT);
    bulb->setPosition({1, 2, 3});
    auto set = make<kaLightSet>();
    set->appendLight(sun);
    set->appendLight(bulb);
    auto holder = make<kaTransform>("holder");
    holder->appendChild(set);
    kaScratchDir scratch;
    const std::string path = (scratch / "lights.glb").string();
    std::string error;
    ASSERT_TRUE(kaExportGltf(path, sceneOf(holder), error)) << error;
    kaSmartPointer<kaInfoList> read;
    ASSERT_TRUE(kaImportGltf(path, read, error)) << error;
    kaGroup* node = kaGroup::dynamicCast(rootOf(read)->getChild(0));
    ASSERT_TRUE(node);
    // Each light sits at the origin of a node that places and aims it.
    std::vector<std::pair<const kaLightAttr*, kaMatrix44f>> lights;
    for (int c = 0; c < node->getChildCount(); ++c) {
        kaTransform* place = kaTransform::dynamicCast(node->getChild(c));
        ASSERT_TRUE(place);
        lights.push_back({kaLightSet::dynamicCast(place->getChild(0))->getLight(0), place->getMatrix()});
    }
    ASSERT_EQ(lights.size(), 2u);
    EXPECT_STREQ(lights[0].first->getName(), "sun");
    EXPECT_EQ(lights[0].first->getColor(), kaVec4f(3, 1.5f, 0, 1)) << "brightness beyond 1 is the intensity";
    kaVec3f direction;
    direction.transformVector(lights[0].first->getDirection(), lights[0].second);
    EXPECT_NEAR(direction.distance({0, -1, 0}), 0.0f, 1e-6f);
    kaVec3f position;
    position.transformPoint(lights[1].first->getPosition(), lights[1].second);
    EXPECT_EQ(position, kaVec3f(1, 2, 3));
}

// ---- round trips and the validator on the sample models ----

// Every sample model exported in both forms, and converted by kaopt through the engine's own
// file, imports as the scene it was.
TEST(GltfRoundTrip, SampleModelsSurviveExportAndImportInBothFormsAndThroughTheEngineFile)
{
    if (sampleModels().empty()) GTEST_SKIP() << "no sample models under " << kaSamples;
    const long live = kaObject::getLiveObjectCount();
    for (const std::filesystem::path& model : sampleModels()) {
        kaSmartPointer<kaInfoList> original;
        std::string error;
        ASSERT_TRUE(kaImportGltf(model.string(), original, error)) << error;
        for (const std::string form : {".glb", ".gltf", ".kab"}) {
            kaScratchDir scratch;
            // The same stem, so that the infos' names agree; the engine file goes on to .glb.
            const std::string stem = (scratch / model.stem().string()).string();
            const std::string path = stem + (form == ".gltf" ? ".gltf" : ".glb");
            if (form == ".kab") {
                ASSERT_EQ(kaTest::runKaopt("convert '" + model.string() + "' '" + stem + ".kab'").status, 0);
                ASSERT_EQ(kaTest::runKaopt("convert '" + stem + ".kab' '" + path + "'").status, 0);
            } else {
                testing::internal::CaptureStderr();
                const bool written = kaExportGltf(path, original, error);
                testing::internal::GetCapturedStderr();
                ASSERT_TRUE(written) << error;
            }
            kaSmartPointer<kaInfoList> again;
            ASSERT_TRUE(kaImportGltf(path, again, error)) << error;
            expectSameScene(original, again, model.filename().string() + " as " + form);
        }
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), live) << "every object of every scene was released";
}

// ---- lossless round trips through kaopt ----

// A glTF file as these tests read it back: its JSON and its buffers.
struct kaGltfDocument {
    Json json;
    std::vector<std::vector<uint8_t>> buffers;
    std::filesystem::path folder;
};

kaGltfDocument readDocument(const std::filesystem::path& path)
{
    kaGltfDocument document;
    document.folder = path.parent_path();
    const std::string bytes = kaTest::readText(path);
    if (bytes.rfind("glTF", 0) == 0) {
        uint32_t jsonLength = 0, binLength = 0;
        std::memcpy(&jsonLength, bytes.data() + 12, 4);
        document.json = Json::parse(bytes.substr(20, jsonLength));
        if (bytes.size() > 28 + size_t(jsonLength)) {
            std::memcpy(&binLength, bytes.data() + 20 + jsonLength, 4);
            const char* bin = bytes.data() + 28 + jsonLength;
            document.buffers.emplace_back(bin, bin + binLength);
        }
        return document;
    }
    document.json = Json::parse(bytes);
    for (const Json& buffer : document.json.value("buffers", Json::array())) {
        const std::string uri = buffer.value("uri", "");
        const std::string data = uri.rfind("data:", 0) == 0 ? tinygltf::base64_decode(uri.substr(uri.find(',') + 1))
                                                            : kaTest::readText(document.folder / uri);
        document.buffers.emplace_back(data.begin(), data.end());
    }
    return document;
}

std::string imageBytes(const kaGltfDocument& document, const Json& image)
{
    if (image.contains("uri")) return kaTest::readText(document.folder / image["uri"].get<std::string>());
    const Json& view = document.json["bufferViews"][image["bufferView"].get<int>()];
    const std::vector<uint8_t>& buffer = document.buffers.at(view.value("buffer", 0));
    return std::string(buffer.begin() + view.value("byteOffset", 0),
                       buffer.begin() + view.value("byteOffset", 0) + view["byteLength"].get<size_t>());
}

// A node's placement as its matrix, column by column, however the file wrote it.
Json localMatrix(const Json& node)
{
    if (node.contains("matrix")) return node["matrix"];
    const Json t = node.value("translation", Json{0, 0, 0}), r = node.value("rotation", Json{0, 0, 0, 1}),
               s = node.value("scale", Json{1, 1, 1});
    const double x = r[0], y = r[1], z = r[2], w = r[3];
    const double rotation[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
                                   {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
                                   {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}};
    Json matrix = Json::array();
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 4; ++row) matrix.push_back(row < 3 ? rotation[column][row] * s[column].get<double>() : 0.0);
    for (int row = 0; row < 3; ++row) matrix.push_back(t[row]);
    matrix.push_back(1.0);
    return matrix;
}

// An accessor's elements as numbers, read as a glTF reader reads them (normalised integers as
// fractions, sparse values in place), whatever its encoding or layout.
Json accessorValues(const kaGltfDocument& document, int index)
{
    const Json& accessor = document.json["accessors"][index];
    static const std::map<std::string, int> widths = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4}, {"MAT4", 16}};
    const int components = widths.at(accessor["type"].get<std::string>());
    const int type = accessor["componentType"];
    const bool normalized = accessor.value("normalized", false);
    const size_t size = type == 5120 || type == 5121 ? 1 : type == 5122 || type == 5123 ? 2 : 4;
    const auto bytesOf = [&](int view, size_t offset) {
        const Json& bufferView = document.json["bufferViews"][view];
        return document.buffers.at(bufferView.value("buffer", 0)).data() + bufferView.value("byteOffset", size_t(0)) + offset;
    };
    const auto number = [&](const uint8_t* at, int componentType) -> double {
        switch (componentType) {
        case 5120: return normalized ? std::max(int8_t(*at) / 127.0, -1.0) : int8_t(*at);
        case 5121: return normalized ? *at / 255.0 : *at;
        case 5122: { int16_t v; std::memcpy(&v, at, 2); return normalized ? std::max(v / 32767.0, -1.0) : v; }
        case 5123: { uint16_t v; std::memcpy(&v, at, 2); return normalized ? v / 65535.0 : v; }
        case 5125: { uint32_t v; std::memcpy(&v, at, 4); return v; }
        default: { float v; std::memcpy(&v, at, 4); return v; }
        }
    };
    const size_t count = accessor["count"];
    std::vector<double> values(count * components, 0.0);
    if (accessor.contains("bufferView")) {
        const size_t stride = document.json["bufferViews"][accessor["bufferView"].get<int>()].value("byteStride", size * components);
        const uint8_t* data = bytesOf(accessor["bufferView"], accessor.value("byteOffset", size_t(0)));
        for (size_t e = 0; e < count; ++e)
            for (int c = 0; c < components; ++c) values[e * components + c] = number(data + e * stride + c * size, type);
    }
    if (accessor.contains("sparse")) {
        const Json& sparse = accessor["sparse"];
        const int indexType = sparse["indices"]["componentType"];
        const size_t indexSize = indexType == 5121 ? 1 : indexType == 5123 ? 2 : 4;
        const uint8_t* indices = bytesOf(sparse["indices"]["bufferView"], sparse["indices"].value("byteOffset", size_t(0)));
        const uint8_t* given = bytesOf(sparse["values"]["bufferView"], sparse["values"].value("byteOffset", size_t(0)));
        for (size_t k = 0; k < sparse["count"].get<size_t>(); ++k) {
            const size_t element = size_t(number(indices + k * indexSize, indexType));
            for (int c = 0; c < components; ++c) values[element * components + c] = number(given + (k * components + c) * size, type);
        }
    }
    return {{"type", accessor["type"]}, {"values", values}};
}

// Makes each group of `width` values a unit vector (normals, rotations) or, for weights, sum to
// 1: glTF asks for both, so a writer may make them so.
void normalised(Json& values, size_t width, bool sum)
{
    for (size_t at = 0; at + width <= values.size(); at += width) {
        double total = 0.0;
        for (size_t k = at; k < at + width; ++k) total += sum ? values[k].get<double>() : values[k].get<double>() * values[k].get<double>();
        total = sum ? total : std::sqrt(total);
        if (total > 0.0)
            for (size_t k = at; k < at + width; ++k) values[k] = values[k].get<double>() / total;
    }
}

// What a glTF file means, as one JSON document: the default scene's node tree with every index
// replaced by what it refers to (accessors by their values, images by their bytes, nodes named
// elsewhere by their place in the tree), defaults written out, and what a writer may choose
// left out (buffer layout, encodings, the order of arrays, the generator). Files that mean the
// same have equal meanings.
Json meaningOf(const kaGltfDocument& document)
{
    const Json& doc = document.json;
    std::map<int, Json> accessors;
    const auto values = [&](const Json& index) -> const Json& {
        auto found = accessors.find(index.get<int>());
        if (found == accessors.end()) found = accessors.emplace(index.get<int>(), accessorValues(document, index)).first;
        return found->second;
    };
    const auto withDefaults = [](Json object, const Json& defaults) {
        for (const auto& [key, value] : defaults.items())
            if (!object.contains(key)) object[key] = value;
        return object;
    };
    const auto image = [&](const Json& index) {
        Json meaning = doc["images"][index.get<int>()];
        meaning["bytes"] = std::hash<std::string>{}(imageBytes(document, meaning));
        for (const char* written : {"uri", "bufferView", "mimeType", "name"}) meaning.erase(written);
        return meaning;
    };
    const auto texture = [&](Json info) {
        Json source = doc["textures"][info["index"].get<int>()];
        source["sampler"] = withDefaults(source.contains("sampler") ? doc["samplers"][source["sampler"].get<int>()] : Json::object(),
                                         {{"minFilter", 9987}, {"magFilter", 9729}, {"wrapS", 10497}, {"wrapT", 10497}});
        if (source.contains("source")) source["source"] = image(source["source"]);
        const Json extensions = source.value("extensions", Json::object());
        for (const auto& [name, extension] : extensions.items())
            if (extension.contains("source")) source["extensions"][name]["source"] = image(extension["source"]);
        info["index"] = source;
        return withDefaults(info, {{"texCoord", 0}});
    };
    // Texture references at any depth of a material, its extensions included.
    std::function<void(Json&)> textures = [&](Json& object) {
        for (auto& [key, member] : object.items()) {
            if (key == "extras" || !member.is_structured()) continue;
            if (key.size() > 7 && key.compare(key.size() - 7, 7, "Texture") == 0 && member.contains("index"))
                member = texture(member);
            else
                textures(member);
        }
    };
    const auto material = [&](const Json& index) {
        Json meaning = withDefaults(doc["materials"][index.get<int>()],
                                    {{"alphaMode", "OPAQUE"}, {"alphaCutoff", 0.5}, {"doubleSided", false},
                                     {"emissiveFactor", {0, 0, 0}}, {"pbrMetallicRoughness", Json::object()}});
        meaning["pbrMetallicRoughness"] = withDefaults(meaning["pbrMetallicRoughness"],
                                                       {{"baseColorFactor", {1, 1, 1, 1}}, {"metallicFactor", 1.0}, {"roughnessFactor", 1.0}});
        for (const char* slot : {"normalTexture", "occlusionTexture"})
            if (meaning.contains(slot)) meaning[slot] = withDefaults(meaning[slot], {{slot[0] == 'n' ? "scale" : "strength", 1.0}});
        textures(meaning);
        return meaning;
    };
    const auto attributes = [&](const Json& named) {
        Json meaning = Json::object();
        for (const auto& [name, index] : named.items()) {
            meaning[name] = values(index);
            if (name == "NORMAL") normalised(meaning[name]["values"], 3, false);
        }
        // Joints without weight name no joint; weights are made to sum to 1 over all their sets.
        std::vector<std::string> sets;
        for (int set = 0; meaning.contains("WEIGHTS_" + std::to_string(set)); ++set) sets.push_back(std::to_string(set));
        const size_t vertices = sets.empty() ? 0 : meaning["WEIGHTS_0"]["values"].size() / 4;
        for (size_t v = 0; v < vertices; ++v) {
            Json all = Json::array();
            for (const std::string& set : sets)
                for (int k = 0; k < 4; ++k) all.push_back(meaning["WEIGHTS_" + set]["values"][v * 4 + k]);
            normalised(all, all.size(), true);
            for (size_t s = 0; s < sets.size(); ++s)
                for (int k = 0; k < 4; ++k) {
                    meaning["WEIGHTS_" + sets[s]]["values"][v * 4 + k] = all[s * 4 + k];
                    if (all[s * 4 + k] == 0.0 && meaning.contains("JOINTS_" + sets[s])) meaning["JOINTS_" + sets[s]]["values"][v * 4 + k] = 0;
                }
        }
        return meaning;
    };
    const auto mesh = [&](const Json& index) {
        Json meaning = doc["meshes"][index.get<int>()];
        for (Json& primitive : meaning["primitives"]) {
            primitive = withDefaults(primitive, {{"mode", 4}});
            primitive["attributes"] = attributes(primitive["attributes"]);
            if (primitive.contains("indices")) primitive["indices"] = values(primitive["indices"]);
            if (primitive.contains("targets"))
                for (Json& target : primitive["targets"]) target = attributes(target);
            if (primitive.contains("material")) primitive["material"] = material(primitive["material"]);
        }
        return meaning;
    };
    std::map<int, std::string> paths;  // node index -> place in the tree, "0/2"
    std::function<void(int, const std::string&)> place = [&](int index, const std::string& path) {
        paths[index] = path;
        const Json children = doc["nodes"][index].value("children", Json::array());
        for (size_t c = 0; c < children.size(); ++c) place(children[c], path + "/" + std::to_string(c));
    };
    std::function<Json(int)> node = [&](int index) {
        Json meaning = doc["nodes"][index];
        meaning["matrix"] = localMatrix(meaning);
        for (const char* part : {"translation", "rotation", "scale"}) meaning.erase(part);
        if (meaning.contains("mesh")) meaning["mesh"] = mesh(meaning["mesh"]);
        if (meaning.contains("camera"))
            meaning["camera"] = doc["cameras"][meaning["camera"].get<int>()];
        if (meaning.contains("camera") && meaning["camera"].contains("perspective"))
            meaning["camera"]["perspective"] = withDefaults(meaning["camera"]["perspective"], {{"aspectRatio", 0}});
        if (meaning.contains("skin")) {
            Json skin = doc["skins"][meaning["skin"].get<int>()];
            for (Json& joint : skin["joints"]) joint = paths[joint.get<int>()];
            if (skin.contains("skeleton")) skin["skeleton"] = paths[skin["skeleton"].get<int>()];
            if (skin.contains("inverseBindMatrices")) skin["inverseBindMatrices"] = values(skin["inverseBindMatrices"]);
            meaning["skin"] = skin;
        }
        if (meaning.contains("extensions") && meaning["extensions"].contains("KHR_lights_punctual")) {
            Json light = doc["extensions"]["KHR_lights_punctual"]["lights"][meaning["extensions"]["KHR_lights_punctual"]["light"].get<int>()];
            light = withDefaults(light, {{"color", {1, 1, 1}}, {"intensity", 1.0}});
            if (light["type"] == "spot") light["spot"] = withDefaults(light["spot"], {{"innerConeAngle", 0.0}, {"outerConeAngle", 0.7853981634}});
            meaning["extensions"]["KHR_lights_punctual"] = light;
        }
        if (meaning.contains("children"))
            for (Json& child : meaning["children"]) child = node(child);
        return meaning;
    };
    Json meaning;
    meaning["asset"] = doc["asset"];
    meaning["asset"].erase("generator");
    for (const char* top : {"extensionsUsed", "extensionsRequired", "extensions", "extras"})
        if (doc.contains(top)) meaning[top] = doc[top];
    for (const char* list : {"extensionsUsed", "extensionsRequired"})
        if (meaning.contains(list)) std::sort(meaning[list].begin(), meaning[list].end());
    if (meaning.contains("extensions")) meaning["extensions"].erase("KHR_lights_punctual");
    Json scene = doc["scenes"][doc.value("scene", 0)];
    for (size_t r = 0; r < scene["nodes"].size(); ++r) place(scene["nodes"][r], std::to_string(r));
    for (Json& root : scene["nodes"]) root = node(root);
    meaning["scene"] = scene;
    for (Json animation : doc.value("animations", Json::array())) {
        std::map<std::string, Json> channels;  // by target, whatever their order
        for (const Json& channel : animation["channels"]) {
            Json sampler = withDefaults(animation["samplers"][channel["sampler"].get<int>()], {{"interpolation", "LINEAR"}});
            sampler["input"] = values(sampler["input"]);
            sampler["output"] = values(sampler["output"]);
            if (channel["target"]["path"] == "rotation" && sampler["interpolation"] != "CUBICSPLINE")
                normalised(sampler["output"]["values"], 4, false);
            Json shown = channel;
            shown["target"]["node"] = paths[channel["target"]["node"].get<int>()];
            shown["sampler"] = sampler;
            channels[shown["target"].dump()] = shown;
        }
        animation["channels"] = Json::array();
        for (const auto& [target, channel] : channels) animation["channels"].push_back(channel);
        animation.erase("samplers");
        meaning["animations"].push_back(animation);
    }
    return meaning;
}

// The properties of expected that actual lacks or holds otherwise (actual may hold more).
void findLost(const Json& expected, const Json& actual, const std::string& at, std::vector<std::string>& lost)
{
    if (expected.is_object() && actual.is_object()) {
        for (const auto& [key, value] : expected.items())
            if (!actual.contains(key))
                lost.push_back(at + "/" + key + " missing");
            else
                findLost(value, actual[key], at + "/" + key, lost);
    } else if (expected.is_array() && actual.is_array() && expected.size() == actual.size()) {
        for (size_t i = 0; i < expected.size(); ++i) findLost(expected[i], actual[i], at + "/" + std::to_string(i), lost);
    } else if (expected.is_number() && actual.is_number()) {
        // Written back as floats, through matrices.
        const double was = expected.get<double>(), is = actual.get<double>();
        if (!(std::abs(was - is) <= 1e-4 * std::max(1.0, std::abs(was))))
            lost.push_back(at + " was " + expected.dump() + ", is " + actual.dump());
    } else if (expected != actual) {
        lost.push_back(at + " was " + expected.dump() + ", is " + actual.dump());
    }
}

// Runs an example script on input (a quoted path, or "--example" for the example scene) and
// returns what kaopt wrote to stderr.
std::string runExample(const std::string& name, const std::string& input, const std::filesystem::path& output)
{
    const kaTest::kaRunResult run = kaTest::runKaopt("run --quiet --script '" + std::string(KA_SOURCE_DIR) + "/examples/" +
                                                     name + ".ini' -o '" + output.string() + "' " + input);
    EXPECT_EQ(run.status, 0) << name << " on " << input << ": " << run.err;
    return run.err;
}

// Runs kaopt with kaEmpty from input to output and returns the properties the output lost. An
// engine file is converted on to a .gltf of its name, which is compared instead.
std::vector<std::string> lostByKaoptRun(const std::filesystem::path& input, const std::filesystem::path& output,
                                        std::string* warnings = nullptr)
{
    std::string err = runExample("empty", "'" + input.string() + "'", output);
    std::filesystem::path written = output;
    if (output.extension() == ".kab") {
        const kaTest::kaRunResult run =
            kaTest::runKaopt("convert '" + output.string() + "' '" + written.replace_extension(".gltf").string() + "'");
        EXPECT_EQ(run.status, 0) << run.err;
        err += run.err;
    }
    if (warnings) *warnings = err;
    std::vector<std::string> lost;
    findLost(meaningOf(readDocument(input)), meaningOf(readDocument(written)), "", lost);
    return lost;
}

// The triangle's attributes as KHR_mesh_quantization stores them: positions as shorts and
// colours as three normalised bytes (both padded to four-byte elements), normals as normalised
// bytes, texture coordinates as normalised unsigned shorts.
void quantize(kaGltfFile& file)
{
    const int position = file.accessor<int16_t>({0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0}, "VEC3", 3, false, 8);
    file.json["accessors"][position].update({{"min", {0, 0, 0}}, {"max", {1, 1, 0}}});
    const int normal = file.accessor<int8_t>({0, 0, 127, 0, 0, 0, 127, 0, 0, 0, 127, 0}, "VEC3", 3, true, 4);
    const int uv = file.accessor<uint16_t>({0, 0, 65535, 0, 0, 65535}, "VEC2", 2, true);
    const int color = file.accessor<uint8_t>({255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0}, "VEC3", 3, true, 4);
    file.json["meshes"][0]["primitives"][0]["attributes"] = {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", uv}, {"COLOR_0", color}};
    file.json["extensionsUsed"] = file.json["extensionsRequired"] = {"KHR_mesh_quantization"};
}

// A textured, lit, filmed, morphing triangle: each property family adds its part to it.
kaGltfFile familyBase()
{
    kaGltfFile file;
    const int position = triangle(file);
    const int normal = file.accessor<float>({0, 0, 1, 0, 0, 1, 0, 0, 1}, "VEC3", 3);
    const int uv0 = file.accessor<float>({0, 0, 1, 0, 0, 1}, "VEC2", 2);
    const int uv1 = file.accessor<float>({0, 1, 1, 1, 0, 0}, "VEC2", 2);
    const Json attributes = {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", uv0}, {"TEXCOORD_1", uv1}};
    file.json["meshes"] = Json::array({{{"primitives", Json::array({{{"attributes", attributes}}})}}});
    file.json["nodes"] = {{{"mesh", 0}}};
    file.json["scenes"] = {{{"nodes", {0}}}};
    return file;
}

struct kaPropertyFamily {
    const char* name;
    std::function<void(kaGltfFile&)> add;
    const char* shownAt;  // a property the family puts in the meaning, so that the row tests something
};

TEST(GltfLossless, EveryPropertyFamilySurvivesKaoptRun)
{
    const std::string jpeg = kaTest::readText(kaSamples / "MorphPrimitivesTest" / "uv_texture.jpg");
    const kaPropertyFamily families[] = {
        {"PBR factors, alpha and sides",
         [](kaGltfFile& file) {
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorFactor", {0.5, 0.25, 1, 0.75}},
                                                                  {"metallicFactor", 0.25}, {"roughnessFactor", 0.625}}},
                                        {"emissiveFactor", {0.125, 0.5, 0}}, {"alphaMode", "MASK"}, {"alphaCutoff", 0.3},
                                        {"doubleSided", true}}};
             file.json["meshes"][0]["primitives"][0]["material"] = 0;
         },
         "/scene/nodes/0/mesh/primitives/0/material/alphaCutoff"},
        {"texture slots, coordinate sets, samplers and images",
         [&](kaGltfFile& file) {
             const int png = file.addImage(pngOf(kaPngPixels::Layout::RGB8, 4, 2, 9));
             file.json["images"].push_back({{"bufferView", file.view(std::vector<uint8_t>(jpeg.begin(), jpeg.end()))},
                                            {"mimeType", "image/jpeg"}});
             file.json["samplers"] = {{{"magFilter", 9728}, {"minFilter", 9984}, {"wrapS", 33071}, {"wrapT", 33648}}, Json::object()};
             file.json["textures"] = {{{"source", png}, {"sampler", 0}}, {{"source", 1}, {"sampler", 1}}, {{"source", 1}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}},
                                                                  {"metallicRoughnessTexture", {{"index", 1}, {"texCoord", 1}}}}},
                                        {"normalTexture", {{"index", 2}, {"scale", 0.5}, {"texCoord", 1}}},
                                        {"occlusionTexture", {{"index", 1}, {"strength", 0.375}}},
                                        {"emissiveTexture", {{"index", 0}, {"texCoord", 1}}}}};
             file.json["meshes"][0]["primitives"][0]["material"] = 0;
         },
         "/scene/nodes/0/mesh/primitives/0/material/normalTexture/index/sampler/wrapT"},
        {"light colours, intensities, ranges and cones",
         [](kaGltfFile& file) {
             file.json["extensionsUsed"] = {"KHR_lights_punctual"};
             file.json["extensions"]["KHR_lights_punctual"]["lights"] = {
                 {{"type", "point"}, {"color", {0.2, 0.2, 0.1}}, {"intensity", 3}, {"range", 7.5}},
                 {{"type", "spot"}, {"intensity", 0.5}, {"spot", {{"innerConeAngle", 0.25}, {"outerConeAngle", 0.5}}}}};
             file.json["nodes"].push_back({{"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}});
             file.json["nodes"].push_back({{"extensions", {{"KHR_lights_punctual", {{"light", 1}}}}}});
             file.json["scenes"][0]["nodes"] = {0, 1, 2};
         },
         "/scene/nodes/2/extensions/KHR_lights_punctual/spot/innerConeAngle"},
        {"cameras",
         [](kaGltfFile& file) {
             file.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 0.7}, {"znear", 0.05}, {"aspectRatio", 1.5}}}},
                                     {{"type", "orthographic"},
                                      {"orthographic", {{"xmag", 2}, {"ymag", 1}, {"znear", 0.5}, {"zfar", 50}}}}};
             file.json["nodes"][0]["camera"] = 0;
             file.json["nodes"].push_back({{"camera", 1}, {"translation", {0, 0, 5}}});
             file.json["scenes"][0]["nodes"] = {0, 1};
         },
         "/scene/nodes/1/camera/orthographic/zfar"},
        {"morph weights and their animation",
         [](kaGltfFile& file) {
             const int target = file.accessor<float>({0, 0, 1, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
             file.json["meshes"][0]["primitives"][0]["targets"] = {{{"POSITION", target}}, {{"POSITION", target}}};
             file.json["meshes"][0]["weights"] = {0.25, 0.5};
             const int times = file.accessor<float>({0, 1, 2}, "SCALAR", 1);
             const int weights = file.accessor<float>({0, 1, 1, 0, 0.5, 0.5}, "SCALAR", 1);
             const Json sampler = {{"input", times}, {"output", weights}};
             const Json channel = {{"sampler", 0}, {"target", {{"node", 0}, {"path", "weights"}}}};
             file.json["animations"] = Json::array(
                 {{{"name", "blink"}, {"samplers", Json::array({sampler})}, {"channels", Json::array({channel})}}});
         },
         "/animations/0/channels"},
        {"names, extras and copyright",
         [](kaGltfFile& file) {
             file.json["asset"]["copyright"] = "2024 someone";
             file.json["asset"]["extras"] = {{"licence", "CC0"}};
             file.json["scenes"][0]["extras"] = {{"level", 3}};
             file.json["nodes"][0].update({{"name", "prop"}, {"extras", {{"tags", {"a", "b"}}}}});
             file.json["meshes"][0].update({{"name", "propMesh"}, {"extras", {{"lod", 0}}}});
             file.json["meshes"][0]["primitives"][0]["extras"] = {{"part", "lid"}};
             file.json["materials"] = {{{"name", "paint"}, {"extras", {{"wet", true}}}}};
             file.json["meshes"][0]["primitives"][0]["material"] = 0;
         },
         "/scene/nodes/0/mesh/primitives/0/extras/part"},
        {"step and cubic-spline keys with their tangents",
         [](kaGltfFile& file) {
             const int target = file.accessor<float>({0, 0, 1, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
             file.json["meshes"][0]["primitives"][0]["targets"] = {{{"POSITION", target}}, {{"POSITION", target}}};
             file.json["meshes"][0]["weights"] = {0, 0};
             file.json["nodes"].push_back({{"name", "mover"}});
             file.json["scenes"][0]["nodes"] = {0, 1};
             const int times = file.accessor<float>({0, 1}, "SCALAR", 1);
             const int steps = file.accessor<float>({0, 0, 0, 1, 2, 3}, "VEC3", 3);
             // In-tangent, value and out-tangent per key.
             const int spline = file.accessor<float>({1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3, 4, 5, 6, 0, 0, 0}, "VEC3", 3);
             const int turns = file.accessor<float>({0.5f, 0, 0, 0, 0, 0, 0, 1, 0, 0.25f, 0, 0, 0, 0, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 0.75f}, "VEC4", 4);
             const int weights = file.accessor<float>({0.5f, 0, 0, 1, 0, 0.5f, 0, 0.25f, 1, 0, 0, 0}, "SCALAR", 1);
             const Json samplers = {{{"input", times}, {"output", steps}, {"interpolation", "STEP"}},
                                    {{"input", times}, {"output", spline}, {"interpolation", "CUBICSPLINE"}},
                                    {{"input", times}, {"output", turns}, {"interpolation", "CUBICSPLINE"}},
                                    {{"input", times}, {"output", weights}, {"interpolation", "CUBICSPLINE"}}};
             const Json channels = {{{"sampler", 0}, {"target", {{"node", 1}, {"path", "translation"}}}},
                                    {{"sampler", 1}, {"target", {{"node", 1}, {"path", "scale"}}}},
                                    {{"sampler", 2}, {"target", {{"node", 1}, {"path", "rotation"}}}},
                                    {{"sampler", 3}, {"target", {{"node", 0}, {"path", "weights"}}}}};
             file.json["animations"] = Json::array({{{"samplers", samplers}, {"channels", channels}}});
         },
         "/animations/0/channels/0/sampler/output/values/11"},
        {"tangents, their morph displacements and an application's own attributes",
         [](kaGltfFile& file) {
             const int tangent = file.accessor<float>({1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, -1}, "VEC4", 4);
             const int temperature = file.accessor<float>({20, 21.5f, 19}, "SCALAR", 1);
             const int ids = file.accessor<uint16_t>({7, 0, 8, 0, 9, 0}, "VEC2", 2);
             const int moved = file.accessor<float>({0, 0, 1, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
             const int turned = file.accessor<float>({0, 0.5f, 0, 0, 0, 0, 0, 0, 0}, "VEC3", 3);
             Json& primitive = file.json["meshes"][0]["primitives"][0];
             primitive["attributes"].update({{"TANGENT", tangent}, {"_TEMPERATURE", temperature}, {"_ID", ids}});
             primitive["targets"] = {{{"POSITION", moved}, {"TANGENT", turned}}};
             file.json["meshes"][0]["weights"] = {0.5};
         },
         "/scene/nodes/0/mesh/primitives/0/targets/0/TANGENT/values/1"},
        {"material extensions with their textures, and texture transforms on every slot",
         [](kaGltfFile& file) {
             file.addImage(pngOf(kaPngPixels::Layout::RGB8, 2, 2, 3));
             file.addImage(pngOf(kaPngPixels::Layout::RGBA8, 2, 2, 5));
             // Texture 0 is used by extensions only: written after the slots' texture, it is renumbered.
             file.json["textures"] = {{{"source", 1}}, {{"source", 0}}};
             const Json moved = {{"KHR_texture_transform", {{"offset", {0.5, 0}}, {"scale", {2, 2}}, {"rotation", 0.25}}}};
             const auto slot = [&](int texCoord) { return Json{{"index", 1}, {"texCoord", texCoord}, {"extensions", moved}}; };
             const Json extensions = {
                 {"KHR_materials_emissive_strength", {{"emissiveStrength", 5}}},
                 {"KHR_materials_clearcoat", {{"clearcoatFactor", 1}, {"clearcoatTexture", {{"index", 0}, {"texCoord", 1}, {"extensions", moved}}},
                                              {"clearcoatNormalTexture", {{"index", 0}, {"scale", 0.5}}}}},
                 {"KHR_materials_sheen", {{"sheenColorFactor", {1, 0, 0}}, {"sheenRoughnessTexture", {{"index", 0}}}}},
                 {"KHR_materials_transmission", {{"transmissionFactor", 0.5}, {"transmissionTexture", {{"index", 0}}}}},
                 {"KHR_materials_volume", {{"thicknessFactor", 1}, {"attenuationDistance", 2}, {"attenuationColor", {1, 0.5, 0.5}}}},
                 {"KHR_materials_ior", {{"ior", 1.4}}},
                 {"KHR_materials_specular", {{"specularFactor", 0.5}, {"specularColorTexture", {{"index", 0}}}}},
                 {"KHR_materials_iridescence", {{"iridescenceFactor", 1}, {"iridescenceThicknessTexture", {{"index", 0}}}}},
                 {"KHR_materials_anisotropy", {{"anisotropyStrength", 0.5}, {"anisotropyTexture", {{"index", 0}}}}},
                 {"KHR_materials_dispersion", {{"dispersion", 0.1}}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", slot(0)}, {"metallicRoughnessTexture", slot(1)}}},
                                        {"normalTexture", slot(1)}, {"occlusionTexture", slot(0)}, {"emissiveTexture", slot(1)},
                                        {"extensions", extensions}},
                                       {{"extensions", {{"KHR_materials_unlit", Json::object()}}}}};
             Json& primitives = file.json["meshes"][0]["primitives"];
             primitives[0]["material"] = 0;
             primitives.push_back(primitives[0]);
             primitives[1]["material"] = 1;
             file.json["extensionsUsed"] = {"KHR_texture_transform", "KHR_materials_unlit"};
             for (const auto& [name, extension] : extensions.items()) file.json["extensionsUsed"].push_back(name);
             file.json["extensionsRequired"] = {"KHR_texture_transform"};
         },
         "/scene/nodes/0/mesh/primitives/0/material/extensions/KHR_materials_clearcoat/clearcoatTexture/index/source/bytes"},
        {"images in encodings only extensions read",
         [](kaGltfFile& file) {
             const std::string ktx2 = std::string("\xabKTX 20\xbb\r\n\x1a\n", 12) + std::string(20, '\1');
             const std::string webp = std::string("RIFF\x10\0\0\0WEBPVP8 ", 16) + std::string(8, '\2');
             file.addImage(pngOf(kaPngPixels::Layout::RGB8, 2, 2, 7));
             for (const auto& [bytes, type] : {std::pair(ktx2, "image/ktx2"), std::pair(webp, "image/webp")})
                 file.json["images"].push_back({{"bufferView", file.view(std::vector<uint8_t>(bytes.begin(), bytes.end()))}, {"mimeType", type}});
             // The second texture has no image the engine reads: only its extension can show it.
             file.json["textures"] = {{{"source", 0}, {"extensions", {{"KHR_texture_basisu", {{"source", 1}}}}}},
                                      {{"extensions", {{"EXT_texture_webp", {{"source", 2}}}}}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}, {"emissiveTexture", {{"index", 1}}}}};
             file.json["meshes"][0]["primitives"][0]["material"] = 0;
             file.json["extensionsUsed"] = {"KHR_texture_basisu", "EXT_texture_webp"};
             file.json["extensionsRequired"] = {"EXT_texture_webp"};
         },
         "/scene/nodes/0/mesh/primitives/0/material/emissiveTexture/index/extensions/EXT_texture_webp/source/bytes"},
        {"extensions the engine does not know and extras, on every object",
         [](kaGltfFile& file) {
             const auto mark = [](Json& object) {
                 object["extensions"]["EXT_unknown"] = {{"kept", true}};
                 object["extras"] = {{"note", "kept"}};
             };
             file.addImage(pngOf(kaPngPixels::Layout::RGB8, 2, 2, 1));
             file.json["samplers"] = {Json::object()};
             file.json["textures"] = {{{"source", 0}, {"sampler", 0}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}};
             file.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 0.7}, {"znear", 0.1}}}}};
             file.json["extensions"]["KHR_lights_punctual"]["lights"] = {{{"type", "point"}}};
             const int joints = file.accessor<uint8_t>(std::vector<uint8_t>(12, 0), "VEC4", 4);
             const int weights = file.accessor<float>({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "VEC4", 4);
             Json& primitive = file.json["meshes"][0]["primitives"][0];
             primitive["attributes"].update({{"JOINTS_0", joints}, {"WEIGHTS_0", weights}});
             primitive["material"] = 0;
             file.json["skins"] = {{{"joints", {3}}}};
             file.json["nodes"][0]["skin"] = 0;
             file.json["nodes"].push_back({{"camera", 0}});
             file.json["nodes"].push_back({{"extensions", {{"KHR_lights_punctual", {{"light", 0}}}}}});
             file.json["nodes"].push_back({{"name", "bone"}});
             file.json["scenes"][0]["nodes"] = {0, 1, 2, 3};
             const int times = file.accessor<float>({0, 1}, "SCALAR", 1);
             const int moves = file.accessor<float>({0, 0, 0, 0, 1, 0}, "VEC3", 3);
             const Json sampler = {{"input", times}, {"output", moves}};
             const Json channel = {{"sampler", 0}, {"target", {{"node", 3}, {"path", "translation"}}}};
             file.json["animations"] = Json::array({{{"samplers", Json::array({sampler})}, {"channels", Json::array({channel})}}});
             for (Json* object : {&file.json["samplers"][0], &file.json["textures"][0], &file.json["images"][0], &file.json["materials"][0],
                                  &file.json["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"], &primitive, &file.json["meshes"][0],
                                  &file.json["nodes"][0], &file.json["nodes"][2], &file.json["scenes"][0], &file.json["cameras"][0],
                                  &file.json["extensions"]["KHR_lights_punctual"]["lights"][0], &file.json["skins"][0], &file.json["animations"][0]})
                 mark(*object);
             file.json["extensions"]["EXT_unknown"] = {{"top", 1}};
             file.json["extensionsUsed"] = {"EXT_unknown", "KHR_lights_punctual"};
         },
         "/scene/nodes/0/mesh/primitives/0/material/pbrMetallicRoughness/baseColorTexture/index/sampler/extras/note"},
        {"quantized attributes", quantize, "/scene/nodes/0/mesh/primitives/0/attributes/COLOR_0/type"},
    };
    for (const kaPropertyFamily& family : families) {
        kaScratchDir scratch;
        kaGltfFile file = familyBase();
        family.add(file);
        kaTest::writeText(scratch / "in.gltf", file.text());
        const Json source = meaningOf(readDocument(scratch / "in.gltf"));
        ASSERT_TRUE(source.contains(Json::json_pointer(family.shownAt))) << family.name << ": " << source.dump();
        // The fields are reflected, so an engine file in between keeps them too.
        for (const char* output : {"out.gltf", "out.glb", "engine.kab"}) {
            std::string warnings;
            const std::vector<std::string> lost = lostByKaoptRun(scratch / "in.gltf", scratch / output, &warnings);
            EXPECT_TRUE(lost.empty()) << family.name << " as " << output << ":\n" << testing::PrintToString(lost);
            EXPECT_EQ(warnings, "") << family.name;
        }
        if (!validatorAvailable()) continue;
        const kaValidation read = validate(scratch / "in.gltf"), written = validate(scratch / "out.glb");
        for (const std::string& message : written.messages)
            EXPECT_TRUE(read.messages.count(message)) << family.name << ": " << written.text;
    }
}

uintmax_t folderBytes(const std::filesystem::path& folder)
{
    uintmax_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) bytes += entry.file_size();
    return bytes;
}

// Every sample model comes back meaning what it meant, with no loss named, no bigger than it came
// (key times and other data shared) and without a validator message the model lacks.
TEST(GltfLossless, SampleModelsKeepEverythingAtTheirSizeAndAddNoValidatorMessages)
{
    const bool validating = validatorAvailable();
    for (const std::filesystem::path& model : sampleModels()) {
        for (const char* extension : {".gltf", ".glb"}) {
            kaScratchDir scratch;
            const std::filesystem::path output = scratch / (model.stem().string() + extension);
            std::string warnings;
            EXPECT_THAT(lostByKaoptRun(model, output, &warnings), testing::IsEmpty()) << model.filename() << " as " << extension;
            EXPECT_THAT(warnings, Not(HasSubstr("LOSS:"))) << model.filename() << " as " << extension;
            EXPECT_LE(folderBytes(scratch.path()), folderBytes(model.parent_path()) * 101 / 100) << model.filename() << " as " << extension;
            if (!validating) continue;
            const kaValidation source = validate(model), exported = validate(output);
            ASSERT_TRUE(source.ran && exported.ran) << source.text << exported.text;
            for (const std::string& message : exported.messages)
                EXPECT_TRUE(source.messages.count(message)) << model.filename() << " as " << extension << ": " << exported.text;
        }
    }
}

// Integer encodings come back as they were read while they hold the values exactly (elements
// padded to four bytes), and the file then declares KHR_mesh_quantization; values they cannot
// hold are written as floats, which need no extension.
TEST(GltfExport, IntegerEncodingsComeBackWhileTheyHoldTheValues)
{
    kaGltfFile file = familyBase();
    quantize(file);
    auto infos = importFile(file);
    ASSERT_TRUE(infos);
    kaScratchDir scratch;
    const auto written = [&](const char* name) {
        std::string error;
        EXPECT_TRUE(kaExportGltf((scratch / name).string(), infos, error)) << error;
        return readDocument(scratch / name).json;
    };
    const auto encodings = [](const Json& document) {
        std::string text;
        for (const char* attribute : {"POSITION", "NORMAL", "TEXCOORD_0", "COLOR_0"}) {
            const Json& accessor = document["accessors"][document["meshes"][0]["primitives"][0]["attributes"][attribute].get<int>()];
            const Json& view = document["bufferViews"][accessor["bufferView"].get<int>()];
            text += std::string(attribute) + " " + accessor["type"].get<std::string>() + " " + accessor["componentType"].dump() +
                    (accessor.value("normalized", false) ? " n" : "") + (view.contains("byteStride") ? " /" + view["byteStride"].dump() : "") + "; ";
        }
        return text + document.value("extensionsRequired", Json::array()).dump();
    };
    EXPECT_EQ(encodings(written("kept.glb")), "POSITION VEC3 5122 /8; NORMAL VEC3 5120 n /4; TEXCOORD_0 VEC2 5123 n; "
                                              "COLOR_0 VEC3 5121 n /4; [\"KHR_mesh_quantization\"]");
    kaVertexArray* vertices = drawnOf(infos)[0]->getVertexArray();
    vertices->positionData()[0] = 0.5f;
    vertices->normalData()[1] = 0.6f;
    vertices->normalData()[2] = 0.8f;
    vertices->colorData()[3] = 0.5f;
    EXPECT_EQ(encodings(written("floats.glb")), "POSITION VEC3 5126; NORMAL VEC3 5126; TEXCOORD_0 VEC2 5123 n; COLOR_0 VEC4 5126; []");
}

// An image is written as the bytes it came in, a JPEG as that JPEG, until its pixels change.
TEST(GltfExport, ChangedPixelsAreEncodedAgainAndUnchangedOnesKeepTheirBytes)
{
    const std::filesystem::path model = kaSamples / "CesiumMan" / "CesiumMan.glb";
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(kaImportGltf(model.string(), infos, error)) << error;
    kaScratchDir scratch;
    const auto exportedImage = [&](const char* name) {
        testing::internal::CaptureStderr();
        EXPECT_TRUE(kaExportGltf((scratch / name).string(), infos, error)) << error;
        testing::internal::GetCapturedStderr();
        const kaGltfDocument document = readDocument(scratch / name);
        return std::make_pair(document.json["images"][0].value("mimeType", ""), imageBytes(document, document.json["images"][0]));
    };
    const kaGltfDocument source = readDocument(model);
    EXPECT_EQ(exportedImage("unchanged.glb"), std::make_pair(std::string("image/jpeg"), imageBytes(source, source.json["images"][0])));
    kaImage* image = nullptr;
    for (kaObject* object : kaCollectReachable({infos}))
        if (!image) image = kaImage::dynamicCast(object);
    ASSERT_TRUE(image);
    image->pixelData()[0] ^= 0xff;
    const auto [changedType, changed] = exportedImage("changed.glb");
    EXPECT_EQ(changedType, "image/png") << "a changed image is no longer the JPEG it came from";
    kaPngPixels decoded;
    ASSERT_TRUE(kaReadPngFromMemory(reinterpret_cast<const uint8_t*>(changed.data()), changed.size(), decoded, error)) << error;
    EXPECT_EQ(decoded.pixels[0], image->pixelData()[0]) << "with the changed pixels";
}

// Counting a file reads each image's size from its header alone, which must give the channels
// that decoding gives: colour keys and palettes with transparency add an alpha channel.
TEST(GltfImport, CountingSizesImagesAsDecodingDoes)
{
    using Layout = kaPngPixels::Layout;
    // A colour key on grey or RGB pixels: a tRNS chunk right after the 33 bytes of signature
    // and header.
    const auto keyed = [](std::vector<uint8_t> png, std::vector<uint8_t> key) {
        std::vector<uint8_t> chunk = {0, 0, 0, uint8_t(key.size()), 't', 'R', 'N', 'S'};
        chunk.insert(chunk.end(), key.begin(), key.end());
        const uLong crc = crc32(0, chunk.data() + 4, uInt(chunk.size() - 4));
        for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(crc >> shift));
        png.insert(png.begin() + 33, chunk.begin(), chunk.end());
        return png;
    };
    const auto indexed = [](uint8_t alpha) {
        kaPngPixels pixels;
        pixels.layout = Layout::Indexed8;
        pixels.width = pixels.height = pixels.bytesPerRow = 2;
        pixels.pixels = {0, 1, 1, 0};
        pixels.palette = {255, 0, 0, 255, 0, 255, 0, alpha};
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(kaWritePngToMemory(pixels, bytes, error)) << error;
        return bytes;
    };
    const std::vector<uint8_t> images[] = {pngOf(Layout::Grey8, 3, 2, 1),
                                           pngOf(Layout::GreyAlpha8, 3, 2, 2),
                                           pngOf(Layout::RGB8, 3, 2, 3),
                                           pngOf(Layout::RGBA8, 3, 2, 4),
                                           keyed(pngOf(Layout::Grey8, 3, 2, 5), {0, 5}),
                                           keyed(pngOf(Layout::RGB8, 3, 2, 6), {0, 6, 0, 7, 0, 8}),
                                           indexed(255),
                                           indexed(128)};
    kaGltfFile file;
    const int positions = triangle(file);
    for (const std::vector<uint8_t>& png : images) {
        const int image = file.addImage(png);
        file.json["textures"].push_back({{"source", image}});
        file.json["materials"].push_back({{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", image}}}}}});
        file.json["meshes"].push_back(
            {{"primitives", {{{"attributes", {{"POSITION", positions}}}, {"material", image}}}}});
        file.json["nodes"].push_back({{"mesh", image}});
        file.json["scenes"][0]["nodes"].push_back(image);
    }
    kaScratchDir scratch;
    kaTest::writeText(scratch / "images.gltf", file.text());
    const auto sizes = [&](kaGltfImportData data) {
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        EXPECT_TRUE(kaImportGltf((scratch / "images.gltf").string(), infos, error, data)) << error;
        std::vector<std::tuple<int, int, int, size_t>> found;
        for (kaObject* object : kaCollectReachable({infos}))
            if (const kaImage* image = kaImage::dynamicCast(object))
                found.emplace_back(image->getWidth(), image->getHeight(), int(image->getFormat()), image->getSize());
        return found;
    };
    const auto whole = sizes(kaGltfImportData::Whole);
    EXPECT_EQ(whole.size(), std::size(images));
    EXPECT_EQ(sizes(kaGltfImportData::Counts), whole);
}

// Bad input is refused naming the file and the fault: the import leaves no scene, and kaopt
// stops with status 2 and writes nothing. Numbers glTF cannot hold are read, but kaopt refuses
// to write them, likewise.
TEST(GltfImport, BadInputIsRefusedWithTheFileNameAndLeavesNothing)
{
    const auto primitive = [](kaGltfFile& file) -> Json& { return file.json["meshes"][0]["primitives"][0]; };
    struct Case {
        std::function<void(kaGltfFile&)> change;
        const char* reason;
        const char* text = nullptr;  // the whole file instead
        bool read = false;           // the import reads it; writing glTF refuses it
    };
    const Case cases[] = {
        {nullptr, "parse error", "{\"asset\": {\"version\": \"2.0\"}, \"nodes\": ["},
        {nullptr, "", ""},
        {[](kaGltfFile& file) { file.json["accessors"][0]["count"] = 4; }, "needs 48 bytes"},
        {[&](kaGltfFile& file) {
             primitive(file)["indices"] = file.accessor<uint16_t>({0, 1, 3}, "SCALAR", 1);
         },
         "vertex index 3, out of range"},
        {[](kaGltfFile& file) {
             file.json["extensionsRequired"] = file.json["extensionsUsed"] = Json::array({"KHR_draco_mesh_compression"});
         },
         "KHR_draco_mesh_compression"},
        {[](kaGltfFile& file) {
             file.json["nodes"] = {{{"children", {2}}}, {{"children", {2}}}, Json::object()};
         },
         "node 2 has more than one parent"},
        {[](kaGltfFile& file) {
             file.json["nodes"] = {{{"children", {1}}}, {{"children", {0}}}};
         },
         "cycle"},
        {[&](kaGltfFile& file) {
             primitive(file)["attributes"]["JOINTS_0"] = file.accessor<uint8_t>({0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}, "VEC4", 4);
             primitive(file)["attributes"]["WEIGHTS_0"] = file.accessor<float>({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, "VEC4", 4);
             file.json["nodes"] = {{{"mesh", 0}, {"skin", 0}}, {{"name", "bone"}}};
             file.json["skins"] = {{{"joints", {1}}}};
         },
         "joint index 1, out of range for 1 joints"},
        {[](kaGltfFile& file) {
             file.bin.clear();  // so that the buffer below stays the file's
             file.json["buffers"] = {{{"byteLength", 36}, {"uri", "missing.bin"}}};
         },
         "missing.bin"},
        {[&](kaGltfFile& file) {
             file.json["images"] = {{{"uri", "data:image/png;base64,AAAA"}}};
             file.json["textures"] = {{{"source", 0}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}};
             primitive(file)["material"] = 0;
         },
         "image 0"},
        {[&](kaGltfFile& file) {
             // A sound header over pixel data cut short: found only once the image is decoded.
             std::vector<uint8_t> png = pngOf(kaPngPixels::Layout::RGB8, 64, 64, 5);
             png.resize(png.size() / 2);
             file.json["images"] = {
                 {{"uri", "data:image/png;base64," + tinygltf::base64_encode(png.data(), unsigned(png.size()))}}};
             file.json["textures"] = {{{"source", 0}}};
             file.json["materials"] = {{{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}};
             primitive(file)["material"] = 0;
         },
         "image 0 \"image0\": the image cannot be decoded"},
        {[&](kaGltfFile& file) { primitive(file)["attributes"]["POSITION"] = 7; }, "accessor 7"},
        {[](kaGltfFile& file) {
             file.json["nodes"][0]["translation"] = {1e39, 0, 0};
         },
         "node 0 \"prop\"", nullptr, true},
        {[&](kaGltfFile& file) {
             primitive(file)["attributes"]["POSITION"] = file.accessor<float>({0, 0, 0, 1, 0, 0, 0, std::nanf(""), 0}, "VEC3", 3);
         },
         "POSITION) holds numbers that are not finite", nullptr, true},
        {[](kaGltfFile& file) {
             file.json["cameras"] = {{{"name", "eye"}, {"type", "perspective"}, {"perspective", {{"yfov", 1}, {"znear", 0}}}}};
             file.json["nodes"][0]["camera"] = 0;
         },
         "camera \"eye\"", nullptr, true},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.reason);
        kaScratchDir scratch;
        const std::string path = (scratch / "in.gltf").string();
        kaGltfFile file = familyBase();
        file.json["nodes"][0]["name"] = "prop";
        if (bad.change) bad.change(file);
        kaTest::writeText(path, bad.text ? bad.text : file.text());
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        EXPECT_EQ(kaImportGltf(path, infos, error), bad.read);
        EXPECT_EQ(bool(infos), bad.read);
        EXPECT_THAT(error, StartsWith(bad.read ? "" : path + ": "));
        const kaTest::kaRunResult run = kaTest::runKaopt("convert '" + path + "' '" + (scratch / "out.gltf").string() + "'");
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.err, HasSubstr(bad.read ? scratch.path().string() : error));
        EXPECT_THAT(run.err, HasSubstr(bad.reason));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1) << "only the input";
    }
}

// JSON is read only as UTF-8 and nested at most 512 deep, extras included: deeper nesting is
// refused where it starts rather than recursed into until the stack runs out.
TEST(GltfImport, JsonIsReadOnlyAsUtf8AndAtMost512Deep)
{
    const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const std::string head = R"({"asset": {"version": "2.0"}, "extras": )";
    const std::string tooDeep = "JSON nested more than 512 deep at byte " + std::to_string(head.size() + 511);
    const std::pair<std::string, std::string> cases[] = {
        {head + nested(511) + "}", ""},
        {head + nested(512) + "}", tooDeep},
        {head + nested(1'000'000) + "}", tooDeep},
        {"{\"asset\": {\"version\": \"2.0\"}, \"nodes\": [{\"name\": \"\xff\"}]}",
         "JSON parse error at byte 50: Invalid encoding in string."},
    };
    kaScratchDir scratch;
    const std::string path = (scratch / "in.gltf").string();
    for (const auto& [text, reason] : cases) {
        kaTest::writeText(path, text);
        kaSmartPointer<kaInfoList> infos;
        std::string error;
        EXPECT_EQ(kaImportGltf(path, infos, error), reason.empty());
        EXPECT_EQ(error, reason.empty() ? "" : path + ": " + reason);
    }
}

// Numbers are read to the nearest double, so that extras are written back with every digit.
TEST(GltfImport, NumbersAreReadToTheNearestDouble)
{
    const Json numbers = {192.37756155686634, 987.3054564255601, 0.13042583539981933, -458.29684811816253};
    kaScratchDir scratch;
    const std::string path = (scratch / "in.gltf").string();
    kaTest::writeText(path, Json{{"asset", {{"version", "2.0"}, {"extras", numbers}}}}.dump());
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(kaImportGltf(path, infos, error)) << error;
    EXPECT_EQ(Json::parse(infos->getShared(0)->getExtras()), numbers);
}

// Removed vertex components leave the exported primitives and the morph targets.
TEST(GltfKaopt, RemovedComponentsLeaveTheExportedPrimitivesAndMorphTargets)
{
    kaScratchDir scratch;
    runExample("remove-components", "--example", scratch / "scene.gltf");
    const Json gltf = Json::parse(kaTest::readText(scratch / "scene.gltf"));
    // Only the second-generation barrel, drawn in both yards, keeps normals and coordinates.
    int keeping = 0, targets = 0;
    for (const Json& mesh : gltf["meshes"])
        for (const Json& primitive : mesh["primitives"]) {
            const Json& attributes = primitive["attributes"];
            if (attributes.contains("NORMAL") || attributes.contains("TEXCOORD_0")) {
                EXPECT_TRUE(attributes.size() == 3 && attributes.contains("NORMAL") && attributes.contains("TEXCOORD_0"));
                ++keeping;
            }
            for (const Json& target : primitive.value("targets", Json::array()))
                targets += 1 + 100 * target.contains("NORMAL");
        }
    EXPECT_EQ(keeping, 2);
    EXPECT_EQ(targets, 2) << "the face's two morph targets, without normals";
}

} // namespace kaGltfTest
