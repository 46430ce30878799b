// Mipmap chains of one 4096 x 4096 RGBA image: kaUseMipmap's whole visitor (13 levels,
// conversions included) per resizer filter, the resizer alone halving the image per filter,
// stb_image_resize building the same chain with the nearest filter it has, and a plain 2x2
// average chain. After the table, ratios to the peers measured in this run are printed.
// Figures: CPU milliseconds per chain or halving, and megapixels of the source per second.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/opt/kaResizeImage.h"
#include "host/sg/kaGeometry.h"
#include "passes/texture/kaUseMipmap.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Opt;
using Lode::Attrs::kaTextureAttr;

namespace {

constexpr int kSize = 4096;
constexpr double kMegapixels = double(kSize) * kSize / 1e6;

const char* const kFilterNames[] = {"Point", "Box", "Triangle", "CubicBSpline", "CatmullRom", "Mitchell", "Lanczos3"};

// A photo-like source: smooth gradients, fine detail and partly transparent areas.
const kaImage& source()
{
    static kaSmartPointer<kaImage> image = [] {
        auto made = kaSmartPointer<kaImage>::adopt(kaImage::_instantiate());
        made->setup(kSize, kSize, KA_GFX_TEXTURE_FORMAT_RGBA_8);
        made->setName("big.png");
        uint8_t* p = made->pixelData();
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x, p += 4) {
                p[0] = uint8_t(x >> 4);
                p[1] = uint8_t(y >> 4);
                p[2] = uint8_t((x * 7 + y * 13) & 255);
                p[3] = uint8_t(((x >> 6) + (y >> 6)) % 3 == 0 ? 0 : 255 - (x & 63));
            }
        return made;
    }();
    return *image;
}

void BM_Visitor(benchmark::State& state)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto host = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    host->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    const int section = host->getRegistry()->addSection();
    auto infos = kaSmartPointer<kaInfoList>::adopt(kaInfoList::_instantiate());
    for (auto _ : state) {
        state.PauseTiming();
        auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaUseMipmap"));
        static_cast<Lode::OptExtension::kaUseMipmap*>(pass.get())
            ->setFilterType(kaResizeImage::FilterType(state.range(0)));
        pass->setSilent(true);
        auto texture = kaSmartPointer<kaTextureAttr>::adopt(kaTextureAttr::_instantiate());
        texture->setImage(kaSmartPointer<kaImage>::adopt(source().copy()), 0);
        texture->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);
        auto geometry = kaSmartPointer<Lode::Sg::kaGeometry>::adopt(Lode::Sg::kaGeometry::_instantiate());
        geometry->appendAttr(texture);
        kaSmartPointer<Lode::Sg::kaNode> root = geometry.get();
        state.ResumeTiming();
        host->runPass(pass, section, root, infos);
        if (texture->getImageCount() != 13) state.SkipWithError("the chain does not have 13 levels");
        state.PauseTiming();
        root = nullptr;
        geometry = nullptr;
        texture = nullptr;
        state.ResumeTiming();
    }
    state.SetLabel(kFilterNames[state.range(0)]);
}

void BM_Resizer(benchmark::State& state)
{
    auto host = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase("kaResizeImage"));
    auto* resizer = kaResizeImage::dynamicCast(pass.get());
    resizer->setFilterType(kaResizeImage::FilterType(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto image = kaSmartPointer<kaImage>::adopt(source().copy());
        state.ResumeTiming();
        resizer->scale(image);
        benchmark::DoNotOptimize(image->pixelData());
        state.PauseTiming();
        image = nullptr;
        state.ResumeTiming();
    }
    state.SetLabel(kFilterNames[state.range(0)]);
}

// stb's filters by the resizer filter they stand in for; Point and Lanczos3 have no match of
// their own, so the closest one in kind stands in (box, Catmull-Rom).
stbir_filter stbFilterFor(int filter)
{
    switch (filter) {
    case kaResizeImage::Point:
    case kaResizeImage::Box: return STBIR_FILTER_BOX;
    case kaResizeImage::Triangle: return STBIR_FILTER_TRIANGLE;
    case kaResizeImage::CubicBSpline: return STBIR_FILTER_CUBICBSPLINE;
    case kaResizeImage::CatmullRom:
    case kaResizeImage::Lanczos3: return STBIR_FILTER_CATMULLROM;
    default: return STBIR_FILTER_MITCHELL;
    }
}

const char* stbFilterName(stbir_filter filter)
{
    switch (filter) {
    case STBIR_FILTER_BOX: return "Box";
    case STBIR_FILTER_TRIANGLE: return "Triangle";
    case STBIR_FILTER_CUBICBSPLINE: return "CubicBSpline";
    case STBIR_FILTER_CATMULLROM: return "CatmullRom";
    default: return "Mitchell";
    }
}

// The same chain with stb: each level from the one before, alpha-weighted, edges clamped.
void BM_StbChain(benchmark::State& state)
{
    const auto filter = static_cast<stbir_filter>(state.range(0));
    for (auto _ : state) {
        std::vector<uint8_t> previous(source().pixelData(), source().pixelData() + source().getSize());
        int width = kSize, height = kSize;
        while (width > 1 || height > 1) {
            const int nextWidth = std::max(1, width / 2), nextHeight = std::max(1, height / 2);
            std::vector<uint8_t> next(size_t(nextWidth) * nextHeight * 4);
            stbir_resize_uint8_generic(previous.data(), width, height, 0, next.data(), nextWidth, nextHeight, 0, 4, 3, 0,
                                       STBIR_EDGE_CLAMP, filter, STBIR_COLORSPACE_LINEAR, nullptr);
            previous.swap(next);
            width = nextWidth, height = nextHeight;
        }
        benchmark::DoNotOptimize(previous.data());
    }
    state.SetLabel(stbFilterName(filter));
}

// The floor for a box chain: each level the rounded mean of 2x2 pixels, nothing else.
void BM_Average2x2Chain(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<uint8_t> previous(source().pixelData(), source().pixelData() + source().getSize());
        int size = kSize;
        while (size > 1) {
            const int half = size / 2;
            std::vector<uint8_t> next(size_t(half) * half * 4);
            for (int y = 0; y < half; ++y) {
                const uint8_t* top = previous.data() + size_t(2 * y) * size * 4;
                const uint8_t* bottom = top + size_t(size) * 4;
                uint8_t* out = next.data() + size_t(y) * half * 4;
                for (int i = 0; i < half * 4; ++i) {
                    const int c = i & 3, x = (i >> 2) * 8 + c;
                    out[i] = uint8_t((top[x] + top[x + 4] + bottom[x] + bottom[x + 4] + 2) >> 2);
                }
            }
            previous.swap(next);
            size = half;
        }
        benchmark::DoNotOptimize(previous.data());
    }
}

BENCHMARK(BM_Visitor)->DenseRange(kaResizeImage::Point, kaResizeImage::Lanczos3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resizer)->DenseRange(kaResizeImage::Point, kaResizeImage::Lanczos3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StbChain)
    ->Arg(STBIR_FILTER_BOX)
    ->Arg(STBIR_FILTER_TRIANGLE)
    ->Arg(STBIR_FILTER_CUBICBSPLINE)
    ->Arg(STBIR_FILTER_CATMULLROM)
    ->Arg(STBIR_FILTER_MITCHELL)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Average2x2Chain)->Unit(benchmark::kMillisecond);

// The CPU milliseconds of every chain (everything here runs on one thread, and on a shared
// machine CPU time is the steadier measure of the work), then each filter against stb's.
void printRatios(const kaBenchReporter& reporter)
{
    const auto ms = [&](const std::string& run) { return reporter.figure(run, "cpu_ms"); };
    std::printf("\n%-28s %10s %10s\n", "chain or halving (4096^2)", "CPU ms", "MP/s");
    for (const auto& [name, cpu] : reporter.figures("cpu_ms"))
        std::printf("%-28s %10.1f %10.1f\n", name.c_str(), cpu, kMegapixels / cpu * 1e3);
    std::printf("\n");
    const double mitchell = ms("StbChain/" + std::to_string(STBIR_FILTER_MITCHELL));
    const double visitorDefault = ms("Visitor/" + std::to_string(kaResizeImage::Lanczos3));
    if (mitchell > 0 && visitorDefault > 0)
        std::printf("kaUseMipmap (Lanczos3, the default) is %.2fx as fast as stb's Mitchell chain (target: 2x)\n",
                    mitchell / visitorDefault);
    for (int filter = kaResizeImage::Point; filter <= kaResizeImage::Lanczos3; ++filter) {
        const stbir_filter peer = stbFilterFor(filter);
        const double ours = ms("Visitor/" + std::to_string(filter));
        const double theirs = ms("StbChain/" + std::to_string(peer));
        if (ours > 0 && theirs > 0)
            std::printf("kaUseMipmap %-12s vs stb %-12s %.2fx as fast\n", kFilterNames[filter], stbFilterName(peer),
                        theirs / ours);
    }
    const double average = ms("Average2x2Chain");
    const double box = ms("Visitor/" + std::to_string(kaResizeImage::Box));
    if (average > 0 && box > 0)
        std::printf("kaUseMipmap Box takes %.2fx the time of a plain 2x2 average chain (target: at most 2x)\n",
                    box / average);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    source();
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
