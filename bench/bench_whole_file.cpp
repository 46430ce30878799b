// Whole files through whole processes: `kaopt run` with a script of one [kaEmpty] (the kaopt
// beside this binary) reading and writing a large skinned .glb (1 M vertices with 8 blend weights
// over 64 joints, a 1024x1024 PNG texture, one animation), the same scene as .kab, a scene of
// 100k nodes and a large textured .glb (2 M such vertices, a 4096x4096 PNG texture), beside `cp`
// of the same input file in the same run and, when they are on the PATH, glTF-Transform's CLI
// (`gltf-transform copy`) and Assimp (`assimp export`) on the same file (not on the large one,
// which would take them minutes).
//
// Each run is one process started with fork and exec and reaped with wait4: "wall time" is the
// process's elapsed time, peak_MB its ru_maxrss (which counts the pages of this process at the
// fork too: about 6 MB here, which is what cp shows). The summary gives the median wall time of
// each job's processes with the fastest and slowest, the median as ratios to cp of the same input
// and to glTF-Transform's copy, and peak memory as a multiple of the input's size.
// The files are written to a scratch folder under /dev/shm (the temp folder when it is missing),
// so that the disk does not stand between the tools and memory.
#include "host/io/kaPngCodec.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr uint32_t kGridSide = 1000; // 1 M vertices
constexpr uint32_t kLargeGridSide = 1415; // 2 M vertices
constexpr int kJointCount = 64;
constexpr uint32_t kTextureSide = 1024;
constexpr uint32_t kLargeTextureSide = 4096;
constexpr int kNodeCount = 100'000;
constexpr int kKeyCount = 240;
// Five processes per job, of which the median counts: one process slowed by the machine moves a
// mean of three by a third.
constexpr int kIterations = 5;

// A .glb assembled from a JSON document and one binary buffer; buffer views are appended 4-byte
// aligned.
struct kaGlbBuilder {
    json document = {{"asset", {{"version", "2.0"}}}};
    std::vector<uint8_t> buffer;

    int view(const void* data, size_t size)
    {
        buffer.resize((buffer.size() + 3) & ~size_t(3));
        const size_t offset = buffer.size();
        buffer.insert(buffer.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        document["bufferViews"].push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}});
        return int(document["bufferViews"].size()) - 1;
    }

    template <typename T>
    int accessor(const std::vector<T>& values, int componentType, const char* type, size_t count, json extra = json::object())
    {
        extra["bufferView"] = view(values.data(), values.size() * sizeof(T));
        extra["componentType"] = componentType;
        extra["type"] = type;
        extra["count"] = count;
        document["accessors"].push_back(extra);
        return int(document["accessors"].size()) - 1;
    }

    void save(const fs::path& path)
    {
        buffer.resize((buffer.size() + 3) & ~size_t(3));
        if (!buffer.empty()) document["buffers"] = json::array({{{"byteLength", buffer.size()}}});
        std::string text = document.dump();
        text.resize((text.size() + 3) & ~size_t(3), ' ');
        const uint32_t header[5] = {0x46546C67u, 2u, uint32_t(12 + 8 + text.size() + (buffer.empty() ? 0 : 8 + buffer.size())),
                                    uint32_t(text.size()), 0x4E4F534Au};
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        out.write(text.data(), std::streamsize(text.size()));
        if (!buffer.empty()) {
            const uint32_t chunk[2] = {uint32_t(buffer.size()), 0x004E4942u};
            out.write(reinterpret_cast<const char*>(chunk), sizeof chunk);
            out.write(reinterpret_cast<const char*>(buffer.data()), std::streamsize(buffer.size()));
        }
    }
};

constexpr int kFloat = 5126, kUnsignedByte = 5121, kUnsignedInt = 5125;

// One skinned grid mesh of gridSide x gridSide vertices with a texture of textureSide x
// textureSide noise, its 64 joints a chain of nodes turned by one animation.
void writeSkinnedGlb(const fs::path& path, uint32_t gridSide, uint32_t textureSide)
{
    kaGlbBuilder glb;
    const size_t vertexCount = size_t(gridSide) * gridSide;
    std::vector<float> positions(3 * vertexCount), normals(3 * vertexCount), texCoords(2 * vertexCount);
    std::vector<float> weights0(4 * vertexCount), weights1(4 * vertexCount);
    std::vector<uint8_t> joints0(4 * vertexCount), joints1(4 * vertexCount);
    for (size_t v = 0; v < vertexCount; ++v) {
        const float x = float(v % gridSide) / gridSide, y = float(v / gridSide) / gridSide;
        positions[3 * v] = x, positions[3 * v + 1] = y, positions[3 * v + 2] = 0.05f * std::sin(20.0f * x);
        normals[3 * v + 2] = 1.0f;
        texCoords[2 * v] = x, texCoords[2 * v + 1] = y;
        // Eight joints per vertex with falling weights that sum to one.
        static const float kWeights[8] = {0.3f, 0.2f, 0.15f, 0.1f, 0.1f, 0.07f, 0.05f, 0.03f};
        for (int k = 0; k < 4; ++k) {
            weights0[4 * v + k] = kWeights[k], weights1[4 * v + k] = kWeights[4 + k];
            joints0[4 * v + k] = uint8_t((v / 977 + k) % kJointCount);
            joints1[4 * v + k] = uint8_t((v / 977 + 4 + k) % kJointCount);
        }
    }
    std::vector<uint32_t> indices;
    indices.reserve(size_t(gridSide - 1) * (gridSide - 1) * 6);
    for (uint32_t row = 0; row + 1 < gridSide; ++row)
        for (uint32_t column = 0; column + 1 < gridSide; ++column) {
            const uint32_t corner = row * gridSide + column;
            for (uint32_t index :
                 {corner, corner + 1, corner + gridSide, corner + 1, corner + gridSide + 1, corner + gridSide})
                indices.push_back(index);
        }

    const json attributes = {
        {"POSITION", glb.accessor(positions, kFloat, "VEC3", vertexCount, {{"min", {0, 0, -0.05}}, {"max", {1, 1, 0.05}}})},
        {"NORMAL", glb.accessor(normals, kFloat, "VEC3", vertexCount)},
        {"TEXCOORD_0", glb.accessor(texCoords, kFloat, "VEC2", vertexCount)},
        {"JOINTS_0", glb.accessor(joints0, kUnsignedByte, "VEC4", vertexCount)},
        {"JOINTS_1", glb.accessor(joints1, kUnsignedByte, "VEC4", vertexCount)},
        {"WEIGHTS_0", glb.accessor(weights0, kFloat, "VEC4", vertexCount)},
        {"WEIGHTS_1", glb.accessor(weights1, kFloat, "VEC4", vertexCount)}};
    const int indexAccessor = glb.accessor(indices, kUnsignedInt, "SCALAR", indices.size());

    Lode::Gfx::kaPngPixels texture;
    texture.layout = Lode::Gfx::kaPngPixels::Layout::RGB8;
    texture.width = texture.height = textureSide;
    texture.bytesPerRow = 3 * textureSide;
    texture.pixels.resize(size_t(3) * textureSide * textureSide);
    uint32_t noise = 12345;
    for (uint8_t& byte : texture.pixels) byte = uint8_t((noise = noise * 1664525u + 1013904223u) >> 24);
    std::vector<uint8_t> png;
    std::string error;
    if (!Lode::Gfx::kaWritePngToMemory(texture, png, error)) throw std::runtime_error(error);
    glb.document["images"] = json::array({{{"bufferView", glb.view(png.data(), png.size())}, {"mimeType", "image/png"}}});
    glb.document["textures"] = json::array({{{"source", 0}}});
    glb.document["materials"] = json::array({{{"name", "skin"}, {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 0}}}}}}});
    glb.document["meshes"] = json::array(
        {{{"name", "grid"}, {"primitives", json::array({{{"attributes", attributes}, {"indices", indexAccessor}, {"material", 0}}})}}});

    // Node 0 holds the mesh, node 1 the first joint; each joint is the parent of the next.
    std::vector<float> inverseBinds;
    json joints = json::array();
    glb.document["nodes"] = json::array({{{"name", "grid"}, {"mesh", 0}, {"skin", 0}}});
    for (int j = 0; j < kJointCount; ++j) {
        json node = {{"name", "joint" + std::to_string(j)}, {"translation", {0, j ? 1.0 / kJointCount : 0.0, 0}}};
        if (j + 1 < kJointCount) node["children"] = {j + 2};
        glb.document["nodes"].push_back(node);
        joints.push_back(j + 1);
        for (int k = 0; k < 16; ++k) inverseBinds.push_back(k % 5 == 0 ? 1.0f : k == 13 ? -float(j) / kJointCount : 0.0f);
    }
    glb.document["skins"] = json::array({{{"joints", joints}, {"inverseBindMatrices", glb.accessor(inverseBinds, kFloat, "MAT4", kJointCount)}}});
    glb.document["scenes"] = json::array({{{"nodes", {0, 1}}}});
    glb.document["scene"] = 0;

    std::vector<float> times(kKeyCount), rotations;
    for (int key = 0; key < kKeyCount; ++key) {
        times[key] = key / 30.0f;
        const float half = 0.25f * std::sin(key * 0.1f);
        for (float component : {0.0f, 0.0f, std::sin(half), std::cos(half)}) rotations.push_back(component);
    }
    const int input = glb.accessor(times, kFloat, "SCALAR", kKeyCount, {{"min", {0.0}}, {"max", {times.back()}}});
    json samplers = json::array(), channels = json::array();
    for (int j = 0; j < kJointCount; ++j) {
        samplers.push_back({{"input", input}, {"output", glb.accessor(rotations, kFloat, "VEC4", kKeyCount)}});
        channels.push_back({{"sampler", j}, {"target", {{"node", j + 1}, {"path", "rotation"}}}});
    }
    glb.document["animations"] = json::array({{{"name", "wave"}, {"samplers", samplers}, {"channels", channels}}});
    glb.save(path);
}

// 100k nodes, a tree 10 wide at every level, with no buffers at all.
void writeNodesGlb(const fs::path& path)
{
    kaGlbBuilder glb;
    json& nodes = glb.document["nodes"] = json::array();
    for (int n = 0; n < kNodeCount; ++n) {
        json node = {{"name", "node" + std::to_string(n)}, {"translation", {n % 10, 1, 0}}};
        json children = json::array();
        for (int c = 10 * n + 1; c <= 10 * n + 10 && c < kNodeCount; ++c) children.push_back(c);
        if (!children.empty()) node["children"] = children;
        nodes.push_back(node);
    }
    glb.document["scenes"] = json::array({{{"nodes", {0}}}});
    glb.document["scene"] = 0;
    glb.save(path);
}

// The path of program when it is an executable on the PATH, else empty.
std::string onPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / program;
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return {};
}

struct kaProcessFigures {
    double seconds = 0.0;
    double peakBytes = 0.0;
    bool ok = false;
};

// Runs argv to completion with its output silenced.
kaProcessFigures runProcess(const std::vector<std::string>& argv)
{
    std::vector<char*> pointers;
    for (const std::string& argument : argv) pointers.push_back(const_cast<char*>(argument.c_str()));
    pointers.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return {};
    kaProcessFigures figures;
    figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.peakBytes = double(usage.ru_maxrss) * 1024.0;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

struct kaCase {
    std::string name;  // "tool/conversion"
    std::string input; // the file the run reads, for the ratio to cp and to its size
    std::vector<std::string> argv;
    fs::path outputs; // the folder the run writes to, emptied after each run
};

void runCase(benchmark::State& state, const kaCase& run)
{
    double peak = 0.0;
    std::vector<double> seconds;
    for (auto _ : state) {
        fs::create_directories(run.outputs);
        const kaProcessFigures figures = runProcess(run.argv);
        fs::remove_all(run.outputs);
        if (!figures.ok) {
            state.SkipWithError(("failed: " + run.argv[0]).c_str());
            break;
        }
        state.SetIterationTime(figures.seconds);
        seconds.push_back(figures.seconds);
        peak = std::max(peak, figures.peakBytes);
    }
    if (seconds.empty()) return;
    std::sort(seconds.begin(), seconds.end());
    state.counters["wall_ms"] = 1e3 * seconds[seconds.size() / 2];
    state.counters["fastest_ms"] = 1e3 * seconds.front();
    state.counters["slowest_ms"] = 1e3 * seconds.back();
    state.counters["peak_MB"] = peak / 1e6;
    state.counters["input_MB"] = double(fs::file_size(run.input)) / 1e6;
}

void printSummary(const kaBenchReporter& reporter, const std::vector<kaCase>& cases)
{
    const auto wall = [&](const std::string& name) { return reporter.figure(name, "wall_ms"); };
    std::printf("\n%-28s %10s %15s %9s %9s %9s %10s %9s\n", "run", "wall (ms)", "of runs (ms)", "x cp", "x gltf-t",
                "peak MB", "x input", "input MB");
    for (const kaCase& run : cases) {
        const std::string conversion = run.name.substr(run.name.find('/') + 1);
        const std::string input = conversion.substr(0, conversion.find('>'));
        const double ms = wall(run.name), cp = wall("cp/" + input), peer = wall("gltf-transform/" + conversion);
        const double peak = reporter.figure(run.name, "peak_MB");
        const double inputMB = reporter.figure(run.name, "input_MB");
        if (ms == 0.0) continue;
        const auto ratio = [](double a, double b) { return b > 0.0 ? std::to_string(a / b).substr(0, 5) + "x" : std::string("-"); };
        const std::string spread = std::to_string(long(reporter.figure(run.name, "fastest_ms") + 0.5)) + "-" +
                                   std::to_string(long(reporter.figure(run.name, "slowest_ms") + 0.5));
        std::printf("%-28s %10.1f %15s %9s %9s %9.1f %10s %9.1f\n", run.name.c_str(), ms, spread.c_str(),
                    ratio(ms, cp).c_str(), ratio(ms, peer).c_str(), peak, ratio(peak, inputMB).c_str(), inputMB);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const fs::path scratch = (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
                             ("bench_whole_file_" + std::to_string(getpid()));
    fs::create_directories(scratch);
    const std::string kaopt = (fs::canonical("/proc/self/exe").parent_path() / "kaopt").string();
    const std::string skinned = (scratch / "skinned.glb").string(), kab = (scratch / "skinned.kab").string();
    const std::string nodes = (scratch / "nodes.glb").string(), script = (scratch / "empty.ini").string();
    const std::string large = (scratch / "large.glb").string();
    writeSkinnedGlb(skinned, kGridSide, kTextureSide);
    writeSkinnedGlb(large, kLargeGridSide, kLargeTextureSide);
    writeNodesGlb(nodes);
    std::ofstream(script) << "[kaEmpty]\n";
    // A forked child starts with this process's resident pages counted in its peak: hand the
    // generators' memory back first, so that peak_MB is the tool's own.
    malloc_trim(0);
    if (!runProcess({kaopt, "convert", skinned, kab}).ok) {
        std::fprintf(stderr, "%s could not convert %s to .kab\n", kaopt.c_str(), skinned.c_str());
        return 1;
    }

    const fs::path outputs = scratch / "out";
    const auto out = [&](const std::string& name) { return (outputs / name).string(); };
    const auto kaoptRun = [&](const std::string& input, const std::string& output) {
        return std::vector<std::string>{kaopt, "run", "--quiet", "--script", script, "-o", output, input};
    };
    std::vector<kaCase> cases = {
        {"cp/glb", skinned, {"/bin/cp", skinned, out("copy.glb")}, outputs},
        {"kaopt/glb>glb", skinned, kaoptRun(skinned, out("out.glb")), outputs},
        {"kaopt/glb>gltf", skinned, kaoptRun(skinned, out("out.gltf")), outputs},
        {"cp/kab", kab, {"/bin/cp", kab, out("copy.kab")}, outputs},
        {"kaopt/kab>kab", kab, kaoptRun(kab, out("out.kab")), outputs},
        {"cp/nodes", nodes, {"/bin/cp", nodes, out("copy.glb")}, outputs},
        {"kaopt/nodes>glb", nodes, kaoptRun(nodes, out("out.glb")), outputs},
        {"cp/large", large, {"/bin/cp", large, out("copy.glb")}, outputs},
        {"kaopt/large>glb", large, kaoptRun(large, out("out.glb")), outputs},
    };
    if (const std::string gltfTransform = onPath("gltf-transform"); !gltfTransform.empty()) {
        cases.push_back({"gltf-transform/glb>glb", skinned, {gltfTransform, "copy", skinned, out("peer.glb")}, outputs});
        cases.push_back({"gltf-transform/glb>gltf", skinned, {gltfTransform, "copy", skinned, out("peer.gltf")}, outputs});
        cases.push_back({"gltf-transform/nodes>glb", nodes, {gltfTransform, "copy", nodes, out("peer.glb")}, outputs});
    } else {
        std::printf("gltf-transform not on the PATH (npm @gltf-transform/cli): no comparison with it\n");
    }
    if (const std::string assimp = onPath("assimp"); !assimp.empty()) {
        cases.push_back({"assimp/glb>glb", skinned, {assimp, "export", skinned, out("assimp.glb")}, outputs});
        cases.push_back({"assimp/glb>gltf", skinned, {assimp, "export", skinned, out("assimp.gltf")}, outputs});
    } else {
        std::printf("assimp not on the PATH (Debian assimp-utils): no comparison with it\n");
    }

    for (const kaCase& run : cases)
        benchmark::RegisterBenchmark(run.name.c_str(), [&run](benchmark::State& state) { runCase(state, run); })
            ->Iterations(kIterations)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter, cases);
    benchmark::Shutdown();
    fs::remove_all(scratch);
    return 0;
}
