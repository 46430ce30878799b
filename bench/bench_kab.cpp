// Throughput of the .kab writer and reader on a skinned mesh of 2 million vertices (positions,
// normals, one texture coordinate set, four blend weights: 96 MB of vertex data), in memory
// and through a file. "vertex_GB/s" counts vertex data only.
#include "host/gfx/kaVertexArray.h"
#include "host/io/kaKABFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace Lode::Core;
using namespace Lode::Gfx;

namespace {

constexpr int VertexCount = 2'000'000;

struct kaBenchMesh {
    kaSmartPointer<kaKABFile> file = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
    size_t vertexBytes = 0;

    kaBenchMesh()
    {
        kaVertexFormat format;
        format.setPositions(true);
        format.setNormals(true);
        format.setTextureCoordSetCount(1);
        format.setBlendWeightCount(4);
        auto vertices = kaSmartPointer<kaVertexArray2>::adopt(kaVertexArray2::_instantiate());
        vertices->setup(format, VertexCount, 0, 0);
        float* positions = vertices->positionData();
        float* normals = vertices->normalData();
        float* texCoords = vertices->texCoordData(0);
        float* weights = vertices->blendWeightData();
        for (int v = 0; v < VertexCount; ++v) {
            for (int k = 0; k < 3; ++k) positions[3 * v + k] = v * 0.001f + k;
            normals[3 * v + 2] = 1.0f;
            texCoords[2 * v] = (v % 1024) / 1024.0f;
            texCoords[2 * v + 1] = (v / 1024 % 1024) / 1024.0f;
            for (int k = 0; k < 4; ++k) weights[4 * v + k] = 0.25f;
        }
        vertices->closeSetup();
        vertexBytes = size_t(VertexCount) * (3 + 3 + 2 + 4) * sizeof(float);

        auto entry = kaSmartPointer<kaObjectDirEntry>::adopt(kaObjectDirEntry::_instantiate());
        entry->setEntryName("root");
        entry->setObject(vertices);
        file->getDirectory()->append(entry);
    }
};

kaBenchMesh& mesh()
{
    static kaBenchMesh shared;
    return shared;
}

void report(benchmark::State& state)
{
    const double bytes = double(mesh().vertexBytes) * double(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["vertex_GB/s"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}

std::string scratchPath()
{
    return (std::filesystem::temp_directory_path() / ("bench_kab_" + std::to_string(getpid()) + ".kab")).string();
}

void BM_KabWriteToMemory(benchmark::State& state)
{
    // The buffer is reused, as a writer saving many files would: its pages are touched once, before timing.
    std::vector<uint8_t> bytes;
    mesh().file->writeToMemory(bytes);
    for (auto _ : state) {
        if (!mesh().file->writeToMemory(bytes)) state.SkipWithError(mesh().file->getError().c_str());
        benchmark::DoNotOptimize(bytes.data());
    }
    report(state);
}

void BM_KabReadFromMemory(benchmark::State& state)
{
    std::vector<uint8_t> bytes;
    mesh().file->writeToMemory(bytes);
    for (auto _ : state) {
        auto read = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
        if (!read->readFromMemory(bytes.data(), bytes.size(), "mesh.kab")) state.SkipWithError(read->getError().c_str());
    }
    report(state);
}

void BM_KabWriteFile(benchmark::State& state)
{
    const std::string path = scratchPath();
    for (auto _ : state)
        if (!mesh().file->write(path.c_str())) state.SkipWithError(mesh().file->getError().c_str());
    std::remove(path.c_str());
    report(state);
}

void BM_KabReadFile(benchmark::State& state)
{
    const std::string path = scratchPath();
    mesh().file->write(path.c_str());
    for (auto _ : state) {
        auto read = kaSmartPointer<kaKABFile>::adopt(kaKABFile::_instantiate());
        if (!read->read(path.c_str())) state.SkipWithError(read->getError().c_str());
    }
    std::remove(path.c_str());
    report(state);
}

// The mesh is built before any timing starts.
const bool meshBuilt = (mesh(), true);

BENCHMARK(BM_KabWriteToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KabReadFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KabWriteFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KabReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
