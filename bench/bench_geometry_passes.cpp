// The geometry data passes on one geometry node of a million vertices with positions, normals,
// colours, two texture coordinate sets and four blend weights and indices (76 bytes a vertex),
// each beside a plain memcpy of the bytes it writes, measured in the same run:
//   ConvertGeometryAttr       the whole vertex into a new second-generation array (76 bytes)
//   RemoveVertexComponent     everything but the normals into a new array (64 bytes)
//   ScalePerVertexColors      the colours, in place (16 bytes)
//   PlainCopy/bytes:N/new:1   memcpy of N bytes a vertex into a new block of the arrays' allocator
//   PlainCopy/bytes:N/new:0   the same into a block written before (the peer of in-place work)
// The passes run as a host runs them (created by class name, fields set by name, apply on the
// root). Passes and copies run after a warm-up and release their previous results untimed, so
// both get new memory the same way (whether the allocator hands back pages it holds or fresh
// ones from the system is its choice, alike for both). The
// summary lines give each pass's vertices per second and how much faster each copy of its bytes
// runs.
// Rates are per CPU second of the benchmark, which other processes on the machine do not inflate.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/gfx/kaVertexArray.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using Lode::Attrs::kaGeometryAttr;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Core::kaSmartPointer;
using Lode::Core::make;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using Lode::Opt::kaOptBase;
using Lode::Opt::kaOptInterface;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaNode;

namespace {

constexpr int kVertexCount = 1'000'000;

struct Pass {
    const char* benchmark;
    const char* className;
    const char* field;  // set to "true" by name, or null
    int bytesPerVertex;  // what the pass writes
    bool newArray;       // into a new array, or in place
};

const Pass kPasses[] = {
    {"ConvertGeometryAttr", "kaConvertGeometryAttr", nullptr, 76, true},
    {"RemoveVertexComponent", "kaRemoveVertexComponent", "_normal", 64, true},
    {"ScalePerVertexColors", "kaScalePerVertexColors", nullptr, 16, false},
};

kaSmartPointer<kaVertexArray> makeVertices()
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setColors(true);
    format.setTextureCoordSetCount(2);
    format.setBlendWeightCount(4);
    format.setBlendIndexCount(4);
    auto array = make<kaVertexArray>();
    array->setup(format, kVertexCount, 0, 0);
    auto fill = [](float* data, size_t count, float scale) {
        for (size_t i = 0; i < count; ++i) data[i] = scale * float(i % 1000) / 1000.0f;
    };
    const size_t n = kVertexCount;
    fill(array->positionData(), 3 * n, 10.0f);
    fill(array->normalData(), 3 * n, 1.0f);
    fill(array->colorData(), 4 * n, 1.0f);
    fill(array->texCoordData(0), 2 * n, 1.0f);
    fill(array->texCoordData(1), 2 * n, 1.0f);
    fill(array->blendWeightData(), 4 * n, 0.25f);
    for (size_t i = 0; i < 4 * n; ++i) array->blendIndexData()[i] = uint8_t(i % 61);
    array->closeSetup();
    return array;
}

const kaSmartPointer<kaVertexArray>& vertices()
{
    static const kaSmartPointer<kaVertexArray> array = makeVertices();
    return array;
}

void BM_Pass(benchmark::State& state, const Pass& pass)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    auto optInterface = make<kaOptInterface>();
    auto runner = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(pass.className));
    std::string error;
    if (pass.field && !runner->getMetaField(pass.field)->setFromText(runner, "true", error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    auto geometry = make<kaGeometry>();
    kaSmartPointer<kaGeometryAttr> attr = make<kaGeometryAttr1_5>();
    attr->configureVertexArray(vertices());
    geometry->appendAttr(attr);
    kaSmartPointer<kaNode> root = geometry.get();
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh first-generation attribute on the source vertices; the previous result goes.
        attr = make<kaGeometryAttr1_5>();
        attr->configureVertexArray(vertices());
        geometry->getAttrs()->set(0, attr);
        state.ResumeTiming();
        runner->apply(root);
    }
    if (geometry->getGeometryAttr(0)->getVertexCount() != kVertexCount) state.SkipWithError("vertices lost");
    state.SetItemsProcessed(state.iterations() * int64_t{kVertexCount});
    state.SetBytesProcessed(state.iterations() * int64_t{kVertexCount} * pass.bytesPerVertex);
}

void BM_PlainCopy(benchmark::State& state)
{
    const size_t bytes = size_t(state.range(0)) * kVertexCount;
    const bool newBlock = state.range(1) != 0;
    std::vector<uint8_t> from(bytes, 1);
    void* to = newBlock ? nullptr : Lode::Core::kaAllocateBlock(bytes);
    if (to) std::memset(to, 0, bytes);
    for (auto _ : state) {
        if (newBlock) {
            state.PauseTiming();
            Lode::Core::kaFreeBlock(to);
            state.ResumeTiming();
            // New memory from the allocator of the vertex arrays, as a pass's new array is.
            to = Lode::Core::kaAllocateBlock(bytes);
        }
        std::memcpy(to, from.data(), bytes);
        benchmark::DoNotOptimize(to);
        benchmark::ClobberMemory();
    }
    Lode::Core::kaFreeBlock(to);
    state.SetItemsProcessed(state.iterations() * int64_t{kVertexCount});
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// Each pass's vertices per second beside plain copies of the bytes it writes.
void printSummary(const kaBenchReporter& reporter)
{
    for (const Pass& pass : kPasses) {
        const double passRate = reporter.figure(std::string("Pass/") + pass.benchmark, "items_per_second");
        const std::string copy = "PlainCopy/bytes:" + std::to_string(pass.bytesPerVertex) + "/new:";
        const double intoWritten = reporter.figure(copy + "0", "items_per_second");
        const double intoNew = reporter.figure(copy + "1", "items_per_second");
        if (passRate <= 0.0 || intoWritten <= 0.0 || intoNew <= 0.0) continue;
        std::printf("%-22s %7.1f M vertices/s (%s); a plain copy of its %2d bytes a vertex is %.2fx as fast "
                    "into memory written before, %.2fx into a new block\n",
                    pass.benchmark, passRate / 1e6, pass.newArray ? "new array" : "in place", pass.bytesPerVertex,
                    intoWritten / passRate, intoNew / passRate);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const Pass& pass : kPasses)
        benchmark::RegisterBenchmark((std::string("BM_Pass/") + pass.benchmark).c_str(), BM_Pass, pass)
            ->MinWarmUpTime(0.5)
            ->Unit(benchmark::kMillisecond);
    for (const Pass& pass : kPasses)
        benchmark::RegisterBenchmark("BM_PlainCopy", BM_PlainCopy)
            ->MinWarmUpTime(0.5)
            ->ArgNames({"bytes", "new"})
            ->Args({pass.bytesPerVertex, 0})
            ->Args({pass.bytesPerVertex, 1})
            ->Unit(benchmark::kMillisecond);
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
