#include "tools/kaopt/kaExampleScene.h"

#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaTransform.h"

#include <cmath>

namespace Lode::Tools {

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using Lode::Utils::kaMatrixObject;

namespace {

kaVertexFormat formatOf(bool colors, int textureSets, int blendWeights)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setColors(colors);
    format.setTextureCoordSetCount(textureSets);
    format.setBlendWeightCount(blendWeights);
    format.setBlendIndexCount(blendWeights);
    return format;
}

// ---- geometry ----

constexpr int kBoxVertexCount = 24;  // four corners per face, so that each face has its own normal
constexpr int kBoxTriangleCount = 12;

// The two triangles of every face of a box built by makeBox.
kaSmartPointer<kaIndexArray> makeBoxIndices()
{
    auto indices = make<kaIndexArray>();
    indices->setCount(3 * kBoxTriangleCount);
    uint32_t* index = indices->data();
    for (uint32_t face = 0; face < 6; ++face) {
        const uint32_t corner = 4 * face;
        for (uint32_t offset : {0u, 1u, 2u, 0u, 2u, 3u}) *index++ = corner + offset;
    }
    return indices;
}

// A box around center with the given full size: positions, normals, vertex colours (tinted by
// the face direction) and texture coordinates for the sets the format names.
template <class VertexArray>
kaSmartPointer<VertexArray> makeBox(kaVertexFormat format, const kaVec3f& center, const kaVec3f& size)
{
    struct Face {
        kaVec3f normal, u, v;
    };
    const Face faces[6] = {
        {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}, {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
    };
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    auto array = make<VertexArray>();
    array->setup(format, kBoxVertexCount, 0, 0);
    for (int face = 0; face < 6; ++face) {
        const Face& f = faces[face];
        for (int c = 0; c < 4; ++c) {
            const int v = 4 * face + c;
            const kaVec3f unit = f.normal + f.u * corners[c][0] + f.v * corners[c][1];
            array->setPosition(v, {center.x + 0.5f * size.x * unit.x, center.y + 0.5f * size.y * unit.y,
                                   center.z + 0.5f * size.z * unit.z});
            array->setNormal(v, f.normal);
            const float rgba[4] = {0.5f + 0.5f * f.normal.x, 0.5f + 0.5f * f.normal.y, 0.5f + 0.5f * f.normal.z, 1};
            array->setColor(v, rgba);
            for (int set = 0; set < format.getTextureCoordSetCount(); ++set)
                array->setTexCoord(v, set, {0.5f + 0.5f * corners[c][0], 0.5f + 0.5f * corners[c][1]});
        }
    }
    array->closeSetup();
    return array;
}

// The side of a cylinder as one triangle strip, drawn without indices.
kaSmartPointer<kaVertexArray2> makeBarrelSide(int segments, float radius, float height)
{
    auto array = make<kaVertexArray2>();
    array->setup(formatOf(false, 1, 0), 2 * (segments + 1), 0, 0);
    for (int s = 0; s <= segments; ++s) {
        const float angle = 6.28318531f * static_cast<float>(s) / static_cast<float>(segments);
        const kaVec3f normal(std::cos(angle), 0, std::sin(angle));
        for (int end = 0; end < 2; ++end) {
            const int v = 2 * s + end;
            array->setPosition(v, {radius * normal.x, height * static_cast<float>(end), radius * normal.z});
            array->setNormal(v, normal);
            array->setTexCoord(v, 0, {static_cast<float>(s) / static_cast<float>(segments), static_cast<float>(end)});
        }
    }
    array->closeSetup();
    return array;
}

// Binds every vertex to weightCount bones out of boneCount (weightCount <= boneCount), each
// vertex to different bones with different weights. The weights are deliberately not sorted,
// so that sorting and reduction have work to show.
void bindToBones(kaVertexArray* array, int weightCount, int boneCount)
{
    float* weights = array->blendWeightData();
    uint8_t* indices = array->blendIndexData();
    for (int v = 0; v < array->getVertexCount(); ++v) {
        float sum = 0;
        for (int k = 0; k < weightCount; ++k) {
            const float raw = static_cast<float>(1 + (v * 3 + k * 5) % 7);
            weights[v * weightCount + k] = raw;
            indices[v * weightCount + k] = static_cast<uint8_t>((v + k) % boneCount);
            sum += raw;
        }
        for (int k = 0; k < weightCount; ++k) weights[v * weightCount + k] /= sum;
    }
}

template <class Attr, class VertexArray>
kaSmartPointer<Attr> makeGeometryAttr(const char* name, VertexArray* vertices, kaIndexArray* indices,
                                      KA_GFX_DRAW type, int primitiveCount)
{
    auto attr = make<Attr>(name);
    // The box is fitted to the vertices when they are installed.
    attr->setBoundingBox(make<kaBoundingBox>());
    attr->configureVertexArray(vertices);
    attr->setIndexArray(indices);
    attr->setPrimitiveType(type);
    attr->setPrimitiveCount(primitiveCount);
    return attr;
}

kaSmartPointer<kaGeometry> makeGeometry(const char* name, std::initializer_list<kaAttr*> attrs)
{
    auto geometry = make<kaGeometry>(name);
    for (kaAttr* attr : attrs) geometry->appendAttr(attr);
    return geometry;
}

// ---- appearance ----

kaSmartPointer<kaMaterialAttr> makeMaterial(const char* name, const kaVec4f& diffuse, const kaVec4f& specular,
                                            float shininess)
{
    auto material = make<kaMaterialAttr>(name);
    material->setAmbient(diffuse * 0.25f);
    material->setDiffuse(diffuse);
    material->setSpecular(specular);
    material->setShininess(shininess);
    return material;
}

// A texture with one image of a small deterministic pattern; the palettised format gets a
// palette of four colours.
kaSmartPointer<kaTextureAttr> makeTexture(const char* name, const char* imageName, int width, int height,
                                          KA_GFX_TEXTURE_FORMAT format, KA_GFX_TEXTURE_MODE mode)
{
    auto image = make<kaImage>(imageName);
    image->setup(width, height, format);
    const int bytesPerPixel = kaGetBytesPerPixel(format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < bytesPerPixel; ++c) {
                const int value = format == KA_GFX_TEXTURE_FORMAT_PALETTE_8 ? (x / 2 + y / 2) % 4
                                                                            : ((x ^ y) * 37 + c * 91) & 0xFF;
                image->pixelData()[y * image->getBytesPerRow() + x * bytesPerPixel + c] = static_cast<uint8_t>(value);
            }
    if (format == KA_GFX_TEXTURE_FORMAT_PALETTE_8) {
        const uint8_t palette[4][4] = {{200, 30, 30, 255}, {240, 240, 240, 255}, {30, 30, 200, 255}, {0, 0, 0, 255}};
        image->setPaletteEntryCount(4);
        for (int entry = 0; entry < 4; ++entry)
            for (int c = 0; c < 4; ++c) image->paletteData()[4 * entry + c] = palette[entry][c];
    }
    auto texture = make<kaTextureAttr>(name);
    texture->setImage(image, 0);
    texture->setMipMapMode(mode);
    return texture;
}

kaSmartPointer<kaLightAttr> makeLight(const char* name, KA_GFX_LIGHT_TYPE type, const kaVec3f& position,
                                      kaVec3f direction, const kaVec4f& color)
{
    auto light = make<kaLightAttr>(name);
    light->setType(type);
    light->setPosition(position);
    direction.normalize();
    light->setDirection(direction);
    light->setColor(color);
    return light;
}

kaSmartPointer<kaTransform> makeTransform(const char* name, const kaVec3f& translation, bool animated)
{
    auto transform = make<kaTransform>(name);
    kaMatrix44f matrix;
    matrix.makeTranslation(translation);
    transform->setMatrix(matrix);
    transform->setAnimated(animated);
    return transform;
}

// ---- the character ----

// The joints in skeleton order (their blend indices), with their parents and bind positions.
struct JointDefinition {
    const char* name;
    int parent;
    kaVec3f position;
};
const JointDefinition kJoints[] = {
    {"hip", -1, {0, 1.0f, 0}},        {"spine", 0, {0, 1.25f, 0}},     {"chest", 1, {0, 1.5f, 0}},
    {"head", 2, {0, 1.8f, 0}},        {"arm_L", 2, {0.35f, 1.5f, 0}},  {"arm_R", 2, {-0.35f, 1.5f, 0}},
    {"leg_L", 0, {0.12f, 0.5f, 0}},   {"leg_R", 0, {-0.12f, 0.5f, 0}},
};
constexpr int kJointCount = sizeof kJoints / sizeof kJoints[0];
enum { Hip, Spine, Chest, Head, ArmL, ArmR, LegL, LegR };

kaSmartPointer<kaVertexBlendMatrixListAttr> makePalette(const char* name, const kaSmartPointer<kaJoint>* joints,
                                                        std::initializer_list<int> blendIndices)
{
    auto palette = make<kaVertexBlendMatrixListAttr>(name);
    for (int joint : blendIndices) palette->appendMatrix(joints[joint]->getBlendingMatrix());
    return palette;
}

// A first-generation morph of the face with two sparse targets: the first moves positions and
// normals of a few vertices, the second positions only.
kaSmartPointer<kaMorphInstance> makeFace(kaIndexArray* boxIndices)
{
    auto vertices = makeBox<kaVertexArray>(formatOf(false, 0, 6), {0, 1.8f, 0.05f}, {0.25f, 0.3f, 0.25f});
    bindToBones(vertices, 6, kJointCount);
    auto base = make<kaMorphBase>();
    base->setVertexArray(vertices);
    const struct {
        std::initializer_list<int> vertices;
        kaVec3f move;
        bool normals;
    } targets[] = {{{16, 17, 18, 19}, {0, 0.02f, 0.01f}, true}, {{8, 9, 10}, {0, -0.01f, 0}, false}};
    for (const auto& target : targets) {
        auto positionIndices = make<kaIntList>();
        auto positionMoves = make<kaVec3fList>();
        auto normalIndices = make<kaIntList>();
        auto normalMoves = make<kaVec3fList>();
        for (int v : target.vertices) {
            positionIndices->append(v);
            positionMoves->append(target.move);
            normalIndices->append(v);
            normalMoves->append({0, 0.1f, 0});
        }
        base->appendTarget(positionMoves, positionIndices, target.normals ? normalMoves.get() : nullptr,
                           target.normals ? normalIndices.get() : nullptr);
    }
    auto sequence = make<kaMorphSequence>("face_expressions");
    sequence->getInitialWeights()->append(0.0f);
    sequence->getInitialWeights()->append(0.25f);

    auto face = make<kaMorphInstance>("face");
    // The drawn attribute and the morph base share the vertices the morph deforms.
    face->appendAttr(makeGeometryAttr<kaGeometryAttr1_5>("face_mesh", vertices.get(), boxIndices,
                                                         KA_GFX_DRAW_TRIANGLES, kBoxTriangleCount));
    face->setBase(base);
    face->setMorphSequence(sequence);
    return face;
}

// Three rotation keys over one second: swung by swing radians about axis, at rest, swung back.
kaSmartPointer<kaAnimationBinding> makeBinding(const char* name, const kaVec3f& axis, float swing)
{
    auto binding = make<kaAnimationBinding>(name);
    for (int key = 0; key < 3; ++key) {
        const float time = 0.5f * static_cast<float>(key);
        binding->appendRotationKey(time, kaQuatf(axis, swing * static_cast<float>(1 - key)));
    }
    return binding;
}

// The character: skinned body and arms and a morphing face under a joint hierarchy, and the
// animation database with its skeleton and walk animation.
kaSmartPointer<kaNode> makeCharacter(kaIndexArray* boxIndices, kaAnimationDatabase* database)
{
    kaSmartPointer<kaJoint> joints[kJointCount];
    auto skeleton = make<kaSkeleton>("character_skeleton");
    for (int j = 0; j < kJointCount; ++j) {
        joints[j] = make<kaJoint>(kJoints[j].name);
        kaMatrix44f bind, inverse;
        bind.makeTranslation(kJoints[j].position);
        inverse.invert(bind);
        auto blending = make<kaMatrixObject>();
        blending->setMatrix(bind);
        joints[j]->setBlendingMatrix(blending);
        // Each joint is placed relative to its parent, so that the hierarchy's accumulated
        // transforms are the bind pose.
        kaMatrix44f local;
        const int parent = kJoints[j].parent;
        local.makeTranslation(parent >= 0 ? kJoints[j].position - kJoints[parent].position : kJoints[j].position);
        joints[j]->setMatrix(local);
        skeleton->appendJoint(kJoints[j].name, inverse);
        if (kJoints[j].parent >= 0) joints[kJoints[j].parent]->appendChild(joints[j]);
    }

    auto bodyVertices = makeBox<kaVertexArray>(formatOf(false, 1, 8), {0, 1.0f, 0}, {0.5f, 1.0f, 0.3f});
    bindToBones(bodyVertices, 8, kJointCount);
    joints[Hip]->appendChild(makeGeometry(
        "body", {makePalette("body_palette", joints, {Hip, Spine, Chest, Head, ArmL, ArmR, LegL, LegR}),
                 makeGeometryAttr<kaGeometryAttr1_5>("body_mesh", bodyVertices.get(), boxIndices,
                                                     KA_GFX_DRAW_TRIANGLES, kBoxTriangleCount)}));

    // The arms draw from a palette of their own, a part of the skeleton in another order.
    auto armVertices = makeBox<kaVertexArray>(formatOf(true, 1, 4), {0, 1.5f, 0}, {1.0f, 0.15f, 0.15f});
    bindToBones(armVertices, 4, 4);
    joints[Chest]->appendChild(makeGeometry(
        "arms", {makePalette("arm_palette", joints, {Chest, ArmL, ArmR, Spine}),
                 makeGeometryAttr<kaGeometryAttr1_5>("arm_mesh", armVertices.get(), boxIndices, KA_GFX_DRAW_TRIANGLES,
                                                     kBoxTriangleCount)}));
    joints[Head]->appendChild(makeFace(boxIndices));

    auto walk = make<kaAnimation>("walk");
    walk->appendBinding(makeBinding("hip", {0, 1, 0}, 0.1f));
    walk->appendBinding(makeBinding("leg_L", {1, 0, 0}, 0.5f));
    walk->appendBinding(makeBinding("leg_R", {1, 0, 0}, -0.5f));
    walk->appendBinding(makeBinding("arm_L", {1, 0, 0}, -0.3f));
    walk->appendBinding(makeBinding("arm_R", {1, 0, 0}, 0.3f));
    database->appendSkeleton(skeleton);
    database->appendAnimation(walk);

    auto look = make<kaAttrSet>("character_look");
    look->appendAttr(makeMaterial("skin", {0.8f, 0.6f, 0.5f, 1}, {0.3f, 0.3f, 0.3f, 1}, 16));
    look->appendAttr(makeTexture("skin", "textures/skin.png", 8, 8, KA_GFX_TEXTURE_FORMAT_RGB_8,
                                 KA_GFX_TEXTURE_MODE_MIPMAP));
    look->appendChild(joints[Hip]);
    auto character = makeTransform("character", {-2, 0, 0}, false);
    character->appendChild(look);
    return character;
}

// ---- the set ----

// Two prop yards under static lights: a crate in each (two nodes of one name) and one barrel
// node placed in both.
kaSmartPointer<kaNode> makeSite(kaIndexArray* boxIndices)
{
    auto barrelVertices = makeBarrelSide(8, 0.3f, 0.9f);
    auto barrel = makeGeometry("barrel", {makeGeometryAttr<kaGeometryAttr2>("barrel_mesh", barrelVertices.get(),
                                                                            nullptr, KA_GFX_DRAW_TRIANGLE_STRIP, 16)});
    auto makeCrate = [&](const kaVec3f& center) {
        auto vertices = makeBox<kaVertexArray>(formatOf(true, 1, 0), center, {1, 1, 1});
        return makeGeometry("crate", {makeGeometryAttr<kaGeometryAttr1_5>("crate_mesh", vertices.get(), boxIndices,
                                                                          KA_GFX_DRAW_TRIANGLES, kBoxTriangleCount)});
    };

    auto yard = make<kaAttrSet>("yard");
    yard->appendAttr(makeMaterial("wood", {0.6f, 0.45f, 0.3f, 1}, {0.2f, 0.15f, 0.1f, 1}, 8));
    yard->appendAttr(makeTexture("wood", "textures/wood.png", 16, 16, KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                 KA_GFX_TEXTURE_MODE_MIPMAP));
    yard->appendChild(makeCrate({2, 0.5f, 0}));
    yard->appendChild(barrel);

    auto dock = make<kaAttrSet>("dock");
    dock->appendAttr(makeMaterial("metal", {0.5f, 0.5f, 0.55f, 1}, {0.9f, 0.9f, 0.9f, 1}, 64));
    dock->appendAttr(makeTexture("metal", "textures/metal.png", 16, 8, KA_GFX_TEXTURE_FORMAT_RGB_8,
                                 KA_GFX_TEXTURE_MODE_NONE));
    dock->appendChild(makeCrate({4, 0.5f, 0}));
    dock->appendChild(barrel);

    auto lights = make<kaLightSet>("site_lights");
    lights->appendLight(makeLight("sun", KA_GFX_LIGHT_TYPE_DIRECTIONAL, {0, 0, 0}, {-0.3f, -1, -0.2f},
                                  {1, 0.95f, 0.9f, 1}));
    lights->appendLight(makeLight("yard_lamp", KA_GFX_LIGHT_TYPE_POINT, {3, 2.5f, 1}, {0, -1, 0}, {1, 0.8f, 0.5f, 1}));
    lights->appendChild(yard);
    lights->appendChild(dock);
    return lights;
}

// A lantern swinging on an animated transform, lit by its own light set and textured with a
// palettised sign.
kaSmartPointer<kaNode> makeLantern(kaIndexArray* boxIndices, kaAnimationDatabase* database)
{
    auto vertices = makeBox<kaVertexArray>(formatOf(true, 1, 0), {0, -0.2f, 0}, {0.2f, 0.3f, 0.2f});
    auto lantern = makeGeometry(
        "lantern", {makeTexture("sign", "textures/sign.png", 8, 8, KA_GFX_TEXTURE_FORMAT_PALETTE_8,
                                KA_GFX_TEXTURE_MODE_MIPMAP),
                    makeGeometryAttr<kaGeometryAttr1_5>("lantern_mesh", vertices.get(), boxIndices,
                                                        KA_GFX_DRAW_TRIANGLES, kBoxTriangleCount)});
    auto lights = make<kaLightSet>("lantern_lights");
    lights->appendLight(makeLight("lantern_flame", KA_GFX_LIGHT_TYPE_POINT, {0, -0.2f, 0}, {0, -1, 0},
                                  {1, 0.6f, 0.2f, 1}));
    lights->appendChild(lantern);
    auto swing = makeTransform("lantern_swing", {1, 3, 2}, true);
    swing->appendChild(lights);

    auto animation = make<kaAnimation>("lantern_swing");
    animation->appendBinding(makeBinding("lantern_swing", {0, 0, 1}, 0.4f));
    database->appendAnimation(animation);
    return swing;
}

} // namespace

kaSmartPointer<kaInfoList> kaMakeExampleScene()
{
    auto database = make<kaAnimationDatabase>("character_animation");
    auto boxIndices = makeBoxIndices();
    auto root = make<kaGroup>("root");
    root->appendChild(makeCharacter(boxIndices, database));
    root->appendChild(makeSite(boxIndices));
    root->appendChild(makeLantern(boxIndices, database));

    auto sceneInfo = make<kaSceneInfo>("example");
    sceneInfo->setSceneGraph(root);
    auto infos = make<kaInfoList>();
    infos->append(sceneInfo);
    infos->append(database);
    return infos;
}

} // namespace Lode::Tools
