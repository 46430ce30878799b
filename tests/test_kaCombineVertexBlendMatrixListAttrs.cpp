// kaCombineVertexBlendMatrixListAttrs: palettes of one and of several hierarchies on hand-built rigs.
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/sg/kaJoint.h"
#include "kaPassTestTools.h"

using namespace kaTest;
using namespace Lode::Attrs;
using namespace Lode::Math;
using Lode::Utils::kaMatrixObject;

namespace {
kaSmartPointer<kaVertexBlendMatrixListAttr> palette(std::initializer_list<kaMatrixObject*> matrices)
{
    auto list = make<kaVertexBlendMatrixListAttr>();
    for (kaMatrixObject* matrix : matrices) list->appendMatrix(matrix);
    return list;
}

// Vertices with the given blend indices, every slot weighted 1/slots.
kaSmartPointer<kaVertexArray> skinnedArray(const kaIndexRows& indices)
{
    const size_t slots = indices[0].size();
    return weightedArray(std::vector<std::vector<float>>(indices.size(), std::vector<float>(slots, 1.0f / slots)), true, indices);
}

kaSmartPointer<kaGeometry> geometry(kaGroup* parent, const char* name, kaAttr* list, std::initializer_list<kaVertexArray*> arrays)
{
    auto node = make<kaGeometry>(name);
    if (list) node->appendAttr(list);
    for (kaVertexArray* array : arrays) node->appendAttr(geometryAttr(array, 0, 0));
    parent->appendChild(node);
    return node;
}

// Vertices with the given blend indices and weightCount weights of 1/weightCount each: the slots
// past them carry no stored weight.
kaSmartPointer<kaVertexArray> partlyWeightedArray(int weightCount, const kaIndexRows& indices)
{
    auto array = make<kaVertexArray>();
    array->setup(uint32_t(1 | weightCount << 4 | int(indices[0].size()) << 8), int(indices.size()), 7, 0);
    for (int v = 0; v < int(indices.size()); ++v) {
        for (int k = 0; k < weightCount; ++k) array->setBlendWeight(v, k, 1.0f / weightCount);
        for (int k = 0; k < int(indices[v].size()); ++k) array->setBlendIndex(v, k, uint8_t(indices[v][k]));
    }
    array->closeSetup();
    return array;
}

std::vector<kaMatrixObject*> matricesOf(const kaVertexBlendMatrixListAttr* list)
{
    std::vector<kaMatrixObject*> result;
    for (int k = 0; k < list->getMatrixCount(); ++k) result.push_back(list->getMatrixPointer(k));
    return result;
}

// A chain of count joints below parent, each the child of the one before.
std::vector<kaSmartPointer<kaJoint>> jointChain(kaGroup* parent, int count)
{
    std::vector<kaSmartPointer<kaJoint>> joints;
    for (int j = 0; j < count; ++j) {
        joints.push_back(make<kaJoint>());
        (j == 0 ? parent : joints[j - 1].get())->appendChild(joints[j]);
    }
    return joints;
}
} // namespace

TEST(CombineMatrixLists, PalettesOfOneHierarchyShareTheCombinedList)
{
    // A, B and C form one hierarchy: C hangs below a plain group below B. X is no joint's.
    auto root = make<kaGroup>();
    auto joints = jointChain(root, 2);
    auto group = make<kaGroup>();
    joints[1]->appendChild(group), group->appendChild(joints.emplace_back(make<kaJoint>()));
    kaMatrixObject *a = joints[0]->getBlendingMatrix(), *b = joints[1]->getBlendingMatrix(),
                   *c = joints[2]->getBlendingMatrix();
    auto x = make<kaMatrixObject>();

    auto ab = palette({a, b}), bc = palette({b, c}), ax = palette({a, x}), empty = palette({});
    auto first = skinnedArray({{0, 1}}), shared = skinnedArray({{0, 1}, {1, 5}}), sameList = skinnedArray({{1, 0}});
    auto foreign = skinnedArray({{0, 1}}), unlisted = skinnedArray({{0, 1}}), plain = skinnedArray({{}});
    // Past the stored weights a slot weighs nothing, but the one index of an array without
    // weights carries the whole vertex.
    auto weightless = partlyWeightedArray(1, {{1, 7}}), rigid = partlyWeightedArray(0, {{9}, {1}});
    geometry(root, "first", ab, {first, plain});
    auto second = geometry(root, "second", bc, {shared, shared});
    geometry(root, "weightless", bc, {weightless});
    auto rigidNode = geometry(root, "rigid", bc, {rigid});
    // Palettes in force from sets above: the second set's own, not the first's.
    auto setB = make<kaAttrSet>(), setX = make<kaAttrSet>();
    setB->appendAttr(bc), setX->appendAttr(ax), root->appendChild(setB), root->appendChild(setX);
    geometry(setB, "third", nullptr, {sameList});
    geometry(setX, "foreign", nullptr, {foreign});
    geometry(root, "unlisted", empty, {unlisted});

    const std::string out = runPass("kaCombineVertexBlendMatrixListAttrs", root);

    const std::vector<kaMatrixObject*> combined{a, b, c};
    EXPECT_EQ(matricesOf(ab), combined);
    EXPECT_EQ(matricesOf(bc), combined);
    EXPECT_EQ(matricesOf(ax), (std::vector<kaMatrixObject*>{a, x}));
    EXPECT_EQ(empty->getMatrixCount(), 0);
    EXPECT_EQ(blendIndices(*first), (kaIndexRows{{0, 1}}));
    // The shared array is rewritten once; index 5 names no matrix of [B, C]: its influence goes.
    EXPECT_EQ(blendIndices(*shared), (kaIndexRows{{1, 2}, {2, 0}}));
    EXPECT_EQ(shared->getBlendWeight(1, 1), 0.0f);
    EXPECT_EQ(shared->getBlendWeight(1, 0), 0.5f);
    EXPECT_EQ(blendIndices(*sameList), (kaIndexRows{{2, 1}}));
    EXPECT_EQ(blendIndices(*foreign), (kaIndexRows{{0, 1}}));
    EXPECT_EQ(blendIndices(*unlisted), (kaIndexRows{{0, 1}}));
    EXPECT_EQ(blendIndices(*weightless), (kaIndexRows{{2, 0}}));
    EXPECT_EQ(weightless->getBlendWeight(0, 0), 1.0f);
    EXPECT_EQ(blendIndices(*rigid), (kaIndexRows{{0}, {2}}));
    EXPECT_EQ(out, kaFormat("WARNING: geometry 0x%08x \"second\" attr1: 1 blend influences dropped: their blend indices "
                            "lie outside the 2 matrices of their matrix list.\n"
                            "WARNING: geometry 0x%08x \"rigid\" attr1: 1 vertices bound to the first matrix of the "
                            "combined list: their one blend index, which carries the whole vertex, lies outside the 2 "
                            "matrices of their matrix list.\n",
                            low(second.get()), low(rigidNode.get())));
}

TEST(CombineMatrixLists, EachHierarchyGetsItsOwnListAndEightBitIndicesAreKept)
{
    auto root = make<kaGroup>();
    // A joint under a plain group and under another joint too: a hierarchy of its own, met
    // first, and part of the outer one's, which combines its palette again.
    auto outer = make<kaJoint>(), inner = make<kaJoint>();
    auto holder = make<kaGroup>();
    root->appendChild(holder), holder->appendChild(inner);
    auto innerList = palette({inner->getBlendingMatrix()});
    auto innerArray = skinnedArray({{0, 0}});
    geometry(root, "inner", innerList, {innerArray});
    auto left = jointChain(root, 2), right = jointChain(root, 300);
    auto leftList = palette({left[1]->getBlendingMatrix(), left[0]->getBlendingMatrix()});
    auto rightList = palette({right[1]->getBlendingMatrix(), right[0]->getBlendingMatrix()});
    auto mixed = palette({left[0]->getBlendingMatrix(), right[0]->getBlendingMatrix()});
    auto beyond = palette({right[299]->getBlendingMatrix()});
    auto leftArray = skinnedArray({{0, 1}}), rightArray = skinnedArray({{0, 1}});
    auto mixedArray = skinnedArray({{0, 1}}), beyondArray = skinnedArray({{0, 0}});
    geometry(root, "left", leftList, {leftArray});
    geometry(root, "right", rightList, {rightArray});
    geometry(root, "mixed", mixed, {mixedArray});
    geometry(root, "beyond", beyond, {beyondArray});
    root->appendChild(outer), outer->appendChild(inner);

    const std::string out = runPass("kaCombineVertexBlendMatrixListAttrs", root);

    EXPECT_EQ(matricesOf(leftList), (std::vector<kaMatrixObject*>{left[0]->getBlendingMatrix(), left[1]->getBlendingMatrix()}));
    EXPECT_EQ(rightList->getMatrixCount(), 300);
    EXPECT_EQ(blendIndices(*leftArray), (kaIndexRows{{1, 0}}));
    EXPECT_EQ(blendIndices(*rightArray), (kaIndexRows{{1, 0}}));
    EXPECT_EQ(matricesOf(mixed).size(), 2u) << "a palette of two hierarchies belongs to neither";
    EXPECT_EQ(blendIndices(*mixedArray), (kaIndexRows{{0, 1}}));
    // Joint 299 would lie at position 299 of the combined list, which 8-bit indices cannot name.
    EXPECT_EQ(beyond->getMatrixCount(), 1);
    EXPECT_NE(out.find("WARNING: matrix list 0x"), std::string::npos) << out;
    EXPECT_EQ(matricesOf(innerList), (std::vector<kaMatrixObject*>{outer->getBlendingMatrix(), inner->getBlendingMatrix()}));
    EXPECT_EQ(blendIndices(*innerArray), (kaIndexRows{{1, 1}}));
    EXPECT_EQ(out.find("shared with geometry"), std::string::npos) << out;
}
