// The scene model: attribute sets and their attributes, morph data, skeletons and animation,
// the graph and attribute iterators, and the lifetime of a whole scene built from them.
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaWalk.h"
#include "host/opt/kaIterateAttr.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaSceneModel.h"
#include "host/sg/kaTransform.h"
#include "kaPassTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
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

// The names of the nodes the walk visits, with what happens at each node in between.
std::vector<std::string> walkOfType(kaIterateGraph& walk, kaNode* start, const kaMetaObject* meta,
                                    const std::function<void(kaNode*)>& atNode = [](kaNode*) {})
{
    std::vector<std::string> visited;
    for (kaNode* node = walk.beginOfType(start, meta); node; node = walk.getNextOfType(meta))
        visited.push_back(node->getName()), atNode(node);
    return visited;
}

void expectNear(const kaVec3f& actual, const kaVec3f& expected)
{
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-5f) << i;
}

// ---- attribute sets and attributes ----

TEST(SceneModelAttrs, GeometryAttributesKeepTheirListPositionAmongOtherAttributes)
{
    auto geometry = make<kaGeometry>("mesh");
    auto material = make<kaMaterialAttr>();
    auto first = make<kaGeometryAttr1_5>();
    auto second = make<kaGeometryAttr2>();
    auto morphed = make<kaMorphedGeometryAttr>();
    auto texture = make<kaTextureAttr>();
    for (kaAttr* attr : std::initializer_list<kaAttr*>{material, first, texture, second, morphed}) geometry->appendAttr(attr);

    EXPECT_EQ(geometry->getGeometryAttrCount(), 5);
    EXPECT_EQ(geometry->countGeometryAttrs(), 2) << "a morphed geometry is no geometry attribute";
    const kaAttr* expected[] = {nullptr, first, nullptr, second, nullptr, nullptr};
    for (int i = -1; i < 6; ++i) EXPECT_EQ(geometry->getGeometryAttr(i), i < 0 ? nullptr : expected[i]) << i;
    // Both generations are geometry attributes; they are not each other.
    EXPECT_FALSE(first->isOfType(kaGeometryAttr2::getClassMetaSafe()) || kaGeometryAttr1_5::dynamicCast(second.get()));
    // The set holds a reference to each attribute and gives it back on removal.
    EXPECT_TRUE(geometry->removeAttr(material) && !geometry->removeAttr(material));
    EXPECT_TRUE(material->getRefCount() == 1 && geometry->getGeometryAttr(0) == first.get());
}

TEST(SceneModelAttrs, GeometryAttrFitsItsBoxToEachVertexArray)
{
    auto attr = make<kaGeometryAttr1_5>();
    auto array = kaTest::filledArray(0x441u, 3);  // positions, four blend weights and indices
    attr->configureVertexArray(array);
    EXPECT_TRUE(attr->getVertexFormat() == array->getVertexFormat() && attr->getVertexCount() == 3);
    EXPECT_EQ(attr->getBoundingBox(), nullptr) << "without a box, installing an array makes none";

    auto box = make<kaBoundingBox>();
    attr->setBoundingBox(box);
    auto reduced = kaTest::filledArray(0x221u, 2);
    reduced->setPosition(0, {1.0f, -2.0f, 3.0f}), reduced->setPosition(1, {-1.0f, 4.0f, 0.5f});
    attr->configureVertexArray(reduced);
    EXPECT_EQ(array->getRefCount(), 1) << "the replaced array is let go";
    expectNear(box->getMinimum(), {-1.0f, -2.0f, 0.5f});
    expectNear(box->getMaximum(), {1.0f, 4.0f, 3.0f});
}

// ---- nodes ----

TEST(SceneModelNodes, SkeletonJointsByNameAndBlendIndex)
{
    auto hero = make<kaSkeleton>("hero");
    kaMatrix44f hip, knee;
    hip.makeTranslation({0.0f, -1.0f, 0.0f});
    knee.makeTranslation({0.0f, -0.5f, 0.2f});
    EXPECT_EQ((std::vector<int>{hero->appendJoint("hip", hip), hero->appendEmptyJoint(), hero->appendJoint("knee", knee)}),
              (std::vector<int>{0, 1, 2}));
    ASSERT_TRUE(hero->getInverseJointMatrix(0) && hero->getInverseJointMatrix(2));
    EXPECT_TRUE(*hero->getInverseJointMatrix(2) == knee && *hero->getInverseJointMatrix(0) == hip);
    // Blend indices come from files: one without a joint or outside the skeleton finds no matrix.
    for (int index : {-1, 1, 3}) EXPECT_EQ(hero->getInverseJointMatrix(index), nullptr) << "no joint at " << index;
    EXPECT_EQ(hero->findJoint("knee"), 2);
}

// ---- morphing ----

TEST(SceneModelMorph, MorphBaseKeepsFourEntriesPerTargetAndRepairsWhatItReads)
{
    auto base = make<kaMorphBase>();
    auto displacements = make<kaVec3fList>();
    auto indices = make<kaIntList>(), normalIndices = make<kaIntList>();
    displacements->append({1.0f, 0.0f, 0.0f}), indices->append(3);
    base->appendTarget(displacements, indices, nullptr, nullptr);
    EXPECT_EQ(base->getPositionIndexArray(1), nullptr);
    // Setting a component of a later target makes room for it in all four lists.
    base->setNormalIndexArray(2, normalIndices);
    EXPECT_EQ(base->getTargetCount(), 3);
    EXPECT_TRUE(base->getNormalIndexArray(2) == normalIndices.get() && !base->getPositionDisplacementVec(2));
    base->setTargetCount(1);
    EXPECT_EQ(normalIndices->getRefCount(), 1);
    // A read base whose lists disagree gets every target its four entries.
    auto normalIndexList = static_cast<kaObjectList*>(
        static_cast<kaObjectRefMetaField*>(base->getMetaField("_normalIndices"))->get(base));
    normalIndexList->removeAll();
    base->afterRead();
    EXPECT_EQ(normalIndexList->getCount(), 1);
    EXPECT_TRUE(!base->getNormalIndexArray(0) && base->getPositionIndexArray(0) == indices.get());
    // A displacement block read from a file that ends inside an element loses that element.
    std::string error;
    ASSERT_TRUE(displacements->getMetaField("_data")->setFromText(displacements, "1, 2, 3, 4, 5", error)) << error;
    displacements->afterRead();
    EXPECT_TRUE(displacements->getCount() == 1 && displacements->get(0) == kaVec3f(1.0f, 2.0f, 3.0f));
}

// ---- graph and attribute iterators ----

// root
//   move (transform: translate 1,0,0)
//     body (attribute set: material outer, palette)
//       torso (geometry)
//       an empty place, as a level of detail without its level has: walks pass over it
//       spin (animated transform: scale 2)
//         arm (geometry, own material inner)
//       crate (geometry, also a child of root)
//   face (morph instance)
//   crate
//   lights (light set)
struct IteratorScene {
    kaSmartPointer<kaGroup> root = make<kaGroup>("root");
    kaSmartPointer<kaTransform> move = make<kaTransform>("move"), spin = make<kaTransform>("spin");
    kaSmartPointer<kaAttrSet> body = make<kaAttrSet>("body");
    kaSmartPointer<kaGeometry> torso = make<kaGeometry>("torso"), arm = make<kaGeometry>("arm"), crate = make<kaGeometry>("crate");
    kaSmartPointer<kaMorphInstance> face = make<kaMorphInstance>("face");
    kaSmartPointer<kaLightSet> lights = make<kaLightSet>("lights");
    kaSmartPointer<kaMaterialAttr> outer = make<kaMaterialAttr>("outer"), inner = make<kaMaterialAttr>("inner");
    kaSmartPointer<kaVertexBlendMatrixListAttr> palette = make<kaVertexBlendMatrixListAttr>("palette");

    IteratorScene()
    {
        kaMatrix44f translate, scale;
        translate.makeTranslation({1.0f, 0.0f, 0.0f});
        scale.makeScale({2.0f, 2.0f, 2.0f});
        move->setMatrix(translate), spin->setMatrix(scale), spin->setAnimated(true);
        body->appendAttr(outer), body->appendAttr(palette), arm->appendAttr(inner);
        for (const auto& [parent, child] : std::initializer_list<std::pair<kaGroup*, kaNode*>>{
                 {root, move}, {move, body}, {body, torso}, {body, nullptr}, {body, spin}, {spin, arm}, {body, crate}, {root, face},
                 {root, crate}, {root, lights}})
            parent->appendChild(child);
    }
};

TEST(SceneModelIterate, PreOrderVisitsEachNodeOnce)
{
    IteratorScene scene;
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiateFromPool(nullptr));
    const std::vector<std::string> all = {"root", "move", "body", "torso", "spin", "arm", "crate", "face", "lights"};
    const struct { kaNode* start; const kaMetaObject* meta; std::vector<std::string> expected; } walks[] = {
        {scene.root, kaNode::getClassMetaSafe(), all},
        {scene.root, nullptr, all},  // no class: every node
        // Subclasses are included: the morph instance is a geometry node, geometry nodes are sets.
        {scene.root, kaGeometry::getClassMetaSafe(), {"torso", "arm", "crate", "face"}},
        {scene.root, kaAttrSet::getClassMetaSafe(), {"body", "torso", "arm", "crate", "face"}},
        {scene.root, kaMorphInstance::getClassMetaSafe(), {"face"}},
        {scene.spin, kaNode::getClassMetaSafe(), {"spin", "arm"}},  // the start counts, below the root too
        {nullptr, kaNode::getClassMetaSafe(), {}},
    };
    for (const auto& w : walks) EXPECT_EQ(walkOfType(*walk, w.start, w.meta), w.expected);
    // Another walk at every node (a pass that saves a file per node walks what each holds).
    EXPECT_EQ(walkOfType(*walk, scene.root, nullptr, [](kaNode*) { kaObject::beginWalk(); }), all);
    EXPECT_EQ(walk->getCurrent(), nullptr);
    EXPECT_EQ(walk->getNextOfType(nullptr), nullptr) << "the end stays the end";
    // Exact type: the walk starts on the class itself, passing over a subclass before it.
    scene.move->insertChild(0, make<kaMorphInstance>("early"));
    EXPECT_EQ(walk->beginOfExactType(scene.root, kaGeometry::getClassMetaSafe()), scene.torso.get());
}

// At each node the walk knows the transforms and attributes above it. Nearest transform first:
// the arm is scaled by 2, then moved by 1 along x; only a node below the animated transform, not
// the transform itself, is animated. The innermost attribute of a class comes first: a set's own
// attributes are in force at the set itself, the arm's own material overrides the outer one, and
// the face hangs from the root, outside the set. The shared crate is reached first through body
// and keeps that path. The stack follows the walk whether it is validated or not.
TEST(SceneModelIterate, EachNodeKnowsTheTransformsAndAttributesAboveIt)
{
    IteratorScene scene;
    auto walk = kaSmartPointer<kaIterateAttr>::adopt(kaIterateAttr::_instantiate());
    auto stackOf = [&](const kaMetaObject* meta) {
        std::vector<const kaAttr*> stack;
        while (const kaAttr* attr = walk->getTopAttr(meta, int(stack.size()))) stack.push_back(attr);
        return stack;
    };
    const std::vector<const kaAttr*> none, set = {scene.palette, scene.outer};
    const struct Above { kaVec3f placed; std::vector<const kaAttr*> attrs; } one{{1, 1, 1}, none}, moved{{2, 1, 1}, set};
    const std::map<std::string, Above> above = {
        {"root", one},    {"move", one},  {"body", moved}, {"torso", moved},  {"spin", moved},
        {"crate", moved}, {"face", one},  {"lights", one}, {"arm", {{3, 2, 2}, {scene.inner, scene.palette, scene.outer}}}};
    std::vector<std::string> animated;
    int step = 0;
    for (kaNode* node = walk->beginOfType(scene.root, nullptr); node; node = walk->getNextOfType(nullptr)) {
        SCOPED_TRACE(node->getName());
        if (walk->hasAnimatedTransform()) animated.push_back(node->getName());
        kaVec3f placed;
        placed.transformPoint({1.0f, 1.0f, 1.0f}, walk->evaluateModelViewMatrix());
        expectNear(placed, above.at(node->getName()).placed);
        if (++step % 2) walk->validateAttrStack();
        const std::vector<const kaAttr*>& expected = above.at(node->getName()).attrs;
        EXPECT_EQ(stackOf(kaAttr::getClassMetaSafe()), expected);
        std::vector<const kaAttr*> materials;
        for (const kaAttr* attr : expected)
            if (attr->isOfType(kaMaterialAttr::getClassMetaSafe())) materials.push_back(attr);
        EXPECT_EQ(stackOf(kaMaterialAttr::getClassMetaSafe()), materials);
    }
    EXPECT_EQ(animated, std::vector<std::string>{"arm"});
    EXPECT_TRUE(stackOf(kaAttr::getClassMetaSafe()).empty()) << "at the end";
}

TEST(SceneModelIterate, ChangesAheadOfTheWalkAreSeen)
{
    IteratorScene scene;
    auto marker = make<kaMaterialAttr>("marker");
    scene.torso->appendAttr(marker);
    auto walk = kaSmartPointer<kaIterateGraph>::adopt(kaIterateGraph::_instantiate());
    const std::vector<std::string> visited = walkOfType(*walk, scene.root, nullptr, [&](kaNode* node) {
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
    });
    EXPECT_EQ(visited, (std::vector<std::string>{"root", "move", "body", "torso", "crate", "face", "lights", "added"}));
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
    binding->appendRotationKey(0.5f, kaQuatf({1.0f, 2.0f, 3.0f}, 0.7f));
    binding->appendScaleKey(1.0f, {1.0f, mark, 1.0f});
    return binding;
}

TEST(SceneModelAnimation, PairingFindsTheIdentifierAnywhereInTheNameAndIgnoresCaseWhenAsked)
{
    auto animation = make<kaAnimation>("walk");
    animation->appendBinding(bindingWithKeys("Leg_L", 1.0f));
    animation->appendBinding(bindingWithKeys("Leg_R", 2.0f));
    animation->appendBinding(bindingWithKeys("hand_left", 3.0f));
    animation->appendBinding(bindingWithKeys("HAND_RIGHT", 4.0f));
    // "L" first occurs at the start of "Leg_L"; the pairing tries the later occurrence too.
    animation->reflectAllBindings("L", "R", false, kaAnimationBinding::PlaneYZ);
    auto markOf = [&](const char* name) { return animation->findBinding(name)->getTranslation(0).x; };
    EXPECT_TRUE(markOf("Leg_L") == -2.0f && markOf("Leg_R") == -1.0f);
    EXPECT_EQ(animation->findBinding("Leg_L")->getScale(0).y, 2.0f) << "every channel moves with the pair";
    animation->reflectAllBindings("_left", "_right", false, kaAnimationBinding::PlaneXY);
    EXPECT_EQ(markOf("hand_left"), -3.0f) << "a case-sensitive pairing finds no partner";
    animation->reflectAllBindings("_LEFT", "_RIGHT", true, kaAnimationBinding::PlaneXY);
    EXPECT_TRUE(markOf("hand_left") == -4.0f && markOf("HAND_RIGHT") == -3.0f);
}

TEST(SceneModelAnimation, ReadChannelsKeepOnlyKeysWithValues)
{
    auto binding = make<kaAnimationBinding>("neck");
    std::string error;
    ASSERT_TRUE(binding->getMetaField("_rotationTimes")->setFromText(binding, "0, 1, 2", error)) << error;
    ASSERT_TRUE(binding->getMetaField("_rotationValues")->setFromText(binding, "0, 0, 0, 1, 0, 0", error)) << error;
    ASSERT_TRUE(binding->getMetaField("_translationValues")->setFromText(binding, "1, 2, 3", error)) << error;
    binding->afterRead();
    EXPECT_TRUE(binding->getRotationKeyCount() == 1 && binding->getRotation(0).w == 1.0f);
    EXPECT_TRUE(binding->getTranslationKeyCount() == 0 && binding->getMetaField("_translationValues")->toText(binding).empty());
}

// ---- the scene as a whole ----

TEST(SceneModelLifetime, EveryObjectIsReachableThroughReflectedFieldsAndFreedWithTheScene)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        // The example scene, its morph converted to the second generation (dense morph data).
        kaSmartPointer<kaInfoList> infos = Lode::Tools::kaMakeExampleScene();
        kaSmartPointer<kaNode> root = kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph();
        kaTest::runPass("kaConvertMorphInstance", root);
        const std::vector<kaObject*> reachable = kaCollectReachable({infos.get()});
        EXPECT_TRUE(std::any_of(reachable.begin(), reachable.end(), [](kaObject* object) {
            return kaVector3MorphData::dynamicCast(object) != nullptr;
        })) << "the morph is converted";
        // Every object made for the scene hangs from its infos by reflected fields, except the
        // nodes' parent lists, which are derived from the groups and not followed.
        long parentLists = 0;
        for (kaObject* object : reachable)
            if (kaNode* node = kaNode::dynamicCast(object))
                if (static_cast<kaObjectRefMetaField*>(node->getMetaField("_parentList"))->get(node)) ++parentLists;
        EXPECT_GT(parentLists, 0);
        EXPECT_EQ(static_cast<long>(reachable.size()) + parentLists, kaObject::getLiveObjectCount() - liveBefore);
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

// In a fresh process, in which nothing has made a scene object yet (what a file reader meets), each
// class is known, created by name and given back whole; the exit status counts the broken ones.
TEST(SceneModelLifetime, RegistrationAloneMakesEveryClassCreatableByName)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto countBrokenClasses = [] {
        kaRegisterSceneModel();
        int broken = 0;
        for (const char* name : sceneModelClasses) {
            kaMetaObject* meta = kaMetaObject::findClass(name);
            const long liveBefore = kaObject::getLiveObjectCount();
            kaObject* object = meta ? meta->createInstance(nullptr) : nullptr;
            const bool created = object && object->getMetaObject() == meta;
            kaObject::release(object);
            if (!created || kaObject::getLiveObjectCount() != liveBefore) std::fprintf(stderr, "broken class %s\n", name), ++broken;
        }
        return broken;
    };
    EXPECT_EXIT(std::exit(countBrokenClasses()), ::testing::ExitedWithCode(0), "");
}

} // namespace kaSceneModelTest
