// Reduction of 8 blend weights per vertex to 4 on a million-vertex skin: the sort by value, the
// reduction with renormalisation of sorted weights, the whole pass on one geometry node (which
// sorts as it reduces), the set-up of the new array, a plain copy of the weight and index bytes
// (what memory allows), and, when built with Assimp, Assimp's LimitBoneWeights step on the same
// weights. The summary gives the pass's time per vertex as a multiple of the copy's.
//
// Every iteration starts from the unsorted weights; restoring them, building inputs and
// releasing results happen with the timer paused. page_faults is the average number of minor
// page faults of the timed part of one iteration. With fresh_pages:1 the freed memory goes back
// to the system before each iteration, so new arrays are first touched as in a one-shot run of
// the tool; with fresh_pages:0 the allocator hands back the pages of the previous iteration.
// Rates are per CPU second of the benchmark, which other processes on the machine do not inflate.
#include "extension/kaOptExtensionLibrary.h"
#include "host/attrs/kaBoundingBox.h"
#include "host/attrs/kaGeometryAttr.h"
#include "host/gfx/kaVertexArray.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGeometry.h"
#include "passes/skinning/kaBlendWeightAlgorithms.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>
#include <ext/stdio_filebuf.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#ifdef KA_BENCH_HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#endif

using Lode::Attrs::kaBoundingBox;
using Lode::Attrs::kaGeometryAttr1_5;
using Lode::Core::kaSmartPointer;
using Lode::Gfx::kaVertexArray;
using Lode::Gfx::kaVertexFormat;
using Lode::Opt::kaOptBase;
using Lode::Opt::kaOptInterface;
using Lode::Opt::kaOptTraverseGraph;
using Lode::Sg::kaGeometry;
using Lode::Sg::kaNode;

namespace {

constexpr int kVertexCount = 1'000'000;
constexpr int kWeightCount = 8;
constexpr int kKeptWeightCount = 4;
constexpr int kBoneCount = 64;
// One vertex in eight arrives already sorted, as some exporters write them; the rest in
// random order.
constexpr int kSortedEvery = 8;

// The skin as an exporter hands it over: positions, normals, one texture coordinate set, and 8
// weights per vertex over 8 distinct bones, summing to 1.
struct Skin {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> texCoords;
    std::vector<float> weights;
    std::vector<uint8_t> indices;
};

Skin makeSkin()
{
    Skin skin;
    skin.positions.resize(size_t(3) * kVertexCount);
    skin.normals.resize(size_t(3) * kVertexCount);
    skin.texCoords.resize(size_t(2) * kVertexCount);
    skin.weights.resize(size_t(kWeightCount) * kVertexCount);
    skin.indices.resize(size_t(kWeightCount) * kVertexCount);

    std::mt19937 generator(20240611);
    std::uniform_real_distribution<float> coordinate(-1.0f, 1.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::exponential_distribution<float> share(1.0f);
    std::vector<uint8_t> bones(kBoneCount);
    std::iota(bones.begin(), bones.end(), uint8_t{0});

    for (int v = 0; v < kVertexCount; ++v) {
        for (int c = 0; c < 3; ++c) skin.positions[size_t(3) * v + c] = coordinate(generator);
        skin.normals[size_t(3) * v + 1] = 1.0f;
        skin.texCoords[size_t(2) * v] = unit(generator);
        skin.texCoords[size_t(2) * v + 1] = unit(generator);

        float* w = &skin.weights[size_t(kWeightCount) * v];
        uint8_t* idx = &skin.indices[size_t(kWeightCount) * v];
        float sum = 0.0f;
        for (int k = 0; k < kWeightCount; ++k) sum += w[k] = share(generator);
        for (int k = 0; k < kWeightCount; ++k) w[k] /= sum;
        if (v % kSortedEvery == 0) std::sort(w, w + kWeightCount, std::greater<float>());
        // Distinct bones: a partial shuffle of the bone list.
        for (int k = 0; k < kWeightCount; ++k) {
            std::swap(bones[k], bones[k + generator() % (kBoneCount - k)]);
            idx[k] = bones[k];
        }
    }
    return skin;
}

const Skin& skin()
{
    static const Skin built = makeSkin();
    return built;
}

kaSmartPointer<kaVertexArray> makeSkinnedArray(const Skin& source)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setTextureCoordSetCount(1);
    format.setBlendWeightCount(kWeightCount);
    format.setBlendIndexCount(kWeightCount);
    auto array = kaSmartPointer<kaVertexArray>::adopt(kaVertexArray::_instantiate());
    array->setup(format, kVertexCount, 0, 0);
    std::memcpy(array->positionData(), source.positions.data(), source.positions.size() * sizeof(float));
    std::memcpy(array->normalData(), source.normals.data(), source.normals.size() * sizeof(float));
    std::memcpy(array->texCoordData(0), source.texCoords.data(), source.texCoords.size() * sizeof(float));
    std::memcpy(array->blendWeightData(), source.weights.data(), source.weights.size() * sizeof(float));
    std::memcpy(array->blendIndexData(), source.indices.data(), source.indices.size());
    array->closeSetup();
    return array;
}

void restoreUnsortedWeights(kaVertexArray& array, const Skin& source)
{
    std::memcpy(array.blendWeightData(), source.weights.data(), source.weights.size() * sizeof(float));
    std::memcpy(array.blendIndexData(), source.indices.data(), source.indices.size());
}

long minorPageFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

bool isSortedByValue(const kaVertexArray& array)
{
    const float* w = array.blendWeightData();
    for (size_t v = 0; v < size_t(kVertexCount); ++v, w += kWeightCount)
        for (int k = 1; k < kWeightCount; ++k)
            if (w[k] > w[k - 1]) return false;
    return true;
}

// Called with the timer paused, after the previous iteration's results are released.
void releaseFreedPages(bool freshPages)
{
    if (freshPages) malloc_trim(0);
}

void reportPerVertex(benchmark::State& state, long pageFaults)
{
    state.SetItemsProcessed(state.iterations() * int64_t{kVertexCount});
    state.counters["page_faults"] = benchmark::Counter(double(pageFaults), benchmark::Counter::kAvgIterations);
}

// The sort by value with each of its kernels on the same data: what the faster two are worth.
void BM_SortByValue(benchmark::State& state)
{
    const auto kernel = static_cast<Lode::OptExtension::kaValueSortKernel>(state.range(0));
    const Skin& source = skin();
    auto array = makeSkinnedArray(source);
    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restoreUnsortedWeights(*array, source);
        const long faultsBefore = minorPageFaults();
        state.ResumeTiming();
        Lode::OptExtension::kaSortBlendWeightsByValue(*array, kernel);
        pageFaults += minorPageFaults() - faultsBefore;
    }
    if (!isSortedByValue(*array)) state.SkipWithError("the weights are not sorted");
    reportPerVertex(state, pageFaults);
}

void BM_ReduceAndRenormalise(benchmark::State& state)
{
    // Weights sorted beforehand, kept as they stand; the reduction leaves its input as it is.
    auto sorted = makeSkinnedArray(skin());
    Lode::OptExtension::kaSortBlendWeightsByValue(*sorted);
    const bool freshPages = state.range(0) != 0;
    kaSmartPointer<kaVertexArray> reduced;
    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        reduced = nullptr;
        releaseFreedPages(freshPages);
        const long faultsBefore = minorPageFaults();
        state.ResumeTiming();
        reduced = Lode::OptExtension::kaReduceBlendWeightArray(*sorted, kKeptWeightCount, 0.0f,
                                                               Lode::OptExtension::kaKeptOrder::AsStored)
                      .array;
        pageFaults += minorPageFaults() - faultsBefore;
    }
    if (!reduced || reduced->getBlendWeightCount() != kKeptWeightCount)
        state.SkipWithError("the array was not reduced to 4 weights");
    reportPerVertex(state, pageFaults);
}

// The whole pass on one geometry node, on fresh pages as the tool runs it; box:1 gives the
// attribute a bounding box, which the pass refits to the new array's positions. With shared:0
// the attribute alone holds its array, as in a scene read from a file, and the pass moves the
// other components into the reduced array; with shared:1 the array is held elsewhere too, so
// the pass copies them and leaves the array sorted.
void BM_PassDispatch(benchmark::State& state)
{
    const bool withBoundingBox = state.range(0) != 0;
    const bool shared = state.range(1) != 0;
    const Skin& source = skin();
    kaSmartPointer<kaVertexArray> array;
    if (shared) array = makeSkinnedArray(source);
    auto attr = kaSmartPointer<kaGeometryAttr1_5>::adopt(kaGeometryAttr1_5::_instantiate());
    if (withBoundingBox) attr->setBoundingBox(kaSmartPointer<kaBoundingBox>::adopt(kaBoundingBox::_instantiate()));
    auto geometry = kaSmartPointer<kaGeometry>::adopt(kaGeometry::_instantiate());
    geometry->setName("skin");
    geometry->appendAttr(attr);
    kaSmartPointer<kaNode> node(geometry.get());

    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase("kaReduceBlendWeights"));
    auto* traversal = dynamic_cast<kaOptTraverseGraph*>(pass.get());
    std::string error;
    if (!traversal || !pass->getMetaField("_blendWeightCount") ||
        !pass->getMetaField("_blendWeightCount")->setFromText(pass, "4", error)) {
        state.SkipWithError(("cannot create and set up kaReduceBlendWeights " + error).c_str());
        return;
    }
    traversal->preTraverse();

    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Lets go of the previous iteration's reduced array here, outside the timed part.
        if (shared) {
            restoreUnsortedWeights(*array, source);
            attr->setVertexArray(array);
        } else {
            attr->setVertexArray(makeSkinnedArray(source));
        }
        releaseFreedPages(true);
        const long faultsBefore = minorPageFaults();
        state.ResumeTiming();
        traversal->dispatch(node);
        pageFaults += minorPageFaults() - faultsBefore;
    }
    if (attr->getVertexArray()->getBlendWeightCount() != kKeptWeightCount)
        state.SkipWithError("the pass did not reduce the array to 4 weights");
    if (shared && !isSortedByValue(*array)) state.SkipWithError("the pass did not leave the shared array sorted");
    reportPerVertex(state, pageFaults);
}

// What the reduction pays before it copies anything: a new array of the reduced format, every
// block zero-filled.
void BM_ReducedArraySetup(benchmark::State& state)
{
    kaVertexFormat format;
    format.setPositions(true);
    format.setNormals(true);
    format.setTextureCoordSetCount(1);
    format.setBlendWeightCount(kKeptWeightCount);
    format.setBlendIndexCount(kKeptWeightCount);
    const bool freshPages = state.range(0) != 0;
    kaSmartPointer<kaVertexArray> array;
    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        array = nullptr;
        releaseFreedPages(freshPages);
        array = kaSmartPointer<kaVertexArray>::adopt(kaVertexArray::_instantiate());
        const long faultsBefore = minorPageFaults();
        state.ResumeTiming();
        array->setup(format, kVertexCount, 0, 0);
        pageFaults += minorPageFaults() - faultsBefore;
    }
    reportPerVertex(state, pageFaults);
}

// The memory limit: the 8 weights and 8 indices of every vertex copied once.
void BM_CopyWeightAndIndexBytes(benchmark::State& state)
{
    const Skin& source = skin();
    std::vector<float> weights(source.weights.size());
    std::vector<uint8_t> indices(source.indices.size());
    long pageFaults = 0;
    for (auto _ : state) {
        const long faultsBefore = minorPageFaults();
        std::memcpy(weights.data(), source.weights.data(), weights.size() * sizeof(float));
        std::memcpy(indices.data(), source.indices.data(), indices.size());
        benchmark::DoNotOptimize(weights.data());
        benchmark::DoNotOptimize(indices.data());
        benchmark::ClobberMemory();
        pageFaults += minorPageFaults() - faultsBefore;
    }
    reportPerVertex(state, pageFaults);
}

#ifdef KA_BENCH_HAVE_ASSIMP

// Assimp post-processes only scenes an importer owns: a one-triangle mesh is read and then
// given the skin's vertices and bones. Assimp frees mesh arrays with delete[].
constexpr char kOneTriangleObj[] = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

void giveVertices(aiMesh& mesh, const Skin& source)
{
    delete[] mesh.mVertices;
    delete[] mesh.mNormals;
    delete[] mesh.mTextureCoords[0];
    mesh.mNumVertices = kVertexCount;
    mesh.mVertices = new aiVector3D[kVertexCount];
    mesh.mNormals = new aiVector3D[kVertexCount];
    mesh.mTextureCoords[0] = new aiVector3D[kVertexCount];
    mesh.mNumUVComponents[0] = 2;
    for (int v = 0; v < kVertexCount; ++v) {
        const float* p = &source.positions[size_t(3) * v];
        const float* n = &source.normals[size_t(3) * v];
        const float* t = &source.texCoords[size_t(2) * v];
        mesh.mVertices[v] = aiVector3D(p[0], p[1], p[2]);
        mesh.mNormals[v] = aiVector3D(n[0], n[1], n[2]);
        mesh.mTextureCoords[0][v] = aiVector3D(t[0], t[1], 0.0f);
    }
}

// Assimp keeps weights per bone: each bone lists the (vertex, weight) pairs it moves, in
// vertex order, as importers build them.
void giveBones(aiMesh& mesh, const Skin& source)
{
    for (unsigned int b = 0; b < mesh.mNumBones; ++b) delete mesh.mBones[b];
    delete[] mesh.mBones;

    std::vector<unsigned int> counts(kBoneCount, 0);
    for (uint8_t index : source.indices) ++counts[index];
    mesh.mNumBones = kBoneCount;
    mesh.mBones = new aiBone*[kBoneCount];
    for (int b = 0; b < kBoneCount; ++b) {
        auto* bone = new aiBone();
        bone->mName.Set("bone" + std::to_string(b));
        bone->mWeights = new aiVertexWeight[counts[b]];
        mesh.mBones[b] = bone;
    }
    for (int v = 0; v < kVertexCount; ++v)
        for (int k = 0; k < kWeightCount; ++k) {
            const size_t at = size_t(kWeightCount) * v + k;
            aiBone* bone = mesh.mBones[source.indices[at]];
            bone->mWeights[bone->mNumWeights++] = aiVertexWeight(v, source.weights[at]);
        }
}

void BM_AssimpLimitBoneWeights(benchmark::State& state)
{
    const Skin& source = skin();
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_LBW_MAX_WEIGHTS, kKeptWeightCount);
    const aiScene* scene = importer.ReadFileFromMemory(kOneTriangleObj, sizeof kOneTriangleObj - 1, 0, "obj");
    if (!scene || scene->mNumMeshes != 1) {
        state.SkipWithError((std::string("cannot read the triangle: ") + importer.GetErrorString()).c_str());
        return;
    }
    aiMesh& mesh = *const_cast<aiScene*>(scene)->mMeshes[0];
    giveVertices(mesh, source);

    long pageFaults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        giveBones(mesh, source);
        releaseFreedPages(true);
        const long faultsBefore = minorPageFaults();
        state.ResumeTiming();
        scene = importer.ApplyPostProcessing(aiProcess_LimitBoneWeights);
        pageFaults += minorPageFaults() - faultsBefore;
    }
    size_t keptWeights = 0;
    for (unsigned int b = 0; scene && b < mesh.mNumBones; ++b) keptWeights += mesh.mBones[b]->mNumWeights;
    if (keptWeights != size_t(kKeptWeightCount) * kVertexCount)
        state.SkipWithError("LimitBoneWeights did not leave 4 weights per vertex");
    reportPerVertex(state, pageFaults);
}

#endif

// Vertices per second of every benchmark, the pass against the copy and against Assimp's
// LimitBoneWeights.
void printSummary(const kaBenchReporter& reporter, std::ostream& out)
{
    out << "summary (M vertices/s, 8 -> 4 weights):";
    for (const auto& [name, rate] : reporter.figures("items_per_second")) {
        char figure[64];
        std::snprintf(figure, sizeof figure, " %.1f", rate / 1e6);
        out << " " << name << figure;
    }
    out << "\n";
    const double copy = reporter.figure("CopyWeightAndIndexBytes", "items_per_second");
    for (const auto& [name, rate] : reporter.figures("items_per_second"))
        if (copy > 0.0 && rate > 0.0 && name.rfind("PassDispatch/", 0) == 0) {
            char line[160];
            std::snprintf(line, sizeof line, "%s takes %.2fx the time per vertex of CopyWeightAndIndexBytes\n",
                          name.c_str(), copy / rate);
            out << line;
        }
    const double exchange = reporter.figure("SortByValue/kernel:2", "items_per_second");
    if (exchange > 0.0)
        for (const char* name : {"SortByValue/kernel:0", "SortByValue/kernel:1"})
            if (const double rate = reporter.figure(name, "items_per_second"); rate > 0.0) {
                char line[128];
                std::snprintf(line, sizeof line, "%s sorts %.2fx as many vertices per second as the exchange sort\n", name,
                              rate / exchange);
                out << line;
            }
#ifdef KA_BENCH_HAVE_ASSIMP
    const double assimp = reporter.figure("AssimpLimitBoneWeights", "items_per_second");
    if (assimp > 0.0)
        for (const char* name : {"PassDispatch/box:0/shared:0", "PassDispatch/box:1/shared:0"})
            if (const double rate = reporter.figure(name, "items_per_second"); rate > 0.0) {
                char line[128];
                std::snprintf(line, sizeof line, "%s runs %.2fx as many vertices per second as Assimp's LimitBoneWeights\n",
                              name, rate / assimp);
                out << line;
            }
#else
    out << "Assimp comparison skipped: built without Assimp (install libassimp-dev and re-run cmake)\n";
#endif
}

} // namespace

// 0: the fastest kernel that applies (AVX2 where the processor has it), 1: the sorting network,
// 2: the exchange sort.
BENCHMARK(BM_SortByValue)->ArgName("kernel")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceAndRenormalise)->ArgName("fresh_pages")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassDispatch)
    ->ArgNames({"box", "shared"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReducedArraySetup)->ArgName("fresh_pages")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyWeightAndIndexBytes)->Unit(benchmark::kMillisecond);
#ifdef KA_BENCH_HAVE_ASSIMP
// One iteration takes most of a second: a longer minimum gives it a few.
BENCHMARK(BM_AssimpLimitBoneWeights)->MinTime(2.0)->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Lode::kaOptExtensionLibrary_arkRegister();

    // The pass reports every step on standard output; the table goes to a duplicate of it and
    // the pass's lines to /dev/null.
    std::fflush(stdout);
    const int tableFd = dup(STDOUT_FILENO);
    if (tableFd < 0 || !std::freopen("/dev/null", "w", stdout)) {
        std::perror("bench_reduce_blend_weights: cannot silence standard output");
        return 1;
    }
    __gnu_cxx::stdio_filebuf<char> tableBuffer(tableFd, std::ios::out);
    std::ostream table(&tableBuffer);
    kaBenchReporter reporter(isatty(tableFd) ? benchmark::ConsoleReporter::OO_ColorTabular
                                             : benchmark::ConsoleReporter::OO_Tabular);
    reporter.SetOutputStream(&table);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    table.flush();
    printSummary(reporter, std::cerr);
    benchmark::Shutdown();
    return 0;
}
