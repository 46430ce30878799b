// Graphics data: the vertex format word, vertex arrays, copying vertices between arrays, and
// images.
#include "host/gfx/kaImage.h"
#include "host/gfx/kaVertexArray.h"
#include "host/gfx/kaVertexFormat.h"
#include "host/io/kaImageFiles.h"
#include "host/io/kaPngCodec.h"
#include "kaTestTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Math;
using Lode::Sg::kaVertexArrayHelper;

namespace {

const char* const kBlocks[] = {"_positions",    "_normals",   "_colors",          "_blendWeights",
                               "_blendIndices", "_texCoords", "_pointSpriteSizes"};

// The byte sizes of the vertex array's data blocks, in the order of kBlocks.
std::vector<size_t> blockSizes(const kaObject* array)
{
    std::vector<size_t> sizes;
    for (const char* field : kBlocks)
        sizes.push_back(dynamic_cast<const kaDataBlockMetaField&>(*array->getMetaField(field)).getByteSize(array));
    return sizes;
}

// Whether the data block field has the same bytes in both objects.
bool sameBlock(const kaObject* a, const kaObject* b, const char* field)
{
    const auto* block = dynamic_cast<const kaDataBlockMetaField*>(a->getMetaField(field));
    return block && block->getByteSize(a) == block->getByteSize(b) &&
           (block->getByteSize(a) == 0 || std::memcmp(block->getBytes(a), block->getBytes(b), block->getByteSize(a)) == 0);
}

// Sets the fields from their texts, as a file reader does, one by one.
testing::AssertionResult setFields(kaObject* object, std::initializer_list<std::pair<const char*, std::string>> fields)
{
    for (const auto& [field, text] : fields) {
        std::string error;
        kaMetaField* meta = object->getMetaField(field);
        if (!meta || !meta->setFromText(object, text.c_str(), error))
            return testing::AssertionFailure() << field << ": " << error;
    }
    return testing::AssertionSuccess();
}

kaVertexFormat makeFormat(bool positions, bool normals, bool colors, int weights, int indices, int sets, int sprites)
{
    kaVertexFormat format;
    format.setPositions(positions), format.setNormals(normals), format.setColors(colors);
    format.setBlendWeightCount(weights), format.setBlendIndexCount(indices);
    format.setTextureCoordSetCount(sets), format.setPointSpriteCoordCount(sprites);
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

// The word is what .kab files store: each field at its bits, and its text as dumps print it.
TEST(GfxVertexFormat, EachFieldLivesAtItsBitsAndPrintsByName)
{
    const struct { kaVertexFormat format; uint32_t word; const char* text; } cases[] = {
        {makeFormat(true, false, false, 0, 0, 0, 0), 0x1u, "P"},
        {makeFormat(false, true, false, 0, 0, 0, 2), 0x200002u, "N S=2"},
        {makeFormat(false, false, true, 15, 0, 0, 0), 0xF4u, "C B=15"},
        {makeFormat(false, false, false, 0, 15, 15, 0), 0xF0F00u, "I=15 T=15"},
        {makeFormat(true, true, true, 4, 4, 1, 0), 0x10447u, "P N C B=4 I=4 T=1"},
        {kaVertexFormat(), 0x0u, "none"},
        // Clamped counts must not spill into the neighbouring fields.
        {makeFormat(false, false, false, 16, -1, 0, 4), 0x3000F0u, "B=15 S=3"},
        {kaVertexFormat(0x002305A5u), 0x002305A5u, "P C B=10 I=5 T=3 S=2"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.format.getWord(), c.word) << c.text;
        EXPECT_EQ(c.format.toText(), c.text);
    }
    EXPECT_NE(kaVertexFormat(0x10443u), kaVertexFormat(0x10453u));

    // Each setter leaves every other bit alone, the ones no field interprets included.
    const struct { const char* name; uint32_t mask; void (*set)(kaVertexFormat&); } setters[] = {
        {"positions", 0x1u, [](kaVertexFormat& f) { f.setPositions(!f.hasPositions()); }},
        {"normals", 0x2u, [](kaVertexFormat& f) { f.setNormals(!f.hasNormals()); }},
        {"colors", 0x4u, [](kaVertexFormat& f) { f.setColors(!f.hasColors()); }},
        {"weights", 0xF0u, [](kaVertexFormat& f) { f.setBlendWeightCount(f.getBlendWeightCount() ^ 0x5); }},
        {"indices", 0xF00u, [](kaVertexFormat& f) { f.setBlendIndexCount(f.getBlendIndexCount() ^ 0x5); }},
        {"sets", 0xF0000u, [](kaVertexFormat& f) { f.setTextureCoordSetCount(f.getTextureCoordSetCount() ^ 0x5); }},
        {"sprites", 0x300000u, [](kaVertexFormat& f) { f.setPointSpriteCoordCount(f.getPointSpriteCoordCount() ^ 0x1); }},
    };
    for (uint32_t word : {0xFFFFFFFFu, 0x0u, 0xA5A5A5A5u, 0x5A5A5A5Au, 0xDEADBEEFu})
        for (const auto& field : setters) {
            kaVertexFormat format(word);
            field.set(format);
            EXPECT_EQ(format.getWord() & ~field.mask, word & ~field.mask) << field.name << " on " << std::hex << word;
            EXPECT_NE(format.getWord() & field.mask, word & field.mask) << field.name << " did not change";
        }
}

// ---- vertex arrays ----

TEST(GfxVertexArray, SetupSizesEveryBlockForTheFormat)
{
    auto array = make<kaVertexArray>();
    const kaVertexFormat format = makeFormat(true, true, true, 4, 3, 2, 1);
    array->setup(format, 5, 0x2Au, 0);
    EXPECT_EQ(array->getVertexFormat(), format);
    EXPECT_EQ(array->getUsage(), 0x2Au);
    // 5 vertices: 3, 3 and 4 floats, 4 weights, 3 index bytes, 2 sets of 2 floats, 1 sprite size.
    EXPECT_EQ(blockSizes(array), (std::vector<size_t>{60, 60, 80, 80, 15, 80, 20}));
    for (int i = 0; i < 5 * 4; ++i) EXPECT_EQ(array->blendWeightData()[i], 0.0f);
    // A second set-up with a smaller format drops the absent components and zeroes the rest.
    array->blendWeightData()[0] = 0.75f;
    array->setup(makeFormat(true, false, false, 1, 1, 0, 0), 3, 0, 0);
    EXPECT_EQ(blockSizes(array), (std::vector<size_t>{36, 0, 0, 12, 3, 0, 0}));
    EXPECT_TRUE(array->normalData() == nullptr && array->texCoordData(0) == nullptr);
    EXPECT_EQ(array->blendWeightData()[0], 0.0f);

    array->setup(format, -4, 0, 0);
    EXPECT_TRUE(array->getVertexCount() == 0 && array->positionData() == nullptr);
}

TEST(GfxVertexArray, AccessorsAgreeWithTheDirectLayout)
{
    const int n = 4;
    auto array = make<kaVertexArray>();
    array->setup(makeFormat(true, true, true, 3, 2, 2, 2), n, 0, 0);
    fillDistinct(*array);
    // Written through the accessors, found where the layout says: blend slots vertex-major (3
    // weights, 2 indices), texture sets set-major.
    EXPECT_EQ((std::vector<float>{array->positionData()[2 * 3 + 1], array->normalData()[3 * 3 + 2],
                                  array->colorData()[1 * 4 + 3], array->blendWeightData()[2 * 3 + 1],
                                  float(array->blendIndexData()[3 * 2 + 1]), array->texCoordData(1)[2 * 2 + 1]}),
              (std::vector<float>{2 + 0.2f, -3 - 0.3f, 1.0f - 1 * 0.01f, 21.0f, 49.0f, -98.0f}));
    EXPECT_EQ(array->texCoordData(1), array->texCoordData(0) + 2 * n);
    // Written directly, read back through the accessors.
    array->blendWeightData()[1 * 3 + 2] = 0.125f, array->blendIndexData()[0 * 2 + 1] = 200;
    float color[4];
    array->getColor(2, color);
    EXPECT_TRUE(array->getBlendWeight(1, 2) == 0.125f && array->getBlendIndex(0, 1) == 200 && color[2] == 2 * 0.03f);
}

TEST(GfxVertexArray, AccessOutsideTheArrayReadsZeroAndWritesNothing)
{
    auto array = make<kaVertexArray>();
    array->setup(makeFormat(true, false, false, 2, 2, 1, 0), 2, 0, 0);
    fillDistinct(*array);
    const std::vector<float> weightsBefore(array->blendWeightData(), array->blendWeightData() + 4);

    // A slot past the count must not land in vertex 1; a vertex past the count, nowhere.
    array->setBlendWeight(0, 2, 9.0f), array->setBlendWeight(2, 0, 9.0f), array->setBlendWeight(-1, 1, 9.0f);
    array->setBlendIndex(1, 2, 9);
    EXPECT_EQ(std::vector<float>(array->blendWeightData(), array->blendWeightData() + 4), weightsBefore);
    EXPECT_EQ(array->getBlendIndex(1, 1), 17);
    EXPECT_TRUE(array->getBlendWeight(0, 2) == 0.0f && array->getBlendIndex(-1, 0) == 0);
    // Absent components read as zero: normals, colours, a second texture set.
    kaVec3f normal(5, 5, 5);
    kaVec2f texCoord(5, 5);
    array->setNormal(0, kaVec3f(1, 2, 3)), array->getNormal(0, normal), array->getTexCoord(0, 1, texCoord);
    EXPECT_TRUE(normal == kaVec3f(0, 0, 0) && texCoord.x == 0.0f && texCoord.y == 0.0f && !array->texCoordData(-1));
}

TEST(GfxVertexArray, ReadBlocksAreRepairedAfterRead)
{
    // A reader sets the fields one by one. A count that the blocks cannot back (a damaged file)
    // is cut to what every named component holds; blocks of components the format does not
    // name are dropped; nothing is allocated beyond what was read.
    auto array = make<kaVertexArray2>();
    ASSERT_TRUE(setFields(array, {{"_format", std::to_string(makeFormat(true, false, false, 2, 2, 0, 0).getWord())},
                                  {"_vertexCount", "4000000000"}, {"_usage", "7"}, {"_positions", "1, 2, 3, 4, 5, 6, 7"},
                                  {"_blendWeights", "0.5, 0.25, 0.75, 0.125, 1, 0"}, {"_blendIndices", "1, 2, 3, 4"},
                                  {"_normals", "1, 2, 3"}}));
    array->afterRead();
    EXPECT_EQ(array->getVertexCount(), 2);
    EXPECT_EQ(blockSizes(array), (std::vector<size_t>{24, 0, 0, 16, 4, 0, 0}));
    EXPECT_TRUE(array->getBlendWeight(0, 1) == 0.25f && array->getBlendWeight(1, 1) == 0.125f);
    EXPECT_TRUE(array->getUsage() == 7u && !array->isSetupOpen());
}

// ---- copying vertices ----

// The reduction's copy (fewer blend slots) and the second-generation builder (an equal array)
// both copy every component the format names, vertex by vertex.
TEST(GfxVertexCopy, HelperAndBuilderCopyEveryComponentTheFormatNames)
{
    const long liveBefore = kaObject::getLiveObjectCount();
    {
        const int n = 5;
        auto source = make<kaVertexArray>();
        const kaVertexFormat format = makeFormat(true, true, true, 4, 4, 2, 1);
        source->setup(format, n, 3, 0);
        fillDistinct(*source);

        const kaVertexFormat reduced = makeFormat(true, true, true, 2, 2, 2, 1);
        auto destination = make<kaVertexArray>();
        destination->setup(reduced, n, source->getUsage(), 0);
        auto helper = make<kaVertexArrayHelper>();
        for (int v = 0; v < n; ++v) helper->copyVertex(source, destination, v, v, reduced);
        for (int v = 0; v < n; ++v)
            for (int k = 0; k < 2; ++k)
                EXPECT_TRUE(destination->getBlendWeight(v, k) == source->getBlendWeight(v, k) &&
                            destination->getBlendIndex(v, k) == source->getBlendIndex(v, k)) << v << ", slot " << k;

        auto builder = make<kaVertexArray2Helper>();
        builder->begin(format, n, 0, 0);
        for (int v = 0; v < n; ++v) builder->copyVertex(source, format, v, v);
        kaSmartPointer<kaVertexArray2> built = builder->getVertexArray();
        ASSERT_NE(built.get(), nullptr);
        EXPECT_TRUE(!built->isSetupOpen() && built->getVertexFormat() == format);
        for (const char* block : kBlocks) {
            EXPECT_TRUE(sameBlock(built, source, block)) << block;
            const bool reducedBlock = std::string(block).rfind("_blend", 0) == 0;
            EXPECT_TRUE(reducedBlock || sameBlock(destination, source, block)) << block;
        }
        // The next begin starts a new array; whoever holds the old one keeps it.
        builder->begin(format, 0, 0, 0);
        EXPECT_TRUE(builder->getVertexArray() != built.get() && built->getRefCount() == 1);
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
    std::fill_n(destination->normalData(), 3, 9.0f), std::fill_n(destination->colorData(), 4, 9.0f);
    destination->setBlendWeight(0, 3, 9.0f);
    // The format leaves out the normals: they stay; colours are not in the source: they stay. The
    // source has two slots and one texture set: the destination's others are not touched.
    EXPECT_TRUE(kaCopyVertex(*source, *destination, 2, 0, makeFormat(true, false, true, 4, 4, 2, 0)));
    EXPECT_EQ((std::vector<float>{destination->positionData()[0], destination->normalData()[0], destination->colorData()[0],
                                  destination->getBlendWeight(0, 1), destination->getBlendWeight(0, 3),
                                  destination->texCoordData(0)[0], destination->texCoordData(1)[0]}),
              (std::vector<float>{2 + 0.1f, 9.0f, 9.0f, 21.0f, 9.0f, 2.0f, 0.0f}));
    EXPECT_FALSE(kaCopyVertex(*source, *destination, 3, 0, source->getVertexFormat()) ||
                 kaCopyVertex(*source, *destination, 0, -1, source->getVertexFormat()));
    // A format asking for more slots than the destination has must not spill into the next vertex.
    auto narrow = make<kaVertexArray>();
    narrow->setup(makeFormat(false, false, false, 1, 1, 0, 0), 2, 0, 0);
    narrow->setBlendWeight(1, 0, 5.0f), narrow->setBlendIndex(1, 0, 5);
    EXPECT_TRUE(kaCopyVertex(*destination, *narrow, 0, 0, destination->getVertexFormat()));
    EXPECT_EQ(narrow->getBlendWeight(0, 0), 20.0f);
    EXPECT_TRUE(narrow->getBlendWeight(1, 0) == 5.0f && narrow->getBlendIndex(1, 0) == 5);
}

// Streams (data the engine carries for exchange formats) go along with their vertices, into the
// destination's stream of the same semantic and target, which is made when it has none.
TEST(GfxVertexCopy, StreamsGoAlongWithTheirVertices)
{
    const kaVertexFormat format = makeFormat(true, false, false, 0, 0, 0, 0);
    auto source = make<kaVertexArray>();
    source->setup(format, 3, 0, 0);
    auto displacements = make<kaVertexStream>();
    displacements->setSemantic("TANGENT");
    displacements->setComponentType(kaVertexStream::Int16);
    displacements->setComponentCount(2);
    displacements->setTarget(1);
    displacements->data().assign({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    source->appendStream(displacements);
    auto destination = make<kaVertexArray>();
    destination->setup(format, 2, 0, 0);
    EXPECT_TRUE(kaCopyVertex(*source, *destination, 2, 1, format));
    const kaVertexStream* copied = destination->findStream("TANGENT", 1);
    ASSERT_TRUE(copied);
    EXPECT_EQ(std::vector<uint8_t>(copied->data().begin(), copied->data().end()), (std::vector<uint8_t>{0, 0, 0, 0, 9, 10, 11, 12}));
    EXPECT_TRUE(copied->getComponentType() == kaVertexStream::Int16 && copied->getComponentCount() == 2);
    EXPECT_FALSE(destination->findStream("TANGENT", -1)) << "the vertices' own tangents are another stream";
}

// ---- images ----

TEST(GfxImage, SetupSizesRowsForEachFormat)
{
    const std::pair<KA_GFX_TEXTURE_FORMAT, int> bytesPerPixel[] = {
        {KA_GFX_TEXTURE_FORMAT_GREY_8, 1}, {KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8, 2}, {KA_GFX_TEXTURE_FORMAT_PALETTE_8, 1},
        {KA_GFX_TEXTURE_FORMAT_RGB_565, 2}, {KA_GFX_TEXTURE_FORMAT_RGB_8, 3},       {KA_GFX_TEXTURE_FORMAT_RGBA_4444, 2},
        {KA_GFX_TEXTURE_FORMAT_RGBA_8, 4},  {KA_GFX_TEXTURE_FORMAT_UNKNOWN, 0}};
    auto image = make<kaImage>();
    for (const auto& [format, bytes] : bytesPerPixel) {
        image->setup(7, 3, format);
        EXPECT_TRUE(image->getBytesPerRow() == 7 * bytes && image->getSize() == size_t(21 * bytes)) << format;
        EXPECT_EQ(image->isIndexed(), format == KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    }
    image->setPaletteEntryCount(300);
    EXPECT_EQ(image->getPaletteEntryCount(), 256) << "a palette holds at most 256 entries";
}

// The mipmap pass copies each level from the one before: pixels and palette, not the buffers.
TEST(GfxImage, CopiesAreIndependent)
{
    auto image = make<kaImage>("textures/wall.png");
    image->setup(3, 2, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    image->setPaletteEntryCount(2), image->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
    image->paletteData()[4] = 200, image->pixelData()[5] = 1;
    auto level = make<kaImage>("level");
    level->copyFrom(image, false);
    EXPECT_STREQ(level->getName(), "level");
    EXPECT_TRUE(level->getOrder() == KA_GFX_IMAGE_ORDER_BGRA && sameBlock(level, image, "_palette"));
    level->pixelData()[5] = 0;
    EXPECT_EQ(image->pixelData()[5], 1);
    level->copyFrom(image, true);
    EXPECT_STREQ(level->getName(), "textures/wall.png");
}

TEST(GfxImage, PngRoundTripKeepsEveryLayout)
{
    kaTest::kaScratchDir scratch;
    const std::string path = (scratch / "image.png").string();
    for (KA_GFX_TEXTURE_FORMAT format : {KA_GFX_TEXTURE_FORMAT_RGB_8, KA_GFX_TEXTURE_FORMAT_RGBA_8,
                                         KA_GFX_TEXTURE_FORMAT_GREY_8, KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8,
                                         KA_GFX_TEXTURE_FORMAT_PALETTE_8}) {
        auto image = make<kaImage>();
        image->setup(5, 3, format);  // odd widths keep stride mistakes visible
        for (size_t i = 0; i < image->getSize(); ++i)
            image->pixelData()[i] = image->isIndexed() ? uint8_t(i % 3) : uint8_t(i * 29 + 3);
        if (image->isIndexed()) {
            image->setPaletteEntryCount(3);
            for (int i = 0; i < 12; ++i) image->paletteData()[i] = uint8_t(i * 40 + 15);
        }
        std::string error;
        ASSERT_TRUE(kaWritePngImage(*image, path, error)) << format;
        auto read = make<kaImage>("kept");
        ASSERT_TRUE(kaReadPngImage(*read, path, error)) << error;
        EXPECT_TRUE(read->getFormat() == format && std::string(read->getName()) == "kept") << format;
        EXPECT_TRUE(sameBlock(read, image, "_pixels") && sameBlock(read, image, "_palette")) << format;
    }
}

TEST(GfxImage, PackedAndBlueFirstImagesAreWrittenAsPlainPng)
{
    // Blue-first rows carry padding at the end of each row (as a read file may have them).
    const struct {
        KA_GFX_TEXTURE_FORMAT format;
        int width, height;
        const char* bytesPerRow;
        std::vector<uint8_t> bytes, written;
    } cases[] = {
        {KA_GFX_TEXTURE_FORMAT_RGB_565, 4, 1, "8", {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84},
         {255, 0, 0, 0, 255, 0, 0, 0, 255, 132, 130, 132}},
        {KA_GFX_TEXTURE_FORMAT_RGBA_4444, 2, 1, "4", {0xA5, 0xF0, 0x0F, 0x0F}, {255, 0, 170, 85, 0, 255, 0, 255}},
        {KA_GFX_TEXTURE_FORMAT_RGBA_8, 2, 2, "11",
         {1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE, 0xEE},
         {3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}},
    };
    kaTest::kaScratchDir scratch;
    const std::string path = (scratch / "out.png").string();
    for (const auto& c : cases) {
        auto image = make<kaImage>();
        image->setup(c.width, c.height, c.format);
        if (c.format == KA_GFX_TEXTURE_FORMAT_RGBA_8) image->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
        ASSERT_TRUE(setFields(image, {{"_bytesPerRow", c.bytesPerRow}}));
        image->afterRead();
        ASSERT_EQ(image->getSize(), c.bytes.size());
        std::memcpy(image->pixelData(), c.bytes.data(), c.bytes.size());
        std::string error;
        ASSERT_TRUE(kaWritePngImage(*image, path, error)) << error;
        kaPngPixels png;
        ASSERT_TRUE(kaReadPng(path, png, error)) << error;
        EXPECT_EQ(png.pixels, c.written) << c.format;
    }
}

// Read over an image that was something else, the file decides all but the name: the order goes
// back to the platform's, the palette and the kept encoding go.
TEST(GfxImage, AReadImageKeepsOnlyItsName)
{
    kaTest::kaScratchDir scratch;
    std::string error;
    auto file = make<kaImage>();
    file->setup(3, 2, KA_GFX_TEXTURE_FORMAT_RGB_8);
    ASSERT_TRUE(kaWritePngImage(*file, scratch / "rgb.png", error)) << error;
    auto image = make<kaImage>("was");
    image->setup(1, 1, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    image->setPaletteEntryCount(2);
    image->setOrder(KA_GFX_IMAGE_ORDER_BGRA);
    image->setEncoded(image->pixelData(), image->getSize());
    ASSERT_TRUE(kaReadPngImage(*image, scratch / "rgb.png", error)) << error;
    EXPECT_EQ(image->getOrder(), kaImage::getPlatformSpecificOrder());
    EXPECT_EQ(image->getPaletteEntryCount(), 0);
    EXPECT_EQ(image->getEncodedSize(), 0u);
    EXPECT_STREQ(image->getName(), "was");
    EXPECT_TRUE(image->getFormat() == KA_GFX_TEXTURE_FORMAT_RGB_8 && image->getBytesPerRow() == 9 &&
                image->getSize() == 18);
}

TEST(GfxImage, FailuresSayWhyAndLeaveTheImageAlone)
{
    kaTest::kaScratchDir scratch;
    std::string error;
    auto image = make<kaImage>(), unknown = make<kaImage>(), indexed = make<kaImage>();
    image->setup(2, 2, KA_GFX_TEXTURE_FORMAT_RGB_8);
    image->pixelData()[0] = 42;
    EXPECT_FALSE(kaWritePngImage(*image, scratch / "missing" / "x.png", error));
    unknown->setup(2, 2, KA_GFX_TEXTURE_FORMAT_UNKNOWN);
    EXPECT_FALSE(kaWritePngImage(*unknown, scratch / "u.png", error));
    EXPECT_NE(error.find("no pixel format"), std::string::npos) << error;
    // A palette index past the palette cannot be written.
    indexed->setup(2, 1, KA_GFX_TEXTURE_FORMAT_PALETTE_8), indexed->setPaletteEntryCount(1);
    indexed->pixelData()[1] = 1;
    EXPECT_FALSE(kaWritePngImage(*indexed, scratch / "p.png", error));

    kaTest::writeText(scratch / "bad.png", "not a png at all");
    for (const char* name : {"absent.png", "bad.png"}) {
        error.clear();
        EXPECT_FALSE(kaReadPngImage(*image, scratch / name, error));
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    EXPECT_TRUE(image->getFormat() == KA_GFX_TEXTURE_FORMAT_RGB_8 && image->getWidth() == 2 && image->pixelData()[0] == 42);
}

TEST(GfxImage, AfterReadMakesRowsAndBlockAgree)
{
    auto image = make<kaImage>();
    // A row length shorter than a row of RGB8, a palette for an image without one.
    ASSERT_TRUE(setFields(image, {{"_width", "4"}, {"_height", "3"}, {"_bytesPerRow", "2"}, {"_format", "RGB8"},
                                  {"_pixels", "1, 2, 3"}, {"_palette", "1, 2, 3, 4"}}));
    image->afterRead();
    EXPECT_TRUE(image->getBytesPerRow() == 12 && image->getSize() == 36u && image->pixelData()[2] == 3);
    EXPECT_EQ(image->getPaletteEntryCount(), 0);
    // Dimensions no image of this host can have are taken as damage: the image is emptied.
    ASSERT_TRUE(setFields(image, {{"_width", "4000000000"}, {"_height", "4000000000"}}));
    image->afterRead();
    EXPECT_TRUE(image->getWidth() == 0 && image->getSize() == 0u);
}
