// The host's image passes: the resizer against a double-precision reference of each filter, its
// refusals; the converter's exact round trips and rounding.
#include "host/opt/kaConvertImage.h"
#include "host/opt/kaResizeImage.h"
#include "kaPassTestTools.h"
#include "kaTestTools.h"

#include <cmath>
#include <cstring>

using namespace kaTest;
using namespace Lode::Gfx;

namespace {
kaSmartPointer<kaImage> rgbaImage(int width, int height, const std::function<void(int, int, uint8_t*)>& pixel)
{
    auto image = make<kaImage>();
    image->setup(width, height, KA_GFX_TEXTURE_FORMAT_RGBA_8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) pixel(x, y, image->pixelData() + (size_t(y) * width + x) * 4);
    return image;
}

// The same resampling written out plainly in double precision: per target pixel, the stretched
// kernel over every source pixel with clamped edges, colour weighted by alpha.
std::vector<double> reference(const kaImage& source, int targetWidth, int targetHeight, kaResizeImage::FilterType filter)
{
    auto axis = [filter](int size, int target) {
        std::vector<std::vector<double>> weights(target, std::vector<double>(size, 0.0));
        const double scale = double(size) / target, stretch = std::max(1.0, scale);
        const double radius = kaResizeImage::filterRadius(filter) * stretch;
        for (int i = 0; i < target; ++i) {
            const double center = (i + 0.5) * scale - 0.5;
            if (filter == kaResizeImage::Point || size == target) {  // a side kept is left alone
                weights[i][std::clamp(int(std::floor(center + 0.5)), 0, size - 1)] = 1.0;
                continue;
            }
            double sum = 0.0;
            for (int j = int(std::floor(center - radius)); j <= int(std::ceil(center + radius)); ++j) {
                const double w = kaResizeImage::filterWeight(filter, (j - center) / stretch);
                weights[i][std::clamp(j, 0, size - 1)] += w;
                sum += w;
            }
            for (double& w : weights[i]) w /= sum;
        }
        return weights;
    };
    const int width = source.getWidth(), height = source.getHeight();
    const auto across = axis(width, targetWidth), down = axis(height, targetHeight);
    std::vector<double> result(size_t(targetWidth) * targetHeight * 4);
    for (int ty = 0; ty < targetHeight; ++ty)
        for (int tx = 0; tx < targetWidth; ++tx) {
            double sum[4] = {};
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const double w = down[ty][y] * across[tx][x];
                    if (w == 0.0) continue;
                    const uint8_t* p = source.pixelData() + (size_t(y) * width + x) * 4;
                    for (int c = 0; c < 3; ++c) sum[c] += w * p[c] * p[3] / 255.0;
                    sum[3] += w * p[3];
                }
            double* out = &result[(size_t(ty) * targetWidth + tx) * 4];
            for (int c = 0; c < 3; ++c) out[c] = sum[3] > 1e-3 ? sum[c] * 255.0 / sum[3] : 0.0;
            out[3] = sum[3];
            for (int c = 0; c < 4; ++c) out[c] = std::clamp(out[c], 0.0, 255.0);
        }
    return result;
}
} // namespace

TEST(ResizeImage, EveryFilterMatchesTheDoublePrecisionReference)
{
    // Smooth colour and alpha, so that every filter stays within range and rounding decides: a
    // rounded result is within half a step of the reference, a truncated one is not.
    auto source = rgbaImage(23, 17, [](int x, int y, uint8_t* p) {
        p[0] = uint8_t(127.5 + 120 * std::sin(x * 0.31 + y * 0.07));
        p[1] = uint8_t(10 * x);
        p[2] = uint8_t(127.5 + 120 * std::cos(y * 0.4));
        p[3] = uint8_t(255 - 6 * y);
    });
    const std::pair<float, float> factors[] = {{0.5f, 0.5f}, {0.3f, 0.75f}, {2.0f, 1.0f}, {1.0f, 0.1f}};
    kaPassRun resize("kaResizeImage");
    kaResizeImage* resizer = resize.as<kaResizeImage>();
    ASSERT_TRUE(resizer);
    for (int filter = kaResizeImage::Point; filter <= kaResizeImage::Lanczos3; ++filter)
        for (auto [fx, fy] : factors) {
            auto image = kaSmartPointer<kaImage>::adopt(source->copy());
            resizer->setFilterType(kaResizeImage::FilterType(filter));
            resizer->setWidthFactor(fx), resizer->setHeightFactor(fy);
            ASSERT_TRUE(resizer->scale(image));
            const int width = kaResizeImage::scaledSize(23, fx), height = kaResizeImage::scaledSize(17, fy);
            ASSERT_TRUE(image->getWidth() == width && image->getHeight() == height) << image->getWidth() << "x" << image->getHeight();
            const std::vector<double> expected = reference(*source, width, height, kaResizeImage::FilterType(filter));
            double worst = 0.0;
            for (size_t i = 0; i < expected.size(); ++i)
                worst = std::max(worst, std::fabs(image->pixelData()[i] - expected[i]));
            EXPECT_LE(worst, 0.52) << "filter " << filter << " factors " << fx << " " << fy;
        }
}

TEST(ResizeImage, AlphaWeightingRoundingAndRefusals)
{
    kaPassRun resize("kaResizeImage");
    kaResizeImage* resizer = resize.as<kaResizeImage>();
    // Transparent red beside opaque green: the result is pure green, half covered.
    auto edge = rgbaImage(2, 2, [](int x, int, uint8_t* p) { std::memcpy(p, x ? "\0\310\0\377" : "\377\0\0\0", 4); });
    resizer->setFilterType(kaResizeImage::Box);
    ASSERT_TRUE(resizer->scale(edge));
    EXPECT_EQ(std::vector<int>(edge->pixelData(), edge->pixelData() + 4), (std::vector<int>{0, 200, 0, 128}));

    // 8-bit results are rounded: the mean of 1 and 2 is 2, of 10 and 13 is 12.
    auto grey = make<kaImage>();
    grey->setup(4, 1, KA_GFX_TEXTURE_FORMAT_GREY_8);
    std::memcpy(grey->pixelData(), "\1\2\12\15", 4);
    resizer->setHeightFactor(1.0f);
    ASSERT_TRUE(resizer->scale(grey));
    EXPECT_EQ(std::vector<int>(grey->pixelData(), grey->pixelData() + 2), (std::vector<int>{2, 12}));

    // A 1x1 image halves to 1x1; an empty image stays empty; a palettised one and bad factors are refused.
    auto single = rgbaImage(1, 1, [](int, int, uint8_t* p) { p[0] = p[1] = p[2] = p[3] = 77; });
    auto empty = rgbaImage(0, 4, [](int, int, uint8_t*) {});
    auto palettised = make<kaImage>();
    palettised->setup(4, 4, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    resizer->setHeightFactor(0.5f);
    EXPECT_TRUE(resizer->scale(single) && resizer->scale(empty));
    EXPECT_FALSE(resizer->scale(palettised));
    EXPECT_TRUE(single->getWidth() * single->getHeight() == 1 && single->pixelData()[0] == 77);
    EXPECT_TRUE(empty->getHeight() == 4 && palettised->getWidth() == 4);
    for (float bad : {0.0f, -0.5f, NAN, INFINITY}) {
        resizer->setWidthFactor(bad);
        EXPECT_FALSE(resizer->scale(single)) << bad;
    }
}

TEST(ConvertImage, LosslessRoundTripsAndRounding)
{
    kaPassRun convert("kaConvertImage");
    kaConvertImage* converter = convert.as<kaConvertImage>();
    ASSERT_TRUE(converter);
    // Each format survives a trip through a format that holds at least as much, in both orders.
    const std::pair<KA_GFX_TEXTURE_FORMAT, KA_GFX_TEXTURE_FORMAT> trips[] = {
        {KA_GFX_TEXTURE_FORMAT_RGB_565, KA_GFX_TEXTURE_FORMAT_RGB_8},   {KA_GFX_TEXTURE_FORMAT_RGBA_4444, KA_GFX_TEXTURE_FORMAT_RGBA_8},
        {KA_GFX_TEXTURE_FORMAT_RGBA_5551, KA_GFX_TEXTURE_FORMAT_RGBA_8}, {KA_GFX_TEXTURE_FORMAT_GREY_8, KA_GFX_TEXTURE_FORMAT_RGB_8},
        {KA_GFX_TEXTURE_FORMAT_GREY_ALPHA_8, KA_GFX_TEXTURE_FORMAT_RGBA_8}, {KA_GFX_TEXTURE_FORMAT_RGB_8, KA_GFX_TEXTURE_FORMAT_RGBA_8}};
    for (auto [format, wider] : trips)
        for (KA_GFX_IMAGE_ORDER order : {KA_GFX_IMAGE_ORDER_RGBA, KA_GFX_IMAGE_ORDER_BGRA}) {
            // Counting 16-bit words: every packed value, and every byte value at every place.
            auto image = make<kaImage>();
            image->setup(131072 / kaGetBytesPerPixel(format), 1, format);
            for (size_t word = 0; 2 * word + 1 < image->getSize(); ++word) std::memcpy(image->pixelData() + 2 * word, &word, 2);
            const std::vector<uint8_t> before(image->pixelData(), image->pixelData() + image->getSize());
            ASSERT_TRUE(converter->convertImage(image, wider, order));
            EXPECT_TRUE(image->getFormat() == wider && image->getOrder() == order);
            ASSERT_TRUE(converter->convertImage(image, format, KA_GFX_IMAGE_ORDER_RGBA));
            EXPECT_TRUE(std::equal(before.begin(), before.end(), image->pixelData())) << format << " " << order;
        }

    // Narrowing rounds; blue-first order swaps red and blue; a palette expands; palettised
    // targets are refused; convert-if-smaller leaves wider targets alone.
    auto pixel = rgbaImage(1, 1, [](int, int, uint8_t* p) { p[0] = 132, p[1] = 2, p[2] = 250, p[3] = 9; });
    ASSERT_TRUE(converter->convertImage(pixel, KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_IMAGE_ORDER_BGRA));
    EXPECT_EQ(std::vector<int>(pixel->pixelData(), pixel->pixelData() + 4), (std::vector<int>{250, 2, 132, 9}));
    ASSERT_TRUE(converter->convertImage(pixel, KA_GFX_TEXTURE_FORMAT_RGB_565, KA_GFX_IMAGE_ORDER_RGBA));
    EXPECT_EQ(pixel->pixelData()[0] | pixel->pixelData()[1] << 8, (16 << 11) | (0 << 5) | 30) << "132 -> 16.05, 2 -> 0.49, 250 -> 30.4";
    EXPECT_FALSE(converter->convertImage(pixel, KA_GFX_TEXTURE_FORMAT_PALETTE_8, KA_GFX_IMAGE_ORDER_RGBA));

    auto indexed = make<kaImage>();
    indexed->setup(2, 1, KA_GFX_TEXTURE_FORMAT_PALETTE_8);
    indexed->setPaletteEntryCount(2);
    std::memcpy(indexed->paletteData(), "\1\2\3\4\5\6\7\10", 8);
    indexed->pixelData()[0] = 1;
    converter->setConvertIfSmaller(true);
    EXPECT_TRUE(converter->convertImage(indexed, KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_IMAGE_ORDER_RGBA));
    EXPECT_EQ(indexed->getFormat(), KA_GFX_TEXTURE_FORMAT_PALETTE_8) << "wider: left alone";
    converter->setConvertIfSmaller(false);
    ASSERT_TRUE(converter->convertImage(indexed, KA_GFX_TEXTURE_FORMAT_RGBA_8, KA_GFX_IMAGE_ORDER_RGBA));
    EXPECT_EQ(std::vector<int>(indexed->pixelData(), indexed->pixelData() + 8), (std::vector<int>{5, 6, 7, 8, 1, 2, 3, 4}));
    EXPECT_EQ(indexed->getPaletteEntryCount(), 0);
}

TEST(ImagePasses, HostPassesAreMadeByNameAndDescribedButNotScripted)
{
    kaScratchDir scratch;
    EXPECT_THAT(runKaopt("describe kaResizeImage").out, testing::AllOf(HasSubstr("Lanczos3=6"), HasSubstr("_widthFactor")));
    EXPECT_THAT(runKaopt("describe kaConvertImage").out, HasSubstr("_convertIfSmaller"));
    writeText(scratch / "resize.ini", "[kaResizeImage]\n");
    const kaRunResult scripted = runKaopt("run --example --script " + (scratch / "resize.ini").string());
    EXPECT_EQ(scripted.status, 2);
    EXPECT_THAT(scripted.err, HasSubstr("host pass"));
}
