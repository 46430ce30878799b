// kaConvertMorphInstance: the shape checks, the dense target lists of every target, bad indices.
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaMorphedGeometryAttr.h"
#include "kaPassTestTools.h"

using namespace kaTest;
using namespace Lode::Attrs;
using namespace Lode::Math;
using namespace Lode::Utils;

namespace {
// Vertices with positions, and normals when asked.
kaSmartPointer<kaVertexArray> vertices(int count, bool normals) { return weightedArray(std::vector<std::vector<float>>(count), normals); }

using Target = std::pair<std::vector<int>, std::vector<kaVec3f>>;

// Targets moving positions (and normals, with the same lists) by pairs of index and displacement.
kaSmartPointer<kaMorphBase> base(kaVertexArray* array, const std::vector<Target>& targets)
{
    auto result = make<kaMorphBase>();
    result->setVertexArray(array);
    for (auto& [indices, moves] : targets) {
        auto indexList = make<kaIntList>();
        for (int index : indices) indexList->append(index);
        auto moveList = make<kaVec3fList>();
        for (const kaVec3f& move : moves) moveList->append(move);
        result->appendTarget(moveList, indexList, moveList, indexList);
    }
    return result;
}

kaSmartPointer<kaMorphInstance> instance(kaMorphBase* morphBase, std::initializer_list<kaAttr*> attrs)
{
    auto result = make<kaMorphInstance>("face");
    result->setBase(morphBase);
    for (kaAttr* attr : attrs) result->appendAttr(attr);
    return result;
}

// Puts node under a new group, converts, and returns what stands there after, with the output.
std::pair<kaSmartPointer<kaNode>, std::string> convert(kaNode* node)
{
    auto root = make<kaGroup>();
    root->appendChild(node);
    const std::string out = runPass("kaConvertMorphInstance", root.get());
    return {root->getChild(0), out};
}

std::vector<kaVec3f> valuesOf(const kaVec3fAlignedList* list)
{
    std::vector<kaVec3f> values;
    for (int i = 0; list && i < list->getCount(); ++i) values.push_back(list->get(i));
    return values;
}
} // namespace

TEST(ConvertMorphInstance, MorphInstancesOfAnotherShapeAreReportedAndKept)
{
    auto array = vertices(4, false);
    auto good = base(array, {{{1, 2}, {{1, 1, 1}}}});
    auto drawn = geometryAttr(array, 0, 0);
    const struct {
        kaSmartPointer<kaMorphInstance> node;
        const char* message;
    } cases[] = {
        {instance(good, {drawn, drawn}), "the morph instance should have only one attribute"},
        {instance(good, {make<kaMaterialAttr>()}), "the morph instance should have one geometry attribute"},
        {instance(nullptr, {drawn}), "the morph instance should have one kaMorphBase"},
        {instance(make<kaMorphBase>(), {drawn}), "the morph instance should have one kaMorphBase"},
    };
    for (const auto& shape : cases) {
        const auto [after, out] = convert(shape.node);
        EXPECT_TRUE(out == shape.message && after.get() == shape.node.get()) << out;
    }
}

TEST(ConvertMorphInstance, DenseTargetsLeaveOutTheClosingIndexAndWhatNamesNoVertex)
{
    const kaVec3f a(1, 0, 0), b(0, 2, 0), c(0, 0, 3), zero;
    for (bool normals : {false, true}) {
        auto array = vertices(4, normals);
        auto old = instance(base(array, {{{1, 3, 0}, {a, b, c}}, {{2, 0}, {c}}}), {geometryAttr(array, 0, 0)});
        old->appendChild(make<kaGroup>("kept"));
        const auto [after, out] = convert(old);
        auto* converted = kaMorphInstance2::dynamicCast(after.get());
        ASSERT_TRUE(converted);
        EXPECT_EQ(out, "");
        EXPECT_STREQ(converted->getName(), "face");
        EXPECT_EQ(converted->getChildCount(), 1);
        EXPECT_EQ(converted->getCoefficient()->getCount(), 2);
        const kaMorphDataList* morphs = converted->getMorphGeometry()->getMorphList();
        ASSERT_EQ(morphs->getCount(), normals ? 2 : 1);
        for (int slot = 0; slot < morphs->getCount(); ++slot) {
            const auto* data = kaVector3MorphData::dynamicCast(morphs->getShared(slot));
            EXPECT_EQ(valuesOf(data->getTarget(0)), (std::vector<kaVec3f>{zero, a, zero, b}));
            EXPECT_EQ(valuesOf(data->getTarget(1)), (std::vector<kaVec3f>{zero, zero, c, zero}));
            EXPECT_EQ(data->getNormalizeResult(), slot);
        }
    }

    // An index past the vertices and index entries past the displacements place nothing.
    auto array = vertices(3, false);
    auto old = instance(base(array, {{{7, 2, 1, 0, -1}, {a, b}}}), {geometryAttr(array, 0, 0)});
    const auto [after, out] = convert(old);
    const auto* positions = kaVector3MorphData::dynamicCast(
        kaMorphInstance2::dynamicCast(after.get())->getMorphGeometry()->getMorphList()->getShared(0));
    EXPECT_EQ(valuesOf(positions->getTarget(0)), (std::vector<kaVec3f>{zero, zero, b}));
    EXPECT_EQ(out, kaFormat("WARNING: morph instance 0x%08x \"face\": 3 displacements dropped (2 index entries without "
                            "a displacement, 1 indices outside its 3 vertices)\n",
                            low(old.get())));
}
