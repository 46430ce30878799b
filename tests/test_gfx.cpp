#include "host/gfx/kaGfxEnums.h"
#include "host/gfx/kaImage.h"
#include "host/gfx/kaIndexArray.h"
#include "host/gfx/kaVertexArray.h"
#include "host/gfx/kaVertexFormat.h"
#include "host/gfx/kaPngCodec.h"
#include "kaTestTools.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace Lode::Gfx;
using Lode::Core::kaDataBlockMetaField;
using Lode::Core::kaMetaField;
using Lode::Core::kaMetaObject;
using Lode::Core::kaObject;
using Lode::Core::kaSmartPointer;
using Lode::Core::make;
using Lode::Math::kaVec2f;
using Lode::Math::kaVec3f;
using Lode::Sg::kaVertexArrayHelper;

namespace {

size_t blockBytes(const kaObject* object, const char* field)
{
    const auto* block = dynamic_cast<const kaDataBlockMetaField*>(object->getMetaField(field));
    EXPECT_NE(block, nullptr) << field;
    return block ? block->getByteSize(object) : 0;
}

bool setField(kaObject* object, const char* field, const char* text)
{
    std::string error;
    kaMetaField* meta = object->getMetaField(field);
    return meta && meta->setFromText(object, text, error);
}

kaVertexFormat makeFormat(bool positions, bool normals, bool colors, int weights, int indices, int sets, int sprites)
{
    kaVertexFormat format;
    format.setPositions(positions);
    format.setNormals(normals);
    format.setColors(colors);
    format.setBlendWeightCount(weights);
    format.setBlendIndexCount(indices);
    format.setTextureCoordSetCount(sets);
    format.setPointSpriteCoordCount(sprites);
    return format;
}

// Every component of every vertex gets a value that tells vertex, component and slot apart.
void fillDistinct(kaVertexArray& array)
{
    const kaVertexFormat format = array.getVertexFormat();
    for (int v = 0; v < array.getVertexCount(); ++v) {
        array.setPosition(v, kaVec3f(v + 0.1f, v + 0.2f, v + 0.3f));
        array.setNormal(v, kaVec3f(-v - 0.1f, -v - 0.2f, -v - 0.3f));
        const float color[4] = {v * 0.01f, v * 0.02f, v * 0.03f, 1.0f - v * 0.01f};
        array.setColor(v, color);
        for (int k = 0; k < format.getBlendWeightCount(); ++k) array.setBlendWeight(v, k, v * 10.0f + k);
        for (int k = 0; k < format.getBlendIndexCount(); ++k) array.setBlendIndex(v, k, uint8_t(v * 16 + k));
        for (int s = 0; s < format.getTextureCoordSetCount(); ++s)
            array.setTexCoord(v, s, kaVec2f(v + s * 100.0f, v - s * 100.0f));
        for (int k = 0; k < format.getPointSpriteCoordCount(); ++k)
            array.pointSpriteData()[v * format.getPointSpriteCoordCount() + k] = v * 7.0f + k;
    }
}

} // namespace

// ---- vertex format word ----

TEST(GfxVertexFormat, EachFieldLivesAtItsBits)
{
    EXPECT_EQ(makeFormat(true, false, false, 0, 0, 0, 0).getWord(), 0x1u);
    EXPECT_EQ(makeFormat(false, true, false, 0, 0, 0, 0).getWord(), 0x2u);
    EXPECT_EQ(makeFormat(false, false, true, 0, 0, 0, 0).getWord(), 0x4u);
    EXPECT_EQ(makeFormat(false, false, false, 15, 0, 0, 0).getWord(), 0xF0u);
    EXPECT_EQ(makeFormat(false, false, false, 0, 15, 0, 0).getWord(), 0xF00u);
    EXPECT_EQ(makeFormat(false, false, false, 0, 0, 15, 0).getWord(), 0xF0000u);
    EXPECT_EQ(makeFormat(false, false, false, 0, 0, 0, 3).getWord(), 0x300000u);
    EXPECT_EQ(makeFormat(true, true, false, 4, 4, 1, 0).getWord(), 0x10443u);

    // Decoding a hand-packed word: P, C, 10 weights, 5 indices, 3 sets, 2 sprite coordinates.
    const kaVertexFormat format(0x002305A5u);
    EXPECT_TRUE(format.hasPositions());
    EXPECT_FALSE(format.hasNormals());
    EXPECT_TRUE(format.hasColors());
    EXPECT_EQ(format.getBlendWeightCount(), 10);
    EXPECT_EQ(format.getBlendIndexCount(), 5);
    EXPECT_EQ(format.getTextureCoordSetCount(), 3);
    EXPECT_EQ(format.getPointSpriteCoordCount(), 2);
    EXPECT_EQ(format.hasVertexColors(), format.hasColors());
    EXPECT_EQ(format.getTextureCoordCount(), format.getTextureCoordSetCount());
}

TEST(GfxVertexFormat, SettersLeaveEveryOtherBitAlone)
{
    struct FieldCase {
        const char* name;
        uint32_t mask;
        void (*set)(kaVertexFormat&);
    };
    const FieldCase cases[] = {
        {"positions", 0x1u, [](kaVertexFormat& f) { f.setPositions(!f.hasPositions()); }},
        {"normals", 0x2u, [](kaVertexFormat& f) { f.setNormals(!f.hasNormals()); }},
        {"colors", 0x4u, [](kaVertexFormat& f) { f.setColors(!f.hasColors()); }},
        {"weights", 0xF0u, [](kaVertexFormat& f) { f.setBlendWeightCount(f.getBlendWeightCount() ^ 0x5); }},
        {"indices", 0xF00u, [](kaVertexFormat& f) { f.setBlendIndexCount(f.getBlendIndexCount() ^ 0x5); }},
        {"sets", 0xF0000u, [](kaVertexFormat& f) { f.setTextureCoordSetCount(f.getTextureCoordSetCount() ^ 0x5); }},
        {"sprites", 0x300000u, [](kaVertexFormat& f) { f.setPointSpriteCoordCount(f.getPointSpriteCoordCount() ^ 0x1); }},
    };
    // All ones, all zeros and mixed words, including the bits no field interprets.
    for (uint32_t word : {0xFFFFFFFFu, 0x0u, 0xA5A5A5A5u, 0x5A5A5A5Au, 0xDEADBEEFu}) {
        for (const FieldCase& field : cases) {
            kaVertexFormat format(word);
            field.set(format);
            EXPECT_EQ(format.getWord() & ~field.mask, word & ~field.mask) << field.name << " on " << std::hex << word;
            EXPECT_NE(format.getWord() & field.mask, word & field.mask) << field.name << " did not change";
        }
    }
}

TEST(GfxVertexFormat, CountsCoverTheirRangeAndClampBeyondIt)
{
    for (int count = 0; count <= 15; ++count) {
        kaVertexFormat format(0xFFFFFFFFu);
        format.setBlendWeightCount(count);
        format.setBlendIndexCount(15 - count);
        format.setTextureCoordSetCount(count);
        EXPECT_EQ(format.getBlendWeightCount(), count);
        EXPECT_EQ(format.getBlendIndexCount(), 15 - count);
        EXPECT_EQ(format.getTextureCoordSetCount(), count);
    }
    kaVertexFormat format;
    format.setBlendWeightCount(16);
    format.setBlendIndexCount(-1);
    format.setPointSpriteCoordCount(4);
    EXPECT_EQ(format.getBlendWeightCount(), 15);
    EXPECT_EQ(format.getBlendIndexCount(), 0);
    EXPECT_EQ(format.getPointSpriteCoordCount(), 3);
    // A clamped count must not spill into the neighbouring fields.
    EXPECT_EQ(format.getWord(), 0x3000F0u);
}

TEST(GfxVertexFormat, TextAndEquality)
{
    EXPECT_EQ(makeFormat(true, true, true, 4, 4, 1, 0).toText(), "P N C B=4 I=4 T=1");
    EXPECT_EQ(makeFormat(false, true, false, 0, 0, 0, 2).toText(), "N S=2");
    EXPECT_EQ(kaVertexFormat().toText(), "none");
    EXPECT_EQ(kaVertexFormat(0x10443u), makeFormat(true, true, false, 4, 4, 1, 0));
    EXPECT_NE(kaVertexFormat(0x10443u), kaVertexFormat(0x10453u));
}

// ---- vertex arrays ----

TEST(GfxVertexArray, SetupSizesEveryBlockForTheFormat)
{
    auto array = make<kaVertexArray>();
    EXPECT_FALSE(array->isSetupOpen());
    const kaVertexFormat format = makeFormat(true, true, true, 4, 3, 2, 1);
    array->setup(format, 5, 0x2Au, 0);
    EXPECT_TRUE(array->isSetupOpen());
    EXPECT_EQ(array->getVertexFormat(), format);
    EXPECT_EQ(array->getVertexCount(), 5);
    EXPECT_EQ(array->getBlendWeightCount(), 4);
    EXPECT_EQ(array->getBlendIndexCount(), 3);
    EXPECT_EQ(array->getUsage(), 0x2Au);
    EXPECT_EQ(blockBytes(array, "_positions"), 5 * 3 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_normals"), 5 * 3 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_colors"), 5 * 4 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_blendWeights"), 5 * 4 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_blendIndices"), 5 * 3u);
    EXPECT_EQ(blockBytes(array, "_texCoords"), 5 * 2 * 2 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_pointSpriteSizes"), 5 * 1 * sizeof(float));
    for (int i = 0; i < 5 * 4; ++i) EXPECT_EQ(array->blendWeightData()[i], 0.0f);
    array->closeSetup();
    EXPECT_FALSE(array->isSetupOpen());

    // A second set-up with a smaller format drops the absent components and zeroes the rest.
    array->blendWeightData()[0] = 0.75f;
    array->setup(makeFormat(true, false, false, 1, 1, 0, 0), 3, 0, 0);
    EXPECT_EQ(blockBytes(array, "_normals"), 0u);
    EXPECT_EQ(blockBytes(array, "_texCoords"), 0u);
    EXPECT_EQ(array->normalData(), nullptr);
    EXPECT_EQ(array->texCoordData(0), nullptr);
    EXPECT_EQ(blockBytes(array, "_blendWeights"), 3 * sizeof(float));
    EXPECT_EQ(array->blendWeightData()[0], 0.0f);

    array->setup(format, -4, 0, 0);
    EXPECT_EQ(array->getVertexCount(), 0);
    EXPECT_EQ(array->positionData(), nullptr);
}

TEST(GfxVertexArray, AccessorsAgreeWithTheDirectLayout)
{
    const int n = 4;
    auto array = make<kaVertexArray>();
    array->setup(makeFormat(true, true, true, 3, 2, 2, 2), n, 0, 0);
    fillDistinct(*array);

    // Written through the accessors, found where the layout says.
    EXPECT_EQ(array->positionData()[2 * 3 + 1], 2 + 0.2f);
    EXPECT_EQ(array->normalData()[3 * 3 + 2], -3 - 0.3f);
    EXPECT_EQ(array->colorData()[1 * 4 + 3], 1.0f - 1 * 0.01f);
    EXPECT_EQ(array->blendWeightData()[2 * 3 + 1], 21.0f);  // vertex-major, 3 slots
    EXPECT_EQ(array->blendIndexData()[3 * 2 + 1], 49);      // vertex-major, 2 slots
    EXPECT_EQ(array->texCoordData(1), array->texCoordData(0) + 2 * n);  // set-major
    EXPECT_EQ(array->texCoordData(1)[2 * 2], 102.0f);
    EXPECT_EQ(array->texCoordData(1)[2 * 2 + 1], -98.0f);

    // Written directly, read back through the accessors.
    array->blendWeightData()[1 * 3 + 2] = 0.125f;
    array->blendIndexData()[0 * 2 + 1] = 200;
    array->texCoordData(0)[3 * 2] = 0.5f;
    array->positionData()[0] = -7.0f;
    EXPECT_EQ(array->getBlendWeight(1, 2), 0.125f);
    EXPECT_EQ(array->getBlendIndex(0, 1), 200);
    kaVec2f texCoord;
    array->getTexCoord(3, 0, texCoord);
    EXPECT_EQ(texCoord.x, 0.5f);
    kaVec3f position;
    array->getPosition(0, position);
    EXPECT_EQ(position.x, -7.0f);
    float color[4];
    array->getColor(2, color);
    EXPECT_EQ(color[2], 2 * 0.03f);
}

TEST(GfxVertexArray, AccessOutsideTheArrayReadsZeroAndWritesNothing)
{
    auto array = make<kaVertexArray>();
    array->setup(makeFormat(true, false, false, 2, 2, 1, 0), 2, 0, 0);
    fillDistinct(*array);
    const std::vector<float> weightsBefore(array->blendWeightData(), array->blendWeightData() + 4);

    array->setBlendWeight(0, 2, 9.0f);   // slot past the count: must not land in vertex 1
    array->setBlendWeight(2, 0, 9.0f);   // vertex past the count
    array->setBlendWeight(-1, 1, 9.0f);
    array->setBlendIndex(1, 2, 9);
    EXPECT_EQ(std::vector<float>(array->blendWeightData(), array->blendWeightData() + 4), weightsBefore);
    EXPECT_EQ(array->getBlendIndex(1, 1), 17);
    EXPECT_EQ(array->getBlendWeight(0, 2), 0.0f);
    EXPECT_EQ(array->getBlendWeight(2, 0), 0.0f);
    EXPECT_EQ(array->getBlendIndex(-1, 0), 0);

    // Absent components: normals, colours, a second texture set.
    array->setNormal(0, kaVec3f(1, 2, 3));
    kaVec3f normal(5, 5, 5);
    array->getNormal(0, normal);
    EXPECT_EQ(normal.x + normal.y + normal.z, 0.0f);
    float color[4] = {5, 5, 5, 5};
    array->getColor(1, color);
    EXPECT_EQ(color[0] + color[1] + color[2] + color[3], 0.0f);
    kaVec2f texCoord(5, 5);
    array->getTexCoord(0, 1, texCoord);
    EXPECT_EQ(texCoord.x + texCoord.y, 0.0f);
    EXPECT_EQ(array->texCoordData(1), nullptr);
    EXPECT_EQ(array->texCoordData(-1), nullptr);
}

TEST(GfxVertexArray, IsReflectedAndRepairsBlocksAfterRead)
{
    kaVertexArray2::arkRegister();
    kaMetaObject* meta = kaMetaObject::findClass("kaVertexArray2");
    ASSERT_NE(meta, nullptr);
    EXPECT_TRUE(meta->isOfType(kaVertexArray::getClassMetaSafe()));
    for (const char* field : {"_format", "_vertexCount", "_usage", "_positions", "_normals", "_colors",
                              "_blendWeights", "_blendIndices", "_texCoords", "_pointSpriteSizes"})
        EXPECT_NE(meta->findMetaField(field), nullptr) << field;

    // A reader sets the fields one by one. A count that the blocks cannot back (a damaged file)
    // is cut to what every named component holds; blocks of components the format does not
    // name are dropped; nothing is allocated beyond what was read.
    auto array = kaSmartPointer<kaVertexArray>::adopt(static_cast<kaVertexArray*>(meta->createInstance(nullptr)));
    ASSERT_TRUE(setField(array, "_format", std::to_string(makeFormat(true, false, false, 2, 2, 0, 0).getWord()).c_str()));
    ASSERT_TRUE(setField(array, "_vertexCount", "4000000000"));
    ASSERT_TRUE(setField(array, "_usage", "7"));
    ASSERT_TRUE(setField(array, "_positions", "1, 2, 3, 4, 5, 6, 7"));
    ASSERT_TRUE(setField(array, "_blendWeights", "0.5, 0.25, 0.75, 0.125, 1, 0"));
    ASSERT_TRUE(setField(array, "_blendIndices", "1, 2, 3, 4"));
    ASSERT_TRUE(setField(array, "_normals", "1, 2, 3"));
    array->afterRead();
    EXPECT_EQ(array->getVertexCount(), 2);
    EXPECT_EQ(blockBytes(array, "_positions"), 2 * 3 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_blendWeights"), 2 * 2 * sizeof(float));
    EXPECT_EQ(blockBytes(array, "_blendIndices"), 2 * 2u);
    EXPECT_EQ(blockBytes(array, "_normals"), 0u);
    EXPECT_EQ(array->getBlendWeight(0, 1), 0.25f);
    EXPECT_EQ(array->getBlendWeight(1, 1), 0.125f);
    EXPECT_EQ(array->getUsage(), 7u);
    EXPECT_FALSE(array->isSetupOpen());
}

// ---- copying vertices ----

TEST(GfxVertexCopy, HelperCopiesTheFirstSlotsIntoAnArrayWithFewer)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        const int n = 5;
        auto source = make<kaVertexArray>();
        source->setup(makeFormat(true, true, true, 4, 4, 2, 1), n, 3, 0);
        fillDistinct(*source);

        // The reduction's format: only the blend counts change.
        kaVertexFormat reduced = source->getVertexFormat();
        reduced.setBlendWeightCount(2);
        reduced.setBlendIndexCount(2);
        auto destination = make<kaVertexArray>();
        destination->setup(reduced, n, source->getUsage(), 0);
        auto helper = make<kaVertexArrayHelper>();
        for (int v = 0; v < n; ++v) helper->copyVertex(source, destination, v, v, reduced);

        EXPECT_EQ(destination->getUsage(), 3u);
        for (int v = 0; v < n; ++v) {
            for (int k = 0; k < 2; ++k) {
                EXPECT_EQ(destination->getBlendWeight(v, k), source->getBlendWeight(v, k));
                EXPECT_EQ(destination->getBlendIndex(v, k), source->getBlendIndex(v, k));
            }
            kaVec3f a, b;
            source->getNormal(v, a);
            destination->getNormal(v, b);
            EXPECT_EQ(a.z, b.z);
        }
        EXPECT_EQ(0, std::memcmp(source->positionData(), destination->positionData(), n * 3 * sizeof(float)));
        EXPECT_EQ(0, std::memcmp(source->colorData(), destination->colorData(), n * 4 * sizeof(float)));
        EXPECT_EQ(0, std::memcmp(source->texCoordData(0), destination->texCoordData(0), n * 2 * 2 * sizeof(float)));
        EXPECT_EQ(0, std::memcmp(source->pointSpriteData(), destination->pointSpriteData(), n * sizeof(float)));
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);
}

TEST(GfxVertexCopy, OnlyWhatTheFormatAndBothArraysHaveIsCopied)
{
    auto source = make<kaVertexArray>();
    source->setup(makeFormat(true, true, false, 2, 2, 1, 0), 3, 0, 0);
    fillDistinct(*source);
    auto destination = make<kaVertexArray>();
    destination->setup(makeFormat(true, true, true, 4, 4, 2, 0), 3, 0, 0);
    const float marker[4] = {9, 9, 9, 9};
    destination->setColor(0, marker);
    destination->setNormal(0, kaVec3f(9, 9, 9));
    destination->setBlendWeight(0, 3, 9.0f);

    // The format leaves out the normals: they stay; colours are not in the source: they stay.
    const kaVertexFormat withoutNormals = makeFormat(true, false, true, 4, 4, 2, 0);
    EXPECT_TRUE(kaCopyVertex(*source, *destination, 2, 0, withoutNormals));
    kaVec3f position, normal;
    destination->getPosition(0, position);
    destination->getNormal(0, normal);
    EXPECT_EQ(position.x, 2 + 0.1f);
    EXPECT_EQ(normal.x, 9.0f);
    float color[4];
    destination->getColor(0, color);
    EXPECT_EQ(color[0], 9.0f);
    // Two slots in the source: slots 2 and 3 of the destination are not touched.
    EXPECT_EQ(destination->getBlendWeight(0, 1), 21.0f);
    EXPECT_EQ(destination->getBlendWeight(0, 3), 9.0f);
    kaVec2f set0, set1;
    destination->getTexCoord(0, 0, set0);
    destination->getTexCoord(0, 1, set1);
    EXPECT_EQ(set0.x, 2.0f);
    EXPECT_EQ(set1.x, 0.0f);

    EXPECT_FALSE(kaCopyVertex(*source, *destination, 3, 0, withoutNormals));
    EXPECT_FALSE(kaCopyVertex(*source, *destination, 0, -1, withoutNormals));

    // A format asking for more slots than the destination has must not spill into the next vertex.
    auto narrow = make<kaVertexArray>();
    narrow->setup(makeFormat(false, false, false, 1, 1, 0, 0), 2, 0, 0);
    narrow->setBlendWeight(1, 0, 5.0f);
    narrow->setBlendIndex(1, 0, 5);
    EXPECT_TRUE(kaCopyVertex(*destination, *narrow, 0, 0, destination->getVertexFormat()));
    EXPECT_EQ(narrow->getBlendWeight(0, 0), 20.0f);
    EXPECT_EQ(narrow->getBlendWeight(1, 0), 5.0f);
    EXPECT_EQ(narrow->getBlendIndex(1, 0), 5);
}

TEST(GfxVertexCopy, BuilderMakesAnEqualSecondGenerationArray)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        auto source = make<kaVertexArray>();
        const kaVertexFormat format = makeFormat(true, true, true, 3, 3, 2, 1);
        source->setup(format, 6, 0, 0);
        fillDistinct(*source);

        auto builder = make<kaVertexArray2Helper>();
        EXPECT_EQ(builder->getVertexArray(), nullptr);
        builder->begin(format, source->getVertexCount(), 0, 0);
        for (int v = 0; v < source->getVertexCount(); ++v) builder->copyVertex(source, format, v, v);
        kaSmartPointer<kaVertexArray2> built = builder->getVertexArray();
        ASSERT_NE(built.get(), nullptr);
        EXPECT_TRUE(built->isOfType(kaVertexArray2::getClassMetaSafe()));
        EXPECT_FALSE(built->isSetupOpen());
        EXPECT_EQ(built->getVertexFormat(), format);
        EXPECT_EQ(built->getVertexCount(), 6);
        for (const char* block : {"_positions", "_normals", "_colors", "_blendWeights", "_blendIndices", "_texCoords",
                                  "_pointSpriteSizes"}) {
            const auto* field = dynamic_cast<const kaDataBlockMetaField*>(built->getMetaField(block));
            ASSERT_EQ(field->getByteSize(built), field->getByteSize(source)) << block;
            EXPECT_EQ(0, std::memcmp(field->getBytes(built), field->getBytes(source), field->getByteSize(source)))
                << block;
        }

        // The next begin starts a new array; whoever holds the old one keeps it.
        builder->begin(format, 0, 0, 0);
        EXPECT_NE(builder->getVertexArray(), built.get());
        EXPECT_EQ(builder->getVertexArray()->getVertexCount(), 0);
        EXPECT_EQ(built->getRefCount(), 1);
        EXPECT_EQ(built->getBlendIndex(5, 2), 82);
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);
}

// ---- index arrays ----

TEST(GfxIndexArray, CountIndicesAndReflectedBlock)
{
    auto indices = make<kaIndexArray>();
    EXPECT_EQ(indices->getCount(), 0);
    indices->setCount(4);
    for (int i = 0; i < 4; ++i) indices->setIndex(i, uint32_t(10 + i));
    EXPECT_EQ(indices->data()[2], 12u);
    indices->data()[3] = 70000;
    EXPECT_EQ(indices->getIndex(3), 70000u);
    indices->setIndex(4, 1);
    indices->setIndex(-1, 1);
    EXPECT_EQ(indices->getIndex(4), 0u);
    EXPECT_EQ(indices->getCount(), 4);
    EXPECT_EQ(indices->getMetaField("_indices")->toText(indices), "10, 11, 12, 70000");
    indices->setCount(2);
    EXPECT_EQ(indices->getIndex(1), 11u);
    indices->setCount(-3);
    EXPECT_EQ(indices->getCount(), 0);
}

// ---- enumerations ----

TEST(GfxEnums, MetaEnumsNameTheirValues)
{
    auto* filters = getKA_GFX_TEXTURE_FILTERMetaEnum();
    const char* filterNames[] = {"Nearest",             "Linear",
                                 "NearestMipmapNearest", "NearestMipmapLinear",
                                 "LinearMipmapNearest",  "LinearMipmapLinear"};
    ASSERT_EQ(filters->getCount(), 6);
    for (int value = 0; value < 6; ++value) EXPECT_STREQ(filters->findName(value), filterNames[value]);
    int32_t parsed = -1;
    EXPECT_TRUE(filters->parse("LinearMipmapLinear", parsed));
    EXPECT_EQ(parsed, KA_GFX_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR);

    EXPECT_STREQ(getKA_GFX_DRAWMetaEnum()->findName(KA_GFX_DRAW_TRIANGLE_STRIP), "KA_GFX_DRAW_TRIANGLE_STRIP");
    EXPECT_EQ(getKA_GFX_DRAWMetaEnum()->findName(6), nullptr);
    EXPECT_STREQ(getKA_GFX_TEXTURE_FORMATMetaEnum()->findName(5), "RGB8");
    EXPECT_STREQ(getKA_GFX_TEXTURE_FORMATMetaEnum()->findName(7), "RGBA8");
    EXPECT_STREQ(getKA_GFX_TEXTURE_MODEMetaEnum()->findName(1), "Mipmap");
    EXPECT_STREQ(getKA_GFX_IMAGE_ORDERMetaEnum()->findName(100), "RGBA");
    EXPECT_STREQ(getKA_GFX_LIGHT_TYPEMetaEnum()->findName(2), "Spot");
    EXPECT_EQ(getKA_GFX_DRAWMetaEnum(), getKA_GFX_DRAWMetaEnum());
}

// ---- images ----

TEST(GfxImage, SetupSizesRowsForEachFormat)
{
    struct FormatCase {
        KA_GFX_TEXTURE_FORMAT format;
        int bytesPerPixel;
    };
    const FormatCase cases[] = {{KA_GFX_TEXTURE_FORMAT_GREY_8, 1},    {KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8, 2},
                                {KA_GFX_TEXTURE_FORMAT_PALETTE_8, 1}, {KA_GFX_TEXTURE_FORMAT_RGB_565, 2},
                                {KA_GFX_TEXTURE_FORMAT_RGB_8, 3},     {KA_GFX_TEXTURE_FORMAT_RGBA_4444, 2},
                                {KA_GFX_TEXTURE_FORMAT_RGBA_8, 4},    {KA_GFX_TEXTURE_FORMAT_UNKNOWN, 0}};
    auto image = make<kaImage>();
    EXPECT_EQ(image->getOrder(), KA_GFX_IMAGE_ORDER_RGBA);
    for (const FormatCase& c : cases) {
        image->setup(7, 3, c.format);
        EXPECT_EQ(image->getWidth(), 7);
        EXPECT_EQ(image->getHeight(), 3);
        EXPECT_EQ(image->getBytesPerRow(), 7 * c.bytesPerPixel) << c.format;
        EXPECT_EQ(image->getSize(), size_t(21 * c.bytesPerPixel)) << c.format;
        EXPECT_EQ(image->getFormat(), c.format);
        EXPECT_EQ(image->isIndexed(), c.format == KA_GFX_TEXTURE_FORMAT_PALETTE_8);
        EXPECT_EQ(image->getPaletteEntryCount(), 0);
    }
    image->setPaletteEntryCount(300);
    EXPECT_EQ(image->getPaletteEntryCount(), 256);
    EXPECT_EQ(image->getMetaField("_format")->toText(image), "Unknown");
    std::string error;
    EXPECT_TRUE(image->getMetaField("_format")->setFromText(image, "RGBA8", error));
    EXPECT_EQ(image->getFormat(), KA_GFX_TEXTURE_FORMAT_RGBA_8);
}

TEST(GfxImage, CopiesAreIndependent)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        auto image = make<kaImage>();
        image->setName("textures/wall.png");
        image->setup(3, 2, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
        image->setPaletteEntryCount(2);
        image->paletteData()[4] = 200;
        image->pixelData()[5] = 1;
        image->setOrder(KA_GFX_IMAGE_ORDER_BGRA);

        auto copy = kaSmartPointer<kaImage>::adopt(image->copy());
        EXPECT_EQ(copy->getRefCount(), 1);
        EXPECT_STREQ(copy->getName(), "textures/wall.png");
        EXPECT_EQ(copy->getFormat(), KA_GFX_TEXTURE_FORMAT_PALETTE_8);
        EXPECT_EQ(copy->getOrder(), KA_GFX_IMAGE_ORDER_BGRA);
        EXPECT_EQ(copy->getBytesPerRow(), 3);
        EXPECT_EQ(copy->getPaletteEntryCount(), 2);
        EXPECT_EQ(copy->paletteData()[4], 200);
        EXPECT_EQ(copy->pixelData()[5], 1);
        copy->pixelData()[5] = 0;
        EXPECT_EQ(image->pixelData()[5], 1);

        auto level = make<kaImage>();
        level->setName("level");
        level->copyFrom(image, false);
        EXPECT_STREQ(level->getName(), "level");
        EXPECT_EQ(level->getSize(), image->getSize());
        level->copyFrom(image, true);
        EXPECT_STREQ(level->getName(), "textures/wall.png");
    }
    EXPECT_EQ(kaObject::getLiveObjectCount(), liveBefore);
}

TEST(GfxImage, PngRoundTripKeepsEveryLayout)
{
    kaTest::kaScratchDir scratch;
    const KA_GFX_TEXTURE_FORMAT formats[] = {KA_GFX_TEXTURE_FORMAT_RGB_8, KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                             KA_GFX_TEXTURE_FORMAT_GREY_8, KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8,
                                             KA_GFX_TEXTURE_FORMAT_PALETTE_8};
    for (KA_GFX_TEXTURE_FORMAT format : formats) {
        auto image = make<kaImage>();
        image->setup(5, 3, format);  // odd widths keep stride mistakes visible
        for (size_t i = 0; i < image->getSize(); ++i)
            image->pixelData()[i] = image->isIndexed() ? uint8_t(i % 3) : uint8_t(i * 29 + 3);
        if (image->isIndexed()) {
            image->setPaletteEntryCount(3);
            const uint8_t palette[] = {255, 0, 0, 255, 0, 255, 0, 128, 10, 20, 30, 0};
            std::copy(std::begin(palette), std::end(palette), image->paletteData());
        }
        const std::string path = (scratch / ("image" + std::to_string(format) + ".png")).string();
        ASSERT_TRUE(image->writeToFile(path.c_str(), 0, 0)) << format;

        auto read = make<kaImage>();
        read->setName("kept");
        std::string error;
        ASSERT_TRUE(read->readFromFile(path.c_str(), error)) << error;
        EXPECT_EQ(read->getFormat(), format);
        EXPECT_EQ(read->getWidth(), 5);
        EXPECT_EQ(read->getHeight(), 3);
        EXPECT_EQ(read->getBytesPerRow(), image->getBytesPerRow());
        ASSERT_EQ(read->getSize(), image->getSize());
        EXPECT_EQ(0, std::memcmp(read->pixelData(), image->pixelData(), image->getSize())) << format;
        ASSERT_EQ(read->getPaletteEntryCount(), image->getPaletteEntryCount());
        if (image->isIndexed()) {
            EXPECT_EQ(0, std::memcmp(read->paletteData(), image->paletteData(), 12));
        }
        EXPECT_STREQ(read->getName(), "kept");
    }
}

TEST(GfxImage, PackedAndBlueFirstImagesAreWrittenAsPlainPng)
{
    kaTest::kaScratchDir scratch;
    const std::string path = (scratch / "out.png").string();
    std::string error;
    Lode::Gfx::kaPngPixels png;

    auto packed = make<kaImage>();
    packed->setup(4, 1, KA_GFX_TEXTURE_FORMAT_RGB_565);
    const uint16_t words565[] = {0xF800, 0x07E0, 0x001F, 0x8410};
    std::memcpy(packed->pixelData(), words565, sizeof words565);
    ASSERT_TRUE(packed->writeToFile(path.c_str(), error)) << error;
    ASSERT_TRUE(Lode::Gfx::kaReadPng(path, png, error)) << error;
    EXPECT_EQ(png.layout, Lode::Gfx::kaPngPixels::Layout::RGB8);
    EXPECT_EQ(png.pixels, (std::vector<uint8_t>{255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 130, 132}));

    packed->setup(2, 1, KA_GFX_TEXTURE_FORMAT_RGBA_4444);
    const uint16_t words4444[] = {0xF0A5, 0x0F0F};
    std::memcpy(packed->pixelData(), words4444, sizeof words4444);
    ASSERT_TRUE(packed->writeToFile(path.c_str(), error)) << error;
    ASSERT_TRUE(Lode::Gfx::kaReadPng(path, png, error)) << error;
    EXPECT_EQ(png.layout, Lode::Gfx::kaPngPixels::Layout::RGBA8);
    EXPECT_EQ(png.pixels, (std::vector<uint8_t>{255, 0, 170, 85, 0, 255, 0, 255}));

    // Blue-first rows with padding at the end of each row (as a read file may have them).
    auto bgra = make<kaImage>();
    bgra->setup(2, 2, KA_GFX_TEXTURE_FORMAT_RGBA_8);
    bgra->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
    ASSERT_TRUE(setField(bgra, "_bytesPerRow", "11"));
    bgra->afterRead();
    ASSERT_EQ(bgra->getSize(), 22u);
    const uint8_t rows[] = {1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE, 0xEE};
    std::memcpy(bgra->pixelData(), rows, sizeof rows);
    ASSERT_TRUE(bgra->writeToFile(path.c_str(), error)) << error;
    ASSERT_TRUE(Lode::Gfx::kaReadPng(path, png, error)) << error;
    EXPECT_EQ(png.pixels, (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
}

TEST(GfxImage, FailuresSayWhyAndLeaveTheImageAlone)
{
    kaTest::kaScratchDir scratch;
    std::string error;
    auto image = make<kaImage>();
    image->setup(2, 2, KA_GFX_TEXTURE_FORMAT_RGB_8);
    image->pixelData()[0] = 42;

    EXPECT_FALSE(image->writeToFile((scratch / "missing" / "x.png").string().c_str(), 0, 0));
    EXPECT_FALSE(image->writeToFile(nullptr, error));
    EXPECT_FALSE(error.empty());

    auto unknown = make<kaImage>();
    unknown->setup(2, 2, KA_GFX_TEXTURE_FORMAT_UNKNOWN);
    error.clear();
    EXPECT_FALSE(unknown->writeToFile((scratch / "u.png").string().c_str(), error));
    EXPECT_NE(error.find("no pixel format"), std::string::npos) << error;

    // A palette index past the palette cannot be written.
    auto indexed = make<kaImage>();
    indexed->setup(2, 1, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    indexed->setPaletteEntryCount(1);
    indexed->pixelData()[1] = 1;
    EXPECT_FALSE(indexed->writeToFile((scratch / "p.png").string().c_str(), 0, 0));

    error.clear();
    EXPECT_FALSE(image->readFromFile((scratch / "absent.png").string().c_str(), error));
    EXPECT_FALSE(error.empty());
    kaTest::writeText(scratch / "bad.png", "not a png at all");
    EXPECT_FALSE(image->readFromFile((scratch / "bad.png").string().c_str(), error));
    EXPECT_EQ(image->getFormat(), KA_GFX_TEXTURE_FORMAT_RGB_8);
    EXPECT_EQ(image->getWidth(), 2);
    EXPECT_EQ(image->pixelData()[0], 42);
}

TEST(GfxImage, AfterReadMakesRowsAndBlockAgree)
{
    auto image = make<kaImage>();
    ASSERT_TRUE(setField(image, "_width", "4"));
    ASSERT_TRUE(setField(image, "_height", "3"));
    ASSERT_TRUE(setField(image, "_bytesPerRow", "2"));  // shorter than a row of RGB8
    ASSERT_TRUE(setField(image, "_format", "RGB8"));
    ASSERT_TRUE(setField(image, "_pixels", "1, 2, 3"));
    ASSERT_TRUE(setField(image, "_palette", "1, 2, 3, 4"));
    image->afterRead();
    EXPECT_EQ(image->getBytesPerRow(), 12);
    EXPECT_EQ(image->getSize(), 36u);
    EXPECT_EQ(image->pixelData()[2], 3);
    EXPECT_EQ(image->getPaletteEntryCount(), 0);

    // Dimensions no image of this host can have are taken as damage: the image is emptied.
    ASSERT_TRUE(setField(image, "_width", "4000000000"));
    ASSERT_TRUE(setField(image, "_height", "4000000000"));
    image->afterRead();
    EXPECT_EQ(image->getWidth(), 0);
    EXPECT_EQ(image->getSize(), 0u);
}
