// The scene-wide passes on levels of 10,000, 100,000 and 1,000,000 geometry nodes: ten geometry
// nodes under each transform, a tenth of the geometry sharing names (about ten nodes a name),
// a light set with two lights under every tenth transform. Each pass is timed on a fresh copy
// of the level, beside the visiting walk alone, the peer every visiting pass rides on.
//
// Printed per benchmark: ns_per_node (processor time over geometry nodes, steadier than wall
// time on a shared machine) and peak_MB (the process's peak resident size so far), for each of
// five repetitions: the largest level runs once per repetition, so one reading is one pass. The
// summary below the table takes the median of the repetitions and gives, per pass, the growth of
// the time per node from 10,000 to 1,000,000 nodes (the passes grow no faster than n log n when
// it stays within 3x) and the time per node as a multiple of the walk's at the same size.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaLightAttr.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaTransform.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <sys/resource.h>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;

// Visits every geometry node and does nothing with it.
class kaBenchWalk : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaBenchWalk, kaOptVisitObject)
public:
    kaMetaObject* getVisitedObjectMeta() override { return kaGeometry::getClassMetaSafe(); }
};
KA_IMPLEMENT_CLASS(kaBenchWalk)

namespace {

kaSmartPointer<kaNode> makeLevel(int geometryCount)
{
    auto root = make<kaGroup>("level");
    const int transformCount = geometryCount / 10;
    for (int t = 0; t < transformCount; ++t) {
        auto transform = make<kaTransform>("xform" + std::to_string(t));
        root->appendChild(transform);
        kaGroup* holder = transform;
        if (t % 10 == 0) {
            auto lights = make<kaLightSet>("lights" + std::to_string(t));
            for (const char* name : {"key", "fill"}) lights->appendLight(make<Lode::Attrs::kaLightAttr>(name));
            transform->appendChild(lights);
            holder = lights;
        }
        for (int g = 0; g < 10; ++g) {
            const int index = t * 10 + g;
            const std::string name = g == 0 ? "prop" + std::to_string(t / 10) : "mesh" + std::to_string(index);
            holder->appendChild(make<kaGeometry>(name));
        }
    }
    return root;
}


double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void runOnFreshLevels(benchmark::State& state, const char* className)
{
    const int geometryCount = static_cast<int>(state.range(0));
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    for (auto _ : state) {
        state.PauseTiming();
        kaSmartPointer<kaNode> level = makeLevel(geometryCount);
        auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(className));
        state.ResumeTiming();
        optInterface->runPass(pass, 0, level, nullptr);
        state.PauseTiming();
        pass = nullptr;
        level = nullptr;
        state.ResumeTiming();
    }
    state.counters["ns_per_node"] = benchmark::Counter(geometryCount / 1e9, benchmark::Counter::kIsIterationInvariantRate |
                                                                              benchmark::Counter::kInvert);
    state.counters["peak_MB"] = peakMegabytes();
}

void BM_VisitingWalk(benchmark::State& state) { runOnFreshLevels(state, "kaBenchWalk"); }
void BM_NameUnique(benchmark::State& state) { runOnFreshLevels(state, "kaNameUnique"); }
void BM_InstanceGeometriesByName(benchmark::State& state) { runOnFreshLevels(state, "kaInstanceGeometriesByName"); }
void BM_RemoveNames(benchmark::State& state) { runOnFreshLevels(state, "kaRemoveNames"); }
void BM_CollectLight(benchmark::State& state) { runOnFreshLevels(state, "kaCollectLight"); }

// Per pass and level size, the time per node and its multiple of the walk's; then the growth
// from the smallest level to the largest.
void printSummary(const kaBenchReporter& reporter)
{
    std::map<std::string, std::map<long, double>> nsPerNode;
    for (const auto& [run, ns] : reporter.figures("ns_per_node")) {
        const size_t slash = run.find('/');
        nsPerNode[run.substr(0, slash)][std::stol(run.substr(slash + 1))] = ns;
    }
    const std::map<long, double> walk = nsPerNode.count("VisitingWalk") ? nsPerNode.at("VisitingWalk") : std::map<long, double>{};
    for (const auto& [name, bySize] : nsPerNode) {
        std::printf("%-26s", name.c_str());
        for (const auto& [size, ns] : bySize) {
            std::printf("  %7ld: %7.0f ns/node", size, ns);
            if (walk.count(size) && name != "VisitingWalk") std::printf(" (%.2fx walk)", ns / walk.at(size));
        }
        if (bySize.size() > 1)
            std::printf("  growth %ld->%ld: %.2fx", bySize.begin()->first, bySize.rbegin()->first,
                        bySize.rbegin()->second / bySize.begin()->second);
        std::printf("\n");
    }
}

} // namespace

#define KA_LEVEL_SIZES ->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Repetitions(5)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_VisitingWalk) KA_LEVEL_SIZES;
BENCHMARK(BM_NameUnique) KA_LEVEL_SIZES;
BENCHMARK(BM_InstanceGeometriesByName) KA_LEVEL_SIZES;
BENCHMARK(BM_RemoveNames) KA_LEVEL_SIZES;
BENCHMARK(BM_CollectLight) KA_LEVEL_SIZES;

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Lode::kaOptExtensionLibrary_arkRegister();
    kaBenchWalk::arkRegister();
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
