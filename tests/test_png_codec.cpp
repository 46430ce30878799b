// The PNG codec: every layout both ways, reading what other writers produce (low and 16-bit
// depths, colour keys, interlacing), size limits, and damaged data or failed writes that never
// leave half a result.
#include "host/io/kaPngCodec.h"
#include "kaTestTools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <random>
#include <string_view>

// stb_image, the reference for the expanded reading.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

using namespace Lode::Gfx;
using Layout = kaPngPixels::Layout;
using kaTest::kaScratchDir;
using testing::HasSubstr;
using testing::StartsWith;
namespace fs = std::filesystem;

namespace {

// 7x5 keeps rows odd-sized, so stride mistakes show up.
kaPngPixels makeImage(Layout layout, uint32_t width = 7, uint32_t height = 5, bool translucentPalette = true)
{
    kaPngPixels image{.layout = layout, .width = width, .height = height, .bytesPerRow = width * kaPngChannelCount(layout)};
    image.pixels.resize(size_t(image.bytesPerRow) * height);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = layout == Layout::Indexed8 ? uint8_t(i % 5) : uint8_t(i * 37 + 11);
    if (layout == Layout::Indexed8) {
        image.palette = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 8, 7, 255, 1, 2, 3, 255};
        if (translucentPalette) image.palette[7] = 128, image.palette[15] = 0;
    }
    return image;
}

void expectSame(const kaPngPixels& expected, const kaPngPixels& actual)
{
    const auto fields = [](const kaPngPixels& p) { return std::tie(p.layout, p.width, p.height, p.bytesPerRow, p.pixels, p.palette); };
    EXPECT_TRUE(fields(expected) == fields(actual));
}

bool contains(const std::vector<uint8_t>& bytes, std::string_view text)
{
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

std::vector<uint8_t> fileBytes(const fs::path& path)
{
    const std::string text = kaTest::readText(path);
    return {text.begin(), text.end()};
}

size_t entriesIn(const kaScratchDir& dir) { return size_t(std::distance(fs::directory_iterator(dir.path()), {})); }

// PNGs our writer never produces: other bit depths, colour keys, interlacing.
struct RawPng {
    uint32_t width = 7, height = 5;
    int colorType = PNG_COLOR_TYPE_GRAY, bitDepth = 8, interlace = PNG_INTERLACE_NONE;
    std::vector<uint8_t> rows; // packed at bitDepth, 16-bit samples big-endian
    std::vector<png_color> palette;
    std::vector<uint8_t> paletteAlpha;
    const png_color_16* key = nullptr;
    bool headerOnly = false; // stop at the image data, for images too large to encode
};

void appendBytes(png_structp png, png_bytep data, size_t length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void noFlush(png_structp) {}

bool encodeRaw(const RawPng* raw, std::vector<uint8_t>* out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendBytes, noFlush);
    png_set_check_for_invalid_index(png, -1); // let tests write indices past the palette
    png_set_IHDR(png, info, raw->width, raw->height, raw->bitDepth, raw->colorType, raw->interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!raw->palette.empty()) png_set_PLTE(png, info, raw->palette.data(), int(raw->palette.size()));
    if (!raw->paletteAlpha.empty())
        png_set_tRNS(png, info, raw->paletteAlpha.data(), int(raw->paletteAlpha.size()), nullptr);
    if (raw->key) png_set_tRNS(png, info, nullptr, 0, raw->key);
    png_write_info(png, info);
    if (raw->headerOnly) {
        // The reader stops at the first IDAT chunk header, which is all a size check needs.
        const uint8_t idat[] = {0, 0, 0, 0, 'I', 'D', 'A', 'T'};
        out->insert(out->end(), idat, idat + 8);
    } else {
        const size_t rowBytes = png_get_rowbytes(png, info);
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass)
            for (uint32_t y = 0; y < raw->height; ++y) png_write_row(png, raw->rows.data() + y * rowBytes);
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return true;
}

// Packs one value per pixel into rows of `depth`-bit samples, most significant first.
std::vector<uint8_t> packRows(const std::vector<uint8_t>& values, uint32_t width, uint32_t height, int depth)
{
    const size_t rowBytes = (size_t(width) * depth + 7) / 8;
    std::vector<uint8_t> rows(rowBytes * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const size_t bit = size_t(x) * depth;
            rows[y * rowBytes + bit / 8] |= uint8_t(values[y * width + x] << (8 - depth - bit % 8));
        }
    return rows;
}

// Encodes raw and reads it back; the error when the read fails.
std::string readRaw(const RawPng& raw, kaPngPixels& image)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(encodeRaw(&raw, &bytes));
    std::string error;
    const bool read = kaReadPngFromMemory(bytes.data(), bytes.size(), image, error);
    EXPECT_EQ(read, error.empty()) << error;
    return error;
}

kaPngPixels readRaw(const RawPng& raw)
{
    kaPngPixels image;
    EXPECT_EQ(readRaw(raw, image), "");
    return image;
}

} // namespace

// Each layout the same through memory and file, byte for byte on every write, without a time
// stamp; a palette gets its transparency chunk only when some entry is translucent.
TEST(PngCodec, EveryLayoutRoundTripsThroughFileAndMemory)
{
    kaScratchDir dir;
    const std::pair<Layout, bool> cases[] = {{Layout::Grey8, false}, {Layout::GreyAlpha8, false}, {Layout::RGB8, false},
                                             {Layout::RGBA8, false}, {Layout::Indexed8, true}, {Layout::Indexed8, false}};
    for (const auto& [layout, translucent] : cases) {
        SCOPED_TRACE(testing::Message() << int(layout) << (translucent ? " translucent" : ""));
        const kaPngPixels image = makeImage(layout, 7, 5, translucent);
        std::string error;
        std::vector<uint8_t> bytes, again;
        ASSERT_TRUE(kaWritePngToMemory(image, bytes, error)) << error;
        ASSERT_TRUE(kaWritePngToMemory(image, again, error)) << error;
        EXPECT_EQ(bytes, again);
        EXPECT_FALSE(contains(bytes, "tIME"));
        EXPECT_EQ(contains(bytes, "tRNS"), translucent);

        kaPngPixels fromMemory;
        ASSERT_TRUE(kaReadPngFromMemory(bytes.data(), bytes.size(), fromMemory, error)) << error;
        expectSame(image, fromMemory);
        const fs::path path = dir / "image.png";
        ASSERT_TRUE(kaWritePng(path.string(), image, error)) << error;
        EXPECT_EQ(fileBytes(path), bytes);
        kaPngPixels fromFile;
        ASSERT_TRUE(kaReadPng(path.string(), fromFile, error)) << error;
        expectSame(image, fromFile);
    }
    EXPECT_EQ(entriesIn(dir), 1u) << "overwriting left no temporary file behind";
}

TEST(PngCodec, ReadingNormalisesDepthsKeysAndInterlacing)
{
    std::vector<uint8_t> values(7 * 5);
    for (int depth : {1, 2, 4}) {
        SCOPED_TRACE(depth);
        const int maxValue = (1 << depth) - 1;
        for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t((i * 3) % (maxValue + 1));

        RawPng paletted{.colorType = PNG_COLOR_TYPE_PALETTE, .bitDepth = depth, .rows = packRows(values, 7, 5, depth),
                        .paletteAlpha = {0}};
        for (int i = 0; i <= maxValue; ++i) paletted.palette.push_back({uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
        const kaPngPixels indexed = readRaw(paletted);
        EXPECT_EQ(indexed.layout, Layout::Indexed8);
        EXPECT_EQ(indexed.bytesPerRow, 7u);
        EXPECT_EQ(indexed.pixels, values);
        ASSERT_EQ(indexed.palette.size(), size_t(4 * (maxValue + 1)));
        EXPECT_EQ(indexed.palette[3], 0);
        EXPECT_EQ(indexed.palette[4 * maxValue + 0], maxValue);
        EXPECT_EQ(indexed.palette[4 * maxValue + 2], 3 * maxValue);
        EXPECT_EQ(indexed.palette[4 * maxValue + 3], 255);

        const kaPngPixels widened = readRaw({.bitDepth = depth, .rows = paletted.rows});
        EXPECT_EQ(widened.layout, Layout::Grey8);
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(widened.pixels[i], values[i] * 255 / maxValue);
    }

    // 16-bit samples whose two bytes match narrow to exactly that byte.
    RawPng deep{.colorType = PNG_COLOR_TYPE_RGB, .bitDepth = 16};
    std::vector<uint8_t> expected;
    for (int i = 0; i < 7 * 5 * 3; ++i) {
        const uint8_t v = uint8_t(i * 7);
        deep.rows.insert(deep.rows.end(), {v, v});
        expected.push_back(v);
    }
    const kaPngPixels narrowed = readRaw(deep);
    EXPECT_EQ(narrowed.layout, Layout::RGB8);
    EXPECT_EQ(narrowed.pixels, expected);

    // A colour key becomes an alpha channel; interlacing is undone.
    const kaPngPixels rgb = makeImage(Layout::RGB8);
    const png_color_16 key{0, rgb.pixels[3], rgb.pixels[4], rgb.pixels[5], 0};
    for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7}) {
        const kaPngPixels withAlpha = readRaw({.colorType = PNG_COLOR_TYPE_RGB, .interlace = interlace, .rows = rgb.pixels, .key = &key});
        ASSERT_EQ(withAlpha.layout, Layout::RGBA8);
        ASSERT_EQ(withAlpha.pixels.size(), size_t(7 * 5 * 4));
        for (size_t p = 0; p < 7 * 5; ++p) {
            EXPECT_TRUE(std::equal(rgb.pixels.begin() + 3 * p, rgb.pixels.begin() + 3 * p + 3,
                                   withAlpha.pixels.begin() + 4 * p));
            EXPECT_EQ(withAlpha.pixels[4 * p + 3], p == 1 ? 0 : 255) << p;
        }
    }
}

// Read expanded, every kind of PNG gives the pixels stb_image decodes from it, channel for
// channel: every colour type at every depth, plain and interlaced, with and without a colour key
// or palette transparency, 16-bit samples whose low bytes would round up.
TEST(PngCodec, ExpandedReadingDecodesAsStbDoes)
{
    std::mt19937 random(7);
    const struct {
        int colorType, channels;
        std::vector<int> depths;
    } kinds[] = {{PNG_COLOR_TYPE_GRAY, 1, {1, 2, 4, 8, 16}},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, 2, {8, 16}},
                 {PNG_COLOR_TYPE_RGB, 3, {8, 16}},
                 {PNG_COLOR_TYPE_RGB_ALPHA, 4, {8, 16}},
                 {PNG_COLOR_TYPE_PALETTE, 1, {1, 2, 4, 8}}};
    for (const auto& kind : kinds)
        for (int depth : kind.depths)
            for (int interlace : {PNG_INTERLACE_NONE, PNG_INTERLACE_ADAM7})
                for (bool transparent : {false, true}) {
                    const bool keyed = kind.colorType == PNG_COLOR_TYPE_GRAY || kind.colorType == PNG_COLOR_TYPE_RGB;
                    if (transparent && !keyed && kind.colorType != PNG_COLOR_TYPE_PALETTE) continue;
                    SCOPED_TRACE(testing::Message() << "colour type " << kind.colorType << ", depth " << depth
                                                    << ", interlace " << interlace << ", transparent " << transparent);
                    RawPng raw{.colorType = kind.colorType, .bitDepth = depth, .interlace = interlace};
                    const int maxValue = (1 << std::min(depth, 8)) - 1;
                    std::vector<uint8_t> samples(size_t(7 * 5 * kind.channels) * (depth == 16 ? 2 : 1));
                    for (uint8_t& sample : samples) sample = uint8_t(random() % (depth == 16 ? 256 : maxValue + 1));
                    raw.rows = depth < 8 ? packRows(samples, 7, 5, depth) : samples;
                    if (kind.colorType == PNG_COLOR_TYPE_PALETTE) {
                        for (int i = 0; i <= maxValue; ++i)
                            raw.palette.push_back({uint8_t(i * 5), uint8_t(i * 3), uint8_t(255 - i)});
                        if (transparent) raw.paletteAlpha = {0, 128, 255};
                    }
                    // The key is the second pixel's colour, so at least one pixel turns transparent.
                    png_color_16 key{};
                    const auto sample = [&](int channel) {
                        if (depth < 8) return uint16_t(samples[1]);
                        const size_t at = size_t(kind.channels + channel) * (depth == 16 ? 2 : 1);
                        return uint16_t(depth == 16 ? samples[at] << 8 | samples[at + 1] : samples[at]);
                    };
                    if (transparent && keyed) {
                        key.gray = sample(0);
                        if (kind.channels == 3) key.red = sample(0), key.green = sample(1), key.blue = sample(2);
                        raw.key = &key;
                    }
                    std::vector<uint8_t> bytes;
                    ASSERT_TRUE(encodeRaw(&raw, &bytes));

                    int width = 0, height = 0, channels = 0;
                    stbi_uc* reference =
                        stbi_load_from_memory(bytes.data(), int(bytes.size()), &width, &height, &channels, 0);
                    ASSERT_TRUE(reference) << stbi_failure_reason();
                    const std::vector<uint8_t> expected(reference, reference + size_t(width) * height * channels);
                    stbi_image_free(reference);

                    std::vector<uint8_t> pixels;
                    int readChannels = 0;
                    std::string error;
                    ASSERT_TRUE(kaReadPngExpandedFromMemory(
                        bytes.data(), bytes.size(),
                        [&](const kaPngPixels& header) {
                            readChannels = int(kaPngChannelCount(header.layout));
                            pixels.resize(size_t(header.bytesPerRow) * header.height);
                            return pixels.data();
                        },
                        error))
                        << error;
                    EXPECT_EQ(readChannels, channels);
                    EXPECT_EQ(pixels, expected);
                }
}

// Sizes are checked from the header, before any pixel is decoded; so are palette indices,
// which libpng only warns about and callers would read past.
TEST(PngCodec, OversizedImagesAndIndicesPastThePaletteAreRefused)
{
    RawPng wide{.width = 65536, .height = 1, .headerOnly = true};
    RawPng huge{.width = 65535, .height = 65535, .colorType = PNG_COLOR_TYPE_RGB_ALPHA, .headerOnly = true};
    std::vector<uint8_t> indices(7 * 5, 2);
    indices[20] = 3;
    RawPng pastPalette{.colorType = PNG_COLOR_TYPE_PALETTE, .bitDepth = 4, .rows = packRows(indices, 7, 5, 4),
                       .palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
    for (const auto& [raw, reason] : {std::pair{&wide, "width"}, {&huge, "1 GiB"}, {&pastPalette, "palette index 3"}}) {
        kaPngPixels image;
        EXPECT_THAT(readRaw(*raw, image), HasSubstr(reason));
    }

    // The largest side allowed works both ways; one more is refused by the writer.
    std::string error;
    std::vector<uint8_t> bytes;
    kaPngPixels line = makeImage(Layout::Grey8, 65535, 1), image;
    ASSERT_TRUE(kaWritePngToMemory(line, bytes, error)) << error;
    ASSERT_TRUE(kaReadPngFromMemory(bytes.data(), bytes.size(), image, error)) << error;
    expectSame(line, image);
    line = makeImage(Layout::Grey8, 65536, 1);
    EXPECT_FALSE(kaWritePngToMemory(line, bytes, error));
}

TEST(PngCodec, DamagedDataIsRefusedAndLeavesTheResultAlone)
{
    const kaPngPixels image = makeImage(Layout::RGBA8, 33, 17);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(kaWritePngToMemory(image, bytes, error)) << error;
    const size_t size = bytes.size();

    kaPngPixels out;
    out.width = 1234; // must survive every failed read
    for (size_t length : {size_t(0), size_t(1), size_t(8), size_t(20), size_t(33), size_t(41), size / 2, size - 13,
                          size - 12, size - 1}) {
        error.clear();
        EXPECT_FALSE(kaReadPngFromMemory(bytes.data(), length, out, error)) << length;
        EXPECT_THAT(error, StartsWith("<memory>: "));
        EXPECT_EQ(out.width, 1234u);
    }
    // CRCs cover every chunk here, so any change of a few bytes must be caught.
    std::mt19937 random(20240611);
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<uint8_t> damaged = bytes;
        for (int c = 0; c <= trial % 3; ++c) damaged[random() % damaged.size()] ^= uint8_t(1 + random() % 255);
        error.clear();
        EXPECT_FALSE(kaReadPngFromMemory(damaged.data(), damaged.size(), out, error)) << trial;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(out.width, 1234u);
    }
}

TEST(PngCodec, FailuresNameTheFileAndLeaveNoPartialFile)
{
    kaScratchDir dir;
    const std::string missing = (dir / "no-such-image.png").string();
    kaPngPixels image;
    std::string error;
    EXPECT_FALSE(kaReadPng(missing, image, error));
    EXPECT_THAT(error, HasSubstr(missing));
    const std::string nowhere = (dir / "no-such-folder" / "out.png").string();
    EXPECT_FALSE(kaWritePng(nowhere, makeImage(Layout::RGB8), error));
    EXPECT_THAT(error, HasSubstr(nowhere));

    // A refused write keeps the previous file as it was.
    const fs::path path = dir / "kept.png";
    ASSERT_TRUE(kaWritePng(path.string(), makeImage(Layout::RGB8), error)) << error;
    const std::vector<uint8_t> before = fileBytes(path);
    kaPngPixels badIndex = makeImage(Layout::Indexed8);
    badIndex.pixels[6] = 5;
    kaPngPixels shortBuffer = makeImage(Layout::RGBA8);
    shortBuffer.pixels.pop_back();
    for (const kaPngPixels& bad : {badIndex, shortBuffer}) {
        EXPECT_FALSE(kaWritePng(path.string(), bad, error));
        EXPECT_THAT(error, HasSubstr(path.string()));
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(entriesIn(dir), 1u);
}
