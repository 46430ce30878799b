// Palette combining on a character of 200 joints with 20 skinned meshes of 50,000 vertices (four
// blend indices each, every mesh under a partial palette of 64 joints in shuffled order), and on
// crowds of 100, 1,000 and 3,000 hierarchies of 30 joints with two meshes of 500 vertices each. Every
// iteration combines a freshly built scene (built with the timer paused). The peer is a plain
// pass over the same index bytes through a lookup table: what rewriting the indices costs at
// the least. The summary prints the time per vertex and per joint, the character's ratio to
// the peer, and how the crowd's time per joint changes from 100 hierarchies to more (1.0 is
// linear in the number of hierarchies).
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaJoint.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;

namespace {

constexpr int kIndexSlots = 4;

struct SceneShape {
    int hierarchies, joints, meshes, vertices, paletteSize;
    long vertexCount() const { return long(hierarchies) * meshes * vertices; }
    long jointCount() const { return long(hierarchies) * joints; }
};

constexpr SceneShape kCharacter{1, 200, 20, 50'000, 64};
constexpr SceneShape kCrowd{0, 30, 2, 500, 16};  // hierarchies given by the benchmark's argument

kaSmartPointer<kaGroup> buildScene(const SceneShape& shape)
{
    std::mt19937 random(11);
    auto root = make<kaGroup>();
    for (int h = 0; h < shape.hierarchies; ++h) {
        std::vector<kaSmartPointer<kaJoint>> joints;
        for (int j = 0; j < shape.joints; ++j) {
            joints.push_back(make<kaJoint>());
            (j == 0 ? static_cast<kaGroup*>(root) : joints[(j - 1) / 2].get())->appendChild(joints[j]);
        }
        std::vector<int> order(shape.joints);
        std::iota(order.begin(), order.end(), 0);
        for (int m = 0; m < shape.meshes; ++m) {
            std::shuffle(order.begin(), order.end(), random);
            auto palette = make<kaVertexBlendMatrixListAttr>();
            for (int k = 0; k < shape.paletteSize; ++k) palette->appendMatrix(joints[order[k]]->getBlendingMatrix());
            kaVertexFormat format;
            format.setPositions(true);
            format.setBlendWeightCount(kIndexSlots);
            format.setBlendIndexCount(kIndexSlots);
            auto array = make<kaVertexArray>();
            array->setup(format, shape.vertices, 0, 0);
            uint8_t* indices = array->blendIndexData();
            float* weights = array->blendWeightData();
            for (int i = 0; i < shape.vertices * kIndexSlots; ++i) {
                indices[i] = uint8_t(random() % shape.paletteSize);
                weights[i] = 1.0f / kIndexSlots;
            }
            array->closeSetup();
            auto attr = make<kaGeometryAttr1_5>();
            attr->configureVertexArray(array);
            auto mesh = make<kaGeometry>();
            mesh->appendAttr(palette);
            mesh->appendAttr(attr);
            joints[0]->appendChild(mesh);
        }
    }
    return root;
}

void runCombining(benchmark::State& state, const SceneShape& shape)
{
    auto optInterface = make<Lode::Opt::kaOptInterface>();
    for (auto _ : state) {
        state.PauseTiming();
        kaSmartPointer<kaNode> root = buildScene(shape).get();
        auto pass = kaSmartPointer<Lode::Opt::kaOptBase>::adopt(
            optInterface->createOptBase("kaCombineVertexBlendMatrixListAttrs"));
        state.ResumeTiming();
        pass->apply(root);
        state.PauseTiming();
        root = nullptr;
        state.ResumeTiming();
    }
    state.counters["ns_per_vertex"] =
        benchmark::Counter(double(shape.vertexCount()), benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
    state.counters["ns_per_joint"] =
        benchmark::Counter(double(shape.jointCount()), benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

void BM_CombineCharacter(benchmark::State& state) { runCombining(state, kCharacter); }

void BM_CombineCrowd(benchmark::State& state)
{
    SceneShape shape = kCrowd;
    shape.hierarchies = int(state.range(0));
    runCombining(state, shape);
}

// The peer: the character's index bytes rewritten through a 256-entry table, nothing else.
void BM_IndexBytesThroughTable(benchmark::State& state)
{
    std::vector<uint8_t> indices(size_t(kCharacter.vertexCount()) * kIndexSlots);
    std::mt19937 random(11);
    for (uint8_t& index : indices) index = uint8_t(random() % kCharacter.paletteSize);
    std::array<uint8_t, 256> table;
    for (int b = 0; b < 256; ++b) table[b] = uint8_t((b * 7) % kCharacter.paletteSize);
    for (auto _ : state) {
        for (uint8_t& index : indices) index = table[index];
        benchmark::DoNotOptimize(indices.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_vertex"] =
        benchmark::Counter(double(kCharacter.vertexCount()), benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}

// The figures per vertex and per joint, then the character against the plain table pass and
// the crowd's time per joint against that of the smallest crowd.
void printSummary(const kaBenchReporter& reporter)
{
    for (const char* counter : {"ns_per_vertex", "ns_per_joint"})
        // Inverted rates read in seconds per item.
        for (const auto& [name, seconds] : reporter.figures(counter))
            std::printf("%-50s %10.3f ns\n", (name + " " + counter).c_str(), seconds * 1e9);
    const double character = reporter.figure("CombineCharacter", "ns_per_vertex");
    const double peer = reporter.figure("IndexBytesThroughTable", "ns_per_vertex");
    if (character > 0 && peer > 0)
        std::printf("character: %.2fx the time per vertex of a plain table pass over the index bytes\n", character / peer);
    const double hundred = reporter.figure("CombineCrowd/100", "ns_per_joint");
    for (const char* size : {"1000", "3000"}) {
        const double large = reporter.figure(std::string("CombineCrowd/") + size, "ns_per_joint");
        if (hundred > 0 && large > 0)
            std::printf("crowd: time per joint at %s hierarchies is %.2fx that at 100 (1.00 is linear)\n", size,
                        large / hundred);
    }
}

} // namespace

BENCHMARK(BM_CombineCharacter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CombineCrowd)->Arg(100)->Arg(1000)->Arg(3000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexBytesThroughTable)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Lode::kaOptExtensionLibrary_arkRegister();
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
