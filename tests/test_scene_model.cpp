// The scene model: attribute sets and their attributes, morph data, skeletons and animation,
// the graph and attribute iterators, and the lifetime of a whole scene built from them.
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaWalk.h"
#include "host/opt/kaAnimationDatabaseApply.h"
#include "host/opt/kaIterateAttr.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaLod.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSceneModel.h"
#include "host/sg/kaTransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using namespace Lode::Math;
using namespace Lode::Utils;
using namespace Lode::Opt;

namespace kaSceneModelTest {

kaSmartPointer<kaVertexArray> makeArray(kaVertexFormat format, int vertexCount)
{
    auto array = make<kaVertexArray>();
    array->setup(format, vertexCount, 0, 0);
    array->closeSetup();
    return array;
}

kaVertexFormat skinnedFormat(int blendWeights)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setBlendWeightCount(blendWeights);
    format.setBlendIndexCount(blendWeights);
    return format;
}

std::vector<std::string> names(const std::vector<kaNode*>& nodes)
{
    std::vector<std::string> result;
    for (const kaNode* node : nodes) result.push_back(node->getName() ? node->getName() : "<null>");
    return result;
}

std::vector<kaNode*> walkOfType(kaIterateGraph& walk, kaNode* start, const kaMetaObject* meta)
{
    std::vector<kaNode*> visited;
    for (kaNode* node = walk.beginOfType(start, meta); node; node = walk.getNextOfType(meta))
        visited.push_back(node);
    return visited;
}

void expectNear(const kaVec3f& actual, const kaVec3f& expected)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-5f);
    EXPECT_NEAR(actual.y, expected.y, 1e-5f);
    EXPECT_NEAR(actual.z, expected.z, 1e-5f);
}

// ---- attribute sets and attributes ----

TEST(SceneModelAttrs, GeometryAttributesKeepTheirListPositionAmongOtherAttributes)
{
    auto geometry = make<kaGeometry>("mesh");
    auto material = make<kaMaterialAttr>();
    auto first = make<kaGeometryAttr1_5>();
    auto texture = make<kaTextureAttr>();
    auto second = make<kaGeometryAttr2>();
    for (kaAttr* attr : std::initializer_list<kaAttr*>{material, first, texture, second}) geometry->appendAttr(attr);

    EXPECT_EQ(geometry->getAttrCount(), 4);
    EXPECT_EQ(geometry->getAttrs()->getCount(), 4);
    EXPECT_EQ(geometry->getGeometryAttrCount(), 4);
    EXPECT_EQ(geometry->countGeometryAttrs(), 2);
    EXPECT_EQ(geometry->getGeometryAttr(0), nullptr);
    EXPECT_EQ(geometry->getGeometryAttr(1), first.get());
    EXPECT_EQ(geometry->getGeometryAttr(2), nullptr);
    EXPECT_EQ(geometry->getGeometryAttr(3), second.get());
    EXPECT_EQ(geometry->getAttr(2), texture.get());
    EXPECT_EQ(geometry->getAttr(-1), nullptr);
    EXPECT_EQ(geometry->getAttr(4), nullptr);
    EXPECT_EQ(geometry->getGeometryAttr(4), nullptr);

    // Both generations are geometry attributes; they are not each other.
    EXPECT_NE(kaGeometryAttr::dynamicCast(first.get()), nullptr);
    EXPECT_FALSE(first->isOfType(kaGeometryAttr2::getClassMetaSafe()));
    EXPECT_EQ(kaGeometryAttr1_5::dynamicCast(second.get()), nullptr);

    // The set holds a reference to each attribute and gives it back on removal.
    EXPECT_EQ(material->getRefCount(), 2);
    EXPECT_TRUE(geometry->removeAttr(material));
    EXPECT_FALSE(geometry->removeAttr(material));
    EXPECT_EQ(material->getRefCount(), 1);
    EXPECT_EQ(geometry->getGeometryAttr(0), first.get());
    EXPECT_EQ(geometry->countGeometryAttrs(), 2);
}

TEST(SceneModelAttrs, GeometryAttrReportsTheFormatAndCountOfItsVertexArray)
{
    auto attr = make<kaGeometryAttr1_5>();
    EXPECT_EQ(attr->getVertexFormat().getWord(), 0u);
    EXPECT_EQ(attr->getVertexCount(), 0);
    EXPECT_EQ(attr->getPrimitiveType(), KA_GFX_DRAW_TRIANGLES);

    // Without a bounding box, installing an array makes none.
    auto array = makeArray(skinnedFormat(4), 3);
    attr->configureVertexArray(array);
    EXPECT_EQ(attr->getVertexArray(), array.get());
    EXPECT_EQ(attr->getVertexFormat(), skinnedFormat(4));
    EXPECT_EQ(attr->getVertexFormat().getBlendWeightCount(), 4);
    EXPECT_EQ(attr->getVertexCount(), 3);
    EXPECT_EQ(attr->getBoundingBox(), nullptr);

    // A box the attribute has is fitted to the positions of each array it is configured with.
    auto box = make<kaBoundingBox>();
    EXPECT_TRUE(box->isEmpty());
    attr->setBoundingBox(box);
    auto reduced = makeArray(skinnedFormat(2), 2);
    reduced->setPosition(0, {1.0f, -2.0f, 3.0f});
    reduced->setPosition(1, {-1.0f, 4.0f, 0.5f});
    attr->configureVertexArray(reduced);
    EXPECT_EQ(attr->getVertexFormat().getBlendWeightCount(), 2);
    EXPECT_EQ(attr->getVertexCount(), 2);
    EXPECT_EQ(array->getRefCount(), 1) << "the replaced array is let go";
    EXPECT_FALSE(box->isEmpty());
    expectNear(box->getMinimum(), {-1.0f, -2.0f, 0.5f});
    expectNear(box->getMaximum(), {1.0f, 4.0f, 3.0f});

    attr->setPrimitiveCount(-4);
    attr->setOffset(-1);
    EXPECT_EQ(attr->getPrimitiveCount(), 0);
    EXPECT_EQ(attr->getOffset(), 0);
}

TEST(SceneModelAttrs, TextureImagesByLevel)
{
    auto texture = make<kaTextureAttr>();
    auto level0 = make<kaImage>("wall.png");
    auto level2 = make<kaImage>("wall-2.png");
    EXPECT_EQ(texture->getImageCount(), 0);
    EXPECT_EQ(texture->getImage(0), nullptr);

    // Setting a level beyond the count extends it, with empty levels between.
    texture->setImage(level2, 2);
    texture->setImage(level0, 0);
    EXPECT_EQ(texture->getImageCount(), 3);
    EXPECT_EQ(texture->getImage(0), level0.get());
    EXPECT_EQ(texture->getImage(1), nullptr);
    EXPECT_EQ(texture->getImage(2), level2.get());
    EXPECT_EQ(texture->getImage(3), nullptr);
    EXPECT_EQ(texture->getImage(-1), nullptr);

    // Shrinking lets go of the higher levels.
    EXPECT_EQ(level2->getRefCount(), 2);
    texture->setImageCount(1);
    EXPECT_EQ(texture->getImageCount(), 1);
    EXPECT_EQ(level2->getRefCount(), 1);
    texture->setImage(nullptr, 0);
    EXPECT_EQ(texture->getImage(0), nullptr);
    EXPECT_EQ(level0->getRefCount(), 1);

    EXPECT_EQ(texture->getMipMapMode(), KA_GFX_TEXTURE_MODE_NONE);
    texture->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);
    texture->setMinFilter(KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(texture->getMipMapMode(), KA_GFX_TEXTURE_MODE_MIPMAP);
    EXPECT_EQ(texture->getMinFilter(), KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(texture->getMagFilter(), KA_GFX_TEXTURE_FILTER_LINEAR);
    // The enumerations print by name, as dumps and scripts show them.
    EXPECT_EQ(texture->getMetaField("_minFilter")->toText(texture), "LinearMipmapLinear");
}

TEST(SceneModelAttrs, MatrixPaletteSharesTheMatrixObjects)
{
    auto palette = make<kaVertexBlendMatrixListAttr>();
    auto joint = make<kaJoint>("hip");
    ASSERT_NE(joint->getBlendingMatrix(), nullptr) << "every joint starts with its own matrix";

    palette->setMatrixCount(3);
    EXPECT_EQ(palette->getMatrixCount(), 3);
    EXPECT_EQ(palette->getMatrixPointer(1), nullptr);
    palette->setMatrixPointer(1, joint->getBlendingMatrix());
    EXPECT_EQ(palette->getMatrixPointer(1), joint->getBlendingMatrix());
    EXPECT_EQ(palette->getMatrixPointer(3), nullptr);
    EXPECT_EQ(palette->getMatrixPointer(-1), nullptr);

    kaMatrix44f moved;
    moved.makeTranslation({0.0f, 1.0f, 0.0f});
    joint->getBlendingMatrix()->setMatrix(moved);
    EXPECT_EQ(palette->getMatrixPointer(1)->getMatrix(), moved);

    EXPECT_EQ(joint->getBlendingMatrix()->getRefCount(), 2);
    palette->setMatrixCount(1);
    EXPECT_EQ(palette->getMatrixCount(), 1);
    EXPECT_EQ(joint->getBlendingMatrix()->getRefCount(), 1);
}

TEST(SceneModelAttrs, MaterialAndLightStartFromUsableDefaults)
{
    auto material = make<kaMaterialAttr>();
    EXPECT_EQ(material->getDiffuse(), kaVec4f(0.8f, 0.8f, 0.8f, 1.0f));
    EXPECT_EQ(material->getSpecular(), kaVec4f(0.0f, 0.0f, 0.0f, 1.0f));
    material->setSpecular(kaVec4f(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(material->getSpecular(), kaVec4f(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(material->getDiffuse(), kaVec4f(0.8f, 0.8f, 0.8f, 1.0f));

    auto light = make<kaLightAttr>();
    EXPECT_EQ(light->getType(), KA_GFX_LIGHT_TYPE_DIRECTIONAL);
    EXPECT_EQ(light->getDirection(), kaVec3f(0.0f, 0.0f, -1.0f));
    EXPECT_EQ(light->getColor(), kaVec4f(1.0f, 1.0f, 1.0f, 1.0f));
    std::string error;
    ASSERT_TRUE(light->getMetaField("_type")->setFromText(light, "Spot", error)) << error;
    EXPECT_EQ(light->getType(), KA_GFX_LIGHT_TYPE_SPOT);
}

// ---- nodes ----

TEST(SceneModelNodes, LightSetAndLodHoldTheirEntries)
{
    auto lights = make<kaLightSet>("lights");
    auto sun = make<kaLightAttr>("sun");
    lights->appendLight(sun);
    lights->appendLight(nullptr);
    EXPECT_EQ(lights->getLightCount(), 2);
    EXPECT_EQ(lights->getLight(0), sun.get());
    EXPECT_EQ(lights->getLight(1), nullptr);
    EXPECT_EQ(lights->getLight(2), nullptr);
    EXPECT_FALSE(lights->getLightAttrs()->appendUnique(sun));
    lights->getLightAttrs()->removeAll();
    EXPECT_EQ(lights->getLightCount(), 0);
    EXPECT_EQ(sun->getRefCount(), 1);

    // Children from the most detailed outwards; child i is drawn below range i. An empty level
    // keeps its place, so the levels after it still match their ranges.
    auto lod = make<kaLod>("lod");
    lod->appendChild(make<kaGeometry>("near"));
    lod->appendChild(nullptr);
    lod->appendChild(make<kaGeometry>("far"));
    lod->appendRange(10.0f);
    lod->appendRange(100.0f);
    lod->appendRange(1000.0f);
    lod->appendRange(5000.0f);
    EXPECT_EQ(lod->getChildCount(), 3);
    EXPECT_EQ(lod->getChild(1), nullptr);
    EXPECT_STREQ(lod->getChild(2)->getName(), "far");
    EXPECT_EQ(lod->getRangeCount(), 4);
    EXPECT_EQ(lod->getRange(1), 100.0f);
    EXPECT_EQ(lod->selectChild(0.0f), 0);
    EXPECT_EQ(lod->selectChild(10.0f), 1);
    EXPECT_EQ(lod->selectChild(99.0f), 1);
    EXPECT_EQ(lod->selectChild(500.0f), 2);
    EXPECT_EQ(lod->selectChild(2000.0f), -1) << "a range without its child draws nothing";
    EXPECT_EQ(lod->selectChild(9000.0f), -1);

    // Walks pass over the empty place.
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiate());
    EXPECT_EQ(names(walkOfType(*walk, lod, kaGeometry::getClassMetaSafe())),
              (std::vector<std::string>{"near", "far"}));
}

TEST(SceneModelNodes, SkeletonLookupByNameAndBlendIndex)
{
    auto database = make<kaAnimationDatabase>("hero.kab");
    auto hero = make<kaSkeleton>("hero");
    auto horse = make<kaSkeleton>("horse");
    database->appendSkeleton(horse);
    database->appendSkeleton(hero);

    EXPECT_EQ(database->getSkeleton("hero"), hero.get());
    EXPECT_EQ(database->getSkeleton("horse"), horse.get());
    EXPECT_EQ(database->getSkeleton("Hero"), nullptr);
    EXPECT_EQ(database->getSkeleton(""), nullptr);
    EXPECT_EQ(database->getSkeleton(nullptr), nullptr);

    kaMatrix44f hip;
    hip.makeTranslation({0.0f, -1.0f, 0.0f});
    kaMatrix44f knee;
    knee.makeTranslation({0.0f, -0.5f, 0.2f});
    EXPECT_EQ(hero->appendJoint("hip", hip), 0);
    EXPECT_EQ(hero->appendEmptyJoint(), 1);
    EXPECT_EQ(hero->appendJoint("knee", knee), 2);

    EXPECT_EQ(hero->getJointCount(), 3);
    ASSERT_NE(hero->getInverseJointMatrix(2), nullptr);
    EXPECT_EQ(*hero->getInverseJointMatrix(2), knee);
    EXPECT_EQ(*hero->getInverseJointMatrix(0), hip);
    EXPECT_EQ(hero->getInverseJointMatrix(1), nullptr) << "a blend index without a joint";
    EXPECT_EQ(hero->getInverseJointMatrix(3), nullptr);
    EXPECT_EQ(hero->getInverseJointMatrix(-1), nullptr);
    EXPECT_STREQ(hero->getJointName(2), "knee");
    EXPECT_EQ(hero->getJointName(1), nullptr);
    EXPECT_EQ(hero->findJoint("knee"), 2);
    EXPECT_EQ(hero->findJoint("ankle"), -1);

    // The joint's position in its bind pose: the translation of the inverted inverse matrix.
    kaMatrix44f bind;
    ASSERT_TRUE(bind.invert(*hero->getInverseJointMatrix(2)));
    kaVec3f position;
    bind.getTranslation(position);
    expectNear(position, {0.0f, 0.5f, -0.2f});
}

// ---- morphing ----

TEST(SceneModelMorph, MorphBaseKeepsFourEntriesPerTarget)
{
    auto base = make<kaMorphBase>();
    EXPECT_EQ(base->getTargetCount(), 0);
    EXPECT_EQ(base->getPositionDisplacementVec(0), nullptr);

    auto displacements = make<kaVec3fList>();
    displacements->append({1.0f, 0.0f, 0.0f});
    displacements->append({0.0f, 2.0f, 0.0f});
    auto indices = make<kaIntList>();
    indices->append(3);
    indices->append(0);
    base->appendTarget(displacements, indices, nullptr, nullptr);
    EXPECT_EQ(base->getTargetCount(), 1);
    EXPECT_EQ(base->getPositionDisplacementVec(0), displacements.get());
    EXPECT_EQ(base->getPositionIndexArray(0), indices.get());
    EXPECT_EQ(base->getNormalDisplacementVec(0), nullptr);
    EXPECT_EQ(base->getNormalIndexArray(0), nullptr);
    EXPECT_EQ(base->getPositionIndexArray(1), nullptr);
    EXPECT_EQ(base->getPositionDisplacementVec(0)->get(1), kaVec3f(0.0f, 2.0f, 0.0f));

    // Setting a component of a later target makes room for it in all four lists.
    auto normalIndices = make<kaIntList>();
    base->setNormalIndexArray(2, normalIndices);
    EXPECT_EQ(base->getTargetCount(), 3);
    EXPECT_EQ(base->getNormalIndexArray(2), normalIndices.get());
    EXPECT_EQ(base->getPositionDisplacementVec(2), nullptr);
    EXPECT_EQ(base->getPositionDisplacementVec(1), nullptr);

    base->setTargetCount(1);
    EXPECT_EQ(base->getTargetCount(), 1);
    EXPECT_EQ(normalIndices->getRefCount(), 1);
    EXPECT_EQ(base->getPositionIndexArray(0), indices.get());

    // A read base whose lists disagree gets every target its four entries.
    auto normalIndexList = static_cast<kaObjectList*>(
        static_cast<kaObjectRefMetaField*>(base->getMetaField("_normalIndices"))->get(base));
    normalIndexList->removeAll();
    base->afterRead();
    EXPECT_EQ(normalIndexList->getCount(), 1);
    EXPECT_EQ(base->getNormalIndexArray(0), nullptr);
    EXPECT_EQ(base->getPositionIndexArray(0), indices.get());
}

TEST(SceneModelMorph, InstancesHoldBaseSequenceAndMorphedGeometry)
{
    auto sequence = make<kaMorphSequence>("smile");
    sequence->getInitialWeights()->append(0.25f);
    auto base = make<kaMorphBase>();
    base->setVertexArray(makeArray(skinnedFormat(0), 4));

    auto first = make<kaMorphInstance>("face");
    first->setBase(base);
    first->setMorphSequence(sequence);
    EXPECT_TRUE(first->isOfType(kaGeometry::getClassMetaSafe()));
    EXPECT_EQ(first->getBase()->getVertexArray()->getVertexCount(), 4);
    EXPECT_EQ(first->getMorphSequence(), sequence.get());

    auto morphed = make<kaMorphedGeometryAttr>();
    auto geometry = make<kaGeometryAttr2>();
    morphed->setGeometry(geometry);
    morphed->getMorphList()->append(make<kaVector3MorphData>());
    auto second = make<kaMorphInstance2>("face");
    second->setMorphSequence(sequence);
    second->setMorphGeometry(morphed);
    second->appendAttr(morphed);
    second->getCoefficient()->setCount(2);

    // The second generation is no first-generation instance, and its morphed geometry is no
    // geometry attribute: passes over geometry attributes leave it to the morph.
    EXPECT_FALSE(second->isOfType(kaMorphInstance::getClassMetaSafe()));
    EXPECT_EQ(second->getGeometryAttr(0), nullptr);
    EXPECT_EQ(second->getMorphGeometry()->getGeometry(), geometry.get());
    EXPECT_EQ(second->getMorphGeometry()->getMorphList()->getCount(), 1);
    EXPECT_EQ(second->getCoefficient()->getCount(), 2);
    EXPECT_EQ(sequence->getInitialWeights()->get(0), 0.25f);
}

TEST(SceneModelMorph, Vector3MorphDataBlendsDenseTargets)
{
    auto data = make<kaVector3MorphData>();
    auto base = make<kaVec3fAlignedList>();
    base->append({1.0f, 0.0f, 0.0f});
    base->append({0.0f, 1.0f, 0.0f});
    base->append({0.0f, 0.0f, 1.0f});
    auto raise = make<kaVec3fAlignedList>();
    raise->setCount(3);
    raise->setAll({0.0f, 1.0f, 0.0f});
    auto shift = make<kaVec3fAlignedList>();
    shift->setCount(2);
    shift->set(0, {2.0f, 0.0f, 0.0f});
    data->setBase(base);
    data->appendTarget(raise);
    data->appendTarget(shift);
    data->setElementCount(3);
    EXPECT_EQ(data->getTargetCount(), 2);
    EXPECT_EQ(data->getTarget(2), nullptr);

    // The padding float of every aligned element stays zero.
    EXPECT_EQ(raise->data()[3], 0.0f);
    EXPECT_EQ(raise->data()[5], 1.0f);

    auto result = make<kaVec3fAlignedList>();
    const float weights[2] = {0.5f, 0.25f};
    data->blend(weights, 2, result);
    ASSERT_EQ(result->getCount(), 3);
    expectNear(result->get(0), {1.5f, 0.5f, 0.0f});
    expectNear(result->get(1), {0.0f, 1.5f, 0.0f});
    // The shorter target does not reach element 2.
    expectNear(result->get(2), {0.0f, 0.5f, 1.0f});

    // Missing weights count as zero; normalised data come out at unit length.
    data->setNormalizeResult(1);
    data->blend(weights, 1, result);
    expectNear(result->get(0), {1.0f / std::sqrt(1.25f), 0.5f / std::sqrt(1.25f), 0.0f});
    expectNear(result->get(1), {0.0f, 1.0f, 0.0f});

    // A data block read from a file that ends inside an element loses that element.
    auto list = make<kaVec3fList>();
    std::string error;
    ASSERT_TRUE(list->getMetaField("_data")->setFromText(list, "1, 2, 3, 4, 5", error)) << error;
    list->afterRead();
    EXPECT_EQ(list->getCount(), 1);
    EXPECT_EQ(list->get(0), kaVec3f(1.0f, 2.0f, 3.0f));
}

// ---- graph and attribute iterators ----

// root
//   move (transform: translate 1,0,0)
//     body (attribute set: material outer, palette)
//       torso (geometry)
//       spin (animated transform: scale 2)
//         arm (geometry, own material inner)
//       crate (geometry, also a child of root)
//   face (morph instance)
//   crate
//   lights (light set)
struct IteratorScene {
    kaSmartPointer<kaGroup> root = make<kaGroup>("root");
    kaSmartPointer<kaTransform> move = make<kaTransform>("move");
    kaSmartPointer<kaAttrSet> body = make<kaAttrSet>("body");
    kaSmartPointer<kaGeometry> torso = make<kaGeometry>("torso");
    kaSmartPointer<kaTransform> spin = make<kaTransform>("spin");
    kaSmartPointer<kaGeometry> arm = make<kaGeometry>("arm");
    kaSmartPointer<kaGeometry> crate = make<kaGeometry>("crate");
    kaSmartPointer<kaMorphInstance> face = make<kaMorphInstance>("face");
    kaSmartPointer<kaLightSet> lights = make<kaLightSet>("lights");
    kaSmartPointer<kaMaterialAttr> outer = make<kaMaterialAttr>("outer");
    kaSmartPointer<kaMaterialAttr> inner = make<kaMaterialAttr>("inner");
    kaSmartPointer<kaVertexBlendMatrixListAttr> palette = make<kaVertexBlendMatrixListAttr>("palette");

    IteratorScene()
    {
        kaMatrix44f translate;
        translate.makeTranslation({1.0f, 0.0f, 0.0f});
        move->setMatrix(translate);
        kaMatrix44f scale;
        scale.makeScale({2.0f, 2.0f, 2.0f});
        spin->setMatrix(scale);
        spin->setAnimated(true);
        body->appendAttr(outer);
        body->appendAttr(palette);
        arm->appendAttr(inner);

        root->appendChild(move);
        move->appendChild(body);
        body->appendChild(torso);
        body->appendChild(spin);
        spin->appendChild(arm);
        body->appendChild(crate);
        root->appendChild(face);
        root->appendChild(crate);
        root->appendChild(lights);
    }
};

TEST(SceneModelIterate, PreOrderVisitsEachNodeOnce)
{
    IteratorScene scene;
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(nullptr));
    EXPECT_EQ(walk->getCurrent(), nullptr);

    const std::vector<std::string> all = {"root", "move", "body", "torso", "spin", "arm", "crate", "face", "lights"};
    EXPECT_EQ(names(walkOfType(*walk, scene.root, kaNode::getClassMetaSafe())), all);
    EXPECT_EQ(names(walkOfType(*walk, scene.root, nullptr)), all) << "no class: every node";
    EXPECT_EQ(walk->getCurrent(), nullptr);
    EXPECT_EQ(walk->getNextOfType(nullptr), nullptr) << "the end stays the end";

    // Subclasses are included: the morph instance is a geometry node, the attribute set's
    // subclasses are attribute sets.
    EXPECT_EQ(names(walkOfType(*walk, scene.root, kaGeometry::getClassMetaSafe())),
              (std::vector<std::string>{"torso", "arm", "crate", "face"}));
    EXPECT_EQ(names(walkOfType(*walk, scene.root, kaAttrSet::getClassMetaSafe())),
              (std::vector<std::string>{"body", "torso", "arm", "crate", "face"}));
    EXPECT_EQ(names(walkOfType(*walk, scene.root, kaMorphInstance::getClassMetaSafe())),
              (std::vector<std::string>{"face"}));

    // The start node counts, and a walk may start below the root.
    EXPECT_EQ(names(walkOfType(*walk, scene.spin, kaNode::getClassMetaSafe())),
              (std::vector<std::string>{"spin", "arm"}));
    EXPECT_EQ(walk->beginOfType(nullptr, kaNode::getClassMetaSafe()), nullptr);
}

TEST(SceneModelIterate, ExactTypeStartsOnTheClassItselfThenSubclassesFollow)
{
    IteratorScene scene;
    // A morph instance placed before the first plain geometry node in walk order.
    auto early = make<kaMorphInstance>("early");
    scene.move->insertChild(0, early);

    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiate());
    const kaMetaObject* geometry = kaGeometry::getClassMetaSafe();
    ASSERT_EQ(walk->beginOfExactType(scene.root, geometry), scene.torso.get());
    std::vector<kaNode*> rest;
    while (kaNode* node = walk->getNextOfType(geometry)) rest.push_back(node);
    EXPECT_EQ(names(rest), (std::vector<std::string>{"arm", "crate", "face"}));

    EXPECT_EQ(walk->beginOfExactType(scene.root, kaLightSet::getClassMetaSafe()), scene.lights.get());
    EXPECT_EQ(walk->beginOfExactType(scene.root, kaAttrSet::getClassMetaSafe()), scene.body.get());
    EXPECT_EQ(walk->beginOfExactType(scene.torso, kaGroup::getClassMetaSafe()), nullptr);
}

TEST(SceneModelIterate, TransformsAboveTheCurrentNode)
{
    IteratorScene scene;
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiate());
    std::vector<std::string> animated;
    const kaVec3f point(1.0f, 1.0f, 1.0f);
    for (kaNode* node = walk->beginOfType(scene.root, nullptr); node; node = walk->getNextOfType(nullptr)) {
        if (walk->hasAnimatedTransform()) animated.push_back(node->getName());
        kaVec3f placed;
        placed.transformPoint(point, walk->evaluateModelViewMatrix());
        const std::string name = node->getName();
        if (name == "root" || name == "move" || name == "face" || name == "lights")
            expectNear(placed, point);
        if (name == "body" || name == "torso" || name == "spin")
            expectNear(placed, {2.0f, 1.0f, 1.0f});
        // Nearest transform first: scaled by 2, then moved by 1 along x.
        if (name == "arm") expectNear(placed, {3.0f, 2.0f, 2.0f});
    }
    // Only the node below the animated transform; the transform itself is not below it.
    EXPECT_EQ(animated, std::vector<std::string>{"arm"});

    // The shared crate is reached first through body, and keeps that path.
    ASSERT_EQ(walk->beginOfType(scene.root, kaGeometry::getClassMetaSafe()), scene.torso.get());
    walk->getNextOfType(kaGeometry::getClassMetaSafe());
    ASSERT_EQ(walk->getNextOfType(kaGeometry::getClassMetaSafe()), scene.crate.get());
    kaVec3f placed;
    placed.transformPoint(point, walk->evaluateModelViewMatrix());
    expectNear(placed, {2.0f, 1.0f, 1.0f});
    EXPECT_FALSE(walk->hasAnimatedTransform());
}

TEST(SceneModelIterate, AttributeStackAtTheCurrentNode)
{
    IteratorScene scene;
    auto walk = kaSmartPointer<kaIterateAttr>::adopt(kaIterateAttr::_instantiate());
    const kaMetaObject* material = kaMaterialAttr::getClassMetaSafe();
    const kaMetaObject* palette = kaVertexBlendMatrixListAttr::getClassMetaSafe();
    const kaMetaObject* anyAttr = kaAttr::getClassMetaSafe();

    ASSERT_EQ(walk->beginOfType(scene.root, nullptr), scene.root.get());
    walk->validateAttrStack();
    EXPECT_EQ(walk->getTopAttr(material, 0), nullptr);

    // The attribute set's own attributes are in force at the set itself.
    ASSERT_EQ(walk->beginOfType(scene.root, kaAttrSet::getClassMetaSafe()), scene.body.get());
    walk->validateAttrStack();
    EXPECT_EQ(walk->getTopAttr(material, 0), scene.outer.get());
    // The innermost attribute of any class comes first: the palette was appended after.
    EXPECT_EQ(walk->getTopAttr(anyAttr, 0), scene.palette.get());
    EXPECT_EQ(walk->getTopAttr(anyAttr, 1), scene.outer.get());

    const kaMetaObject* geometry = kaGeometry::getClassMetaSafe();
    ASSERT_EQ(walk->beginOfType(scene.root, geometry), scene.torso.get());
    walk->validateAttrStack();
    EXPECT_EQ(walk->getTopAttr(material, 0), scene.outer.get());
    EXPECT_EQ(walk->getTopAttr(material, 1), nullptr);
    EXPECT_EQ(walk->getTopAttr(palette, 0), scene.palette.get());

    // Moving on brings a new stack: the arm's own material overrides the outer one.
    ASSERT_EQ(walk->getNextOfType(geometry), scene.arm.get());
    walk->validateAttrStack();
    EXPECT_EQ(walk->getTopAttr(material, 0), scene.inner.get());
    EXPECT_EQ(walk->getTopAttr(material, 1), scene.outer.get());
    EXPECT_EQ(walk->getTopAttr(material, 2), nullptr);
    EXPECT_EQ(walk->getTopAttr(palette, 0), scene.palette.get());

    // The face hangs from the root, outside the attribute set.
    walk->getNextOfType(geometry);
    ASSERT_EQ(walk->getNextOfType(geometry), scene.face.get());
    EXPECT_EQ(walk->getTopAttr(material, 0), nullptr) << "the stack follows the walk without a validate";
    EXPECT_EQ(walk->getTopAttr(palette, 0), nullptr);

    EXPECT_EQ(walk->getNextOfType(geometry), nullptr);
    EXPECT_EQ(walk->getTopAttr(anyAttr, 0), nullptr);
}

TEST(SceneModelIterate, ChangesAheadOfTheWalkAreSeen)
{
    IteratorScene scene;
    auto marker = make<kaMaterialAttr>("marker");
    scene.torso->appendAttr(marker);
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiate());
    std::vector<kaNode*> visited;
    for (kaNode* node = walk->beginOfType(scene.root, nullptr); node; node = walk->getNextOfType(nullptr)) {
        visited.push_back(node);
        if (node == scene.body.get()) {
            // Taken out before the walk reaches it; added where the walk has yet to go.
            scene.body->removeChild(scene.spin);
            scene.root->appendChild(make<kaNode>("added"));
        }
        if (node == scene.torso.get()) {
            // The current node's parent drops it: the walk holds it and goes on from it.
            scene.body->removeChild(scene.torso);
            scene.torso = nullptr;
        }
    }
    EXPECT_EQ(names(visited),
              (std::vector<std::string>{"root", "move", "body", "torso", "crate", "face", "lights", "added"}));
    // The walk held the dropped torso, and with it the marker, until it was started anew.
    EXPECT_EQ(marker->getRefCount(), 2);
    walk->beginOfType(nullptr, nullptr);
    EXPECT_EQ(marker->getRefCount(), 1);
}

// ---- animation ----

kaSmartPointer<kaAnimationBinding> bindingWithKeys(const char* name, float mark)
{
    auto binding = make<kaAnimationBinding>(name);
    binding->appendTranslationKey(0.0f, {mark, 2.0f, 3.0f});
    kaQuatf turn({1.0f, 2.0f, 3.0f}, 0.7f);
    binding->appendRotationKey(0.5f, turn);
    binding->appendScaleKey(1.0f, {1.0f, mark, 1.0f});
    return binding;
}

TEST(SceneModelAnimation, ReflectionMirrorsTranslationAndRotationAcrossEachPlane)
{
    const kaQuatf turn({1.0f, 2.0f, 3.0f}, 0.7f);
    kaMatrix44f rotation;
    rotation.makeRotation(turn);
    const kaAnimationBinding::ReflectionType planes[3] = {kaAnimationBinding::PlaneYZ, kaAnimationBinding::PlaneXZ,
                                                          kaAnimationBinding::PlaneXY};
    for (int axis = 0; axis < 3; ++axis) {
        SCOPED_TRACE(axis);
        auto binding = bindingWithKeys("spine", 1.0f);
        binding->reflect(planes[axis]);

        kaVec3f expected(1.0f, 2.0f, 3.0f);
        expected[axis] = -expected[axis];
        expectNear(binding->getTranslation(0), expected);
        EXPECT_EQ(binding->getScale(0), kaVec3f(1.0f, 1.0f, 1.0f));
        EXPECT_EQ(binding->getTranslationTime(0), 0.0f);
        EXPECT_EQ(binding->getRotationTime(0), 0.5f);

        // The mirrored rotation is the mirror image of the rotation: S R S, S the reflection.
        kaMatrix44f mirror;
        mirror.m[axis][axis] = -1.0f;
        const kaMatrix44f mirrored = mirror * rotation * mirror;
        kaMatrix44f actual;
        actual.makeRotation(binding->getRotation(0));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(actual.m[r][c], mirrored.m[r][c], 1e-5f) << r << "," << c;
    }
}

TEST(SceneModelAnimation, PairedReflectionExchangesLeftAndRightKeys)
{
    auto animation = make<kaAnimation>("walk");
    animation->appendBinding(bindingWithKeys("Arm_L", 10.0f));
    animation->appendBinding(bindingWithKeys("Spine", 20.0f));
    animation->appendBinding(bindingWithKeys("Arm_R", 30.0f));
    animation->appendBinding(bindingWithKeys("Leg_L", 40.0f));
    animation->appendBinding(bindingWithKeys("Leg_R", 50.0f));
    animation->appendBinding(bindingWithKeys("Tail_L", 60.0f));

    // "L" first occurs at the start of "Leg_L"; the pairing tries the later occurrence too.
    animation->reflectAllBindings("L", "R", false, kaAnimationBinding::PlaneYZ);
    auto markOf = [&](const char* name) { return animation->findBinding(name)->getTranslation(0).x; };
    EXPECT_EQ(markOf("Arm_L"), -30.0f);
    EXPECT_EQ(markOf("Arm_R"), -10.0f);
    EXPECT_EQ(markOf("Leg_L"), -50.0f);
    EXPECT_EQ(markOf("Leg_R"), -40.0f);
    EXPECT_EQ(markOf("Spine"), -20.0f) << "without a partner: only mirrored";
    EXPECT_EQ(markOf("Tail_L"), -60.0f);
    EXPECT_EQ(animation->findBinding("Arm_L")->getScale(0).y, 30.0f) << "every channel moves with the pair";

    // Matching regardless of case only when asked; an empty identifier pairs nothing.
    auto other = make<kaAnimation>("wave");
    other->appendBinding(bindingWithKeys("hand_left", 1.0f));
    other->appendBinding(bindingWithKeys("HAND_RIGHT", 2.0f));
    other->reflectAllBindings("_left", "_right", false, kaAnimationBinding::PlaneXY);
    EXPECT_EQ(other->findBinding("hand_left")->getTranslation(0).x, 1.0f);
    other->reflectAllBindings("_LEFT", "_RIGHT", true, kaAnimationBinding::PlaneXY);
    EXPECT_EQ(other->findBinding("hand_left")->getTranslation(0).x, 2.0f);
    EXPECT_EQ(other->findBinding("HAND_RIGHT")->getTranslation(0).x, 1.0f);
    other->reflectAllBindings("_left", "", false, kaAnimationBinding::PlaneYZ);
    EXPECT_EQ(other->findBinding("hand_left")->getTranslation(0).x, -2.0f);
}

TEST(SceneModelAnimation, ReadChannelsKeepOnlyKeysWithValues)
{
    auto binding = make<kaAnimationBinding>("neck");
    std::string error;
    ASSERT_TRUE(binding->getMetaField("_rotationTimes")->setFromText(binding, "0, 1, 2", error)) << error;
    ASSERT_TRUE(binding->getMetaField("_rotationValues")->setFromText(binding, "0, 0, 0, 1, 0, 0", error)) << error;
    ASSERT_TRUE(binding->getMetaField("_translationValues")->setFromText(binding, "1, 2, 3", error)) << error;
    binding->afterRead();
    EXPECT_EQ(binding->getRotationKeyCount(), 1);
    EXPECT_EQ(binding->getRotation(0).w, 1.0f);
    EXPECT_EQ(binding->getTranslationKeyCount(), 0);
    EXPECT_EQ(binding->getMetaField("_translationValues")->toText(binding), "");
}

// ---- applying a pass to an animation database ----

class kaRecordingPass : public kaOptBase {
    KA_DECLARE_CLASS(kaRecordingPass, kaOptBase)
public:
    std::vector<std::string> applied;
    kaSmartPointer<kaNode> replacement;
    bool canOptimize(kaNode* node) override { return std::string(node->getName()) != "refused"; }
    using kaOptBase::canOptimize;
    bool apply(kaSmartPointer<kaNode>& root) override
    {
        applied.push_back(root->getName());
        if (std::string(root->getName()) == "old") root = replacement;
        return std::string(root->getName()) != "failing";
    }
};

KA_IMPLEMENT_CLASS(kaRecordingPass)

kaSmartPointer<kaSceneInfo> sceneInfoWith(kaNode* root)
{
    auto info = make<kaSceneInfo>();
    info->setSceneGraph(root);
    return info;
}

TEST(SceneModelAnimation, DefaultApplyReachesTheGraphsOfTheDatabase)
{
    auto database = make<kaAnimationDatabase>("db");
    auto pass = make<kaRecordingPass>();
    EXPECT_TRUE(defaultApplyAnimationDatabase(database, pass)) << "nothing to apply to";
    EXPECT_FALSE(defaultApplyAnimationDatabase(nullptr, pass));
    EXPECT_FALSE(defaultApplyAnimationDatabase(database, nullptr));

    auto replaced = sceneInfoWith(make<kaGroup>("old"));
    pass->replacement = make<kaGroup>("new").get();
    database->appendInfo(sceneInfoWith(make<kaGroup>("first")));
    database->appendInfo(make<kaInfo>("not a scene"));
    database->appendInfo(sceneInfoWith(nullptr));
    database->appendInfo(sceneInfoWith(make<kaGroup>("refused")));
    database->appendInfo(replaced);
    EXPECT_TRUE(defaultApplyAnimationDatabase(database, pass));
    EXPECT_EQ(pass->applied, (std::vector<std::string>{"first", "old"}));
    EXPECT_EQ(replaced->getSceneGraph(), pass->replacement.get());

    database->appendInfo(sceneInfoWith(make<kaGroup>("failing")));
    pass->applied.clear();
    EXPECT_FALSE(defaultApplyAnimationDatabase(database, pass));
    EXPECT_EQ(pass->applied, (std::vector<std::string>{"first", "new", "failing"}));
}

// ---- the scene as a whole ----

// A scene that uses every class of the model, with sharing: returns its infos.
kaSmartPointer<kaInfoList> buildFullScene()
{
    auto root = make<kaGroup>("root");
    auto move = make<kaTransform>("move");
    auto set = make<kaAttrSet>("set");
    auto hip = make<kaJoint>("hip");
    auto palette = make<kaVertexBlendMatrixListAttr>();
    palette->appendMatrix(hip->getBlendingMatrix());
    auto texture = make<kaTextureAttr>();
    texture->setImage(make<kaImage>("wall.png"), 0);
    set->appendAttr(palette);
    set->appendAttr(texture);
    set->appendAttr(make<kaMaterialAttr>());

    auto body = make<kaGeometry>("body");
    auto attr = make<kaGeometryAttr2>();
    attr->configureVertexArray(makeArray(skinnedFormat(2), 8));
    attr->setIndexArray(make<kaIndexArray>());
    attr->setBoundingBox(make<kaBoundingBox>());
    body->appendAttr(attr);

    auto base = make<kaMorphBase>();
    base->setVertexArray(makeArray(skinnedFormat(0), 3));
    base->appendTarget(make<kaVec3fList>(), make<kaIntList>(), make<kaVec3fList>(), make<kaIntList>());
    auto face = make<kaMorphInstance>("face");
    face->setBase(base);
    face->setMorphSequence(make<kaMorphSequence>());
    face->appendAttr(attr);

    auto morphed = make<kaMorphedGeometryAttr>();
    morphed->setGeometry(attr);
    auto data = make<kaVector3MorphData>();
    data->setBase(make<kaVec3fAlignedList>());
    data->appendTarget(make<kaVec3fAlignedList>());
    morphed->getMorphList()->append(data);
    auto face2 = make<kaMorphInstance2>("face2");
    face2->setMorphGeometry(morphed);
    face2->appendAttr(morphed);

    auto lights = make<kaLightSet>("lights");
    lights->appendLight(make<kaLightAttr>());
    auto lod = make<kaLod>("lod");
    lod->appendChild(body);
    lod->appendRange(50.0f);

    root->appendChild(move);
    move->appendChild(set);
    set->appendChild(hip);
    hip->appendChild(body);
    set->appendChild(face);
    set->appendChild(face2);
    root->appendChild(lights);
    root->appendChild(lod);

    auto skeleton = make<kaSkeleton>("hero");
    skeleton->appendJoint("hip", kaMatrix44f());
    auto animation = make<kaAnimation>("walk");
    animation->appendBinding(bindingWithKeys("hip", 1.0f));
    auto database = make<kaAnimationDatabase>("db");
    database->appendSkeleton(skeleton);
    database->appendAnimation(animation);
    database->appendInfo(sceneInfoWith(make<kaGroup>("skin")));

    auto infos = make<kaInfoList>();
    infos->append(sceneInfoWith(root));
    infos->append(database);
    return infos;
}

TEST(SceneModelLifetime, EveryObjectIsReachableThroughReflectedFieldsAndFreedWithTheScene)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        kaSmartPointer<kaInfoList> infos = buildFullScene();
        const std::vector<kaObject*> reachable = kaCollectReachable({infos.get()});
        // Every object made for the scene hangs from its infos by reflected fields, except the
        // nodes' parent lists, which are derived from the groups and not followed.
        long parentLists = 0;
        for (kaObject* object : reachable)
            if (kaNode* node = kaNode::dynamicCast(object))
                if (static_cast<kaObjectRefMetaField*>(node->getMetaField("_parentList"))->get(node)) ++parentLists;
        EXPECT_GT(parentLists, 0);
        EXPECT_EQ(static_cast<long>(reachable.size()) + parentLists, kaObject::getLiveObjectCount() - liveBefore);

        std::vector<std::string> classes;
        for (const kaObject* object : reachable) classes.push_back(object->getMetaObject()->getName());
        for (const char* expected : {"kaVertexArray", "kaIndexArray", "kaBoundingBox", "kaImage", "kaMatrixObject",
                                     "kaMorphBase", "kaMorphSequence", "kaVec3fList", "kaVec3fAlignedList",
                                     "kaVector3MorphData", "kaLightAttr", "kaSkeleton", "kaAnimationBinding"})
            EXPECT_NE(std::find(classes.begin(), classes.end(), expected), classes.end()) << expected;
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);
}

const char* const sceneModelClasses[] = {
#define KA_SCENE_CLASS(Namespace, Class) #Class,
#define KA_FILE_CLASS(Namespace, Class)
#include "host/kaHostClasses.def"
#undef KA_SCENE_CLASS
#undef KA_FILE_CLASS
};

// Names each class that the registry does not know; returns how many.
int countUnknownClasses()
{
    int unknown = 0;
    for (const char* name : sceneModelClasses) {
        if (kaMetaObject::findClass(name)) continue;
        std::fprintf(stderr, "unknown class %s\n", name);
        ++unknown;
    }
    return unknown;
}

TEST(SceneModelLifetime, RegistrationAloneMakesEveryClassKnownByName)
{
    // A fresh process, in which nothing has made a scene object yet: what a file reader meets.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            kaRegisterSceneModel();
            std::exit(countUnknownClasses());
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SceneModelLifetime, EveryClassIsCreatedByNameWithItsDefaults)
{
    kaRegisterSceneModel();
    const long liveBefore = kaObject::getLiveObjectCount();
    for (const char* name : sceneModelClasses) {
        SCOPED_TRACE(name);
        kaMetaObject* meta = kaMetaObject::findClass(name);
        ASSERT_NE(meta, nullptr);
        kaObject* object = meta->createInstance(nullptr);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(object->getMetaObject(), meta);
        kaObject::release(object);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);

    // Defaults come from the field declarations, owned lists are made with the object.
    auto create = [](const char* name) {
        return kaSmartPointer<kaObject>::adopt(kaMetaObject::findClass(name)->createInstance(nullptr));
    };
    auto transform = create("kaTransform");
    EXPECT_EQ(static_cast<kaTransform*>(transform.get())->getMatrix(), kaMatrix44f());
    EXPECT_FALSE(static_cast<kaTransform*>(transform.get())->isAnimated());
    auto geometryAttr = create("kaGeometryAttr2");
    EXPECT_EQ(geometryAttr->getMetaField("_primitiveType")->toText(geometryAttr), "KA_GFX_DRAW_TRIANGLES");
    auto geometry = create("kaMorphInstance");
    EXPECT_EQ(static_cast<kaGeometry*>(geometry.get())->getAttrCount(), 0);
    EXPECT_EQ(static_cast<kaGeometry*>(geometry.get())->getChildCount(), 0);
    auto database = create("kaAnimationDatabase");
    EXPECT_EQ(static_cast<kaAnimationDatabase*>(database.get())->getAnimationList()->getCount(), 0);
    auto box = create("kaBoundingBox");
    EXPECT_TRUE(static_cast<kaBoundingBox*>(box.get())->isEmpty());
}

} // namespace kaSceneModelTest
