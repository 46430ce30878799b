// The geometry data passes on one geometry node of a million vertices with positions, normals,
// colours, two texture coordinate sets and four blend weights and indices (76 bytes a vertex),
// each beside a plain memcpy of the bytes it writes, measured in the same run:
//   ConvertGeometryAttr       the whole vertex into a new second-generation array (76 bytes)
//   RemoveVertexComponent     everything but the normals into a new array (64 bytes)
//   ScalePerVertexColors      the colours, in place (16 bytes)
//   PlainCopy/bytes:N         memcpy of N bytes a vertex into a buffer written before (no page faults)
// The passes run as a host runs them (created by class name, fields set by name, apply on the
// root). Scene set-up and the release of the previous iteration's arrays are not timed. The
// summary line gives each pass's vertices per second and its ratio to the copy of its bytes.
// Rates are per CPU second of the benchmark, which other processes on the machine do not inflate.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/gfx/kaVertexArray.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"

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
};

const Pass kPasses[] = {
    {"ConvertGeometryAttr", "kaConvertGeometryAttr", nullptr, 76},
    {"RemoveVertexComponent", "kaRemoveVertexComponent", "_normal", 64},
    {"ScalePerVertexColors", "kaScalePerVertexColors", nullptr, 16},
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
    // Both buffers are written before the timing: the copy runs at memory speed, without page faults.
    std::vector<uint8_t> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kVertexCount});
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}

// The console table, plus vertices per second of every benchmark for the summary lines.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto rate = run.counters.find("items_per_second");
            if (rate != run.counters.end()) _verticesPerSecond[run.benchmark_name()] = rate->second.value;
        }
    }

    void printSummary(std::ostream& out) const
    {
        for (const Pass& pass : kPasses) {
            const double passRate = rate(std::string("BM_Pass/") + pass.benchmark);
            const double copyRate = rate("BM_PlainCopy/bytes:" + std::to_string(pass.bytesPerVertex));
            if (passRate <= 0.0 || copyRate <= 0.0) continue;
            char line[200];
            std::snprintf(line, sizeof line,
                          "%-22s %7.1f M vertices/s; plain copy of its %2d bytes a vertex %7.1f M vertices/s; "
                          "the copy is %.2fx as fast\n",
                          pass.benchmark, passRate / 1e6, pass.bytesPerVertex, copyRate / 1e6, copyRate / passRate);
            out << line;
        }
    }

private:
    double rate(const std::string& name) const
    {
        auto found = _verticesPerSecond.find(name);
        return found == _verticesPerSecond.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> _verticesPerSecond;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const Pass& pass : kPasses)
        benchmark::RegisterBenchmark((std::string("BM_Pass/") + pass.benchmark).c_str(), BM_Pass, pass)
            ->Unit(benchmark::kMillisecond);
    for (const Pass& pass : kPasses)
        benchmark::RegisterBenchmark("BM_PlainCopy", BM_PlainCopy)
            ->ArgName("bytes")
            ->Arg(pass.bytesPerVertex)
            ->Unit(benchmark::kMillisecond);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary(std::cout);
    benchmark::Shutdown();
    return 0;
}
