// How every pass of the pass table grows with the scene: each pass on scenes of n and 4n units,
// wide (every unit a child of the root) and deep (every unit inside the one before, so the graph
// is n levels deep). A unit is a transform holding a hierarchy of two joints, left and right,
// which the animation database's skeleton names and its animation binds, and one geometry node
// under them: skinned first- or current-generation geometry with a palette of the two joints,
// every 16th a first-generation morph instance instead; every 4th with a material, every 8th
// with a 4 x 4 texture tagged for mipmapping; every 10th unit's joints lie under a light set of
// two lights. Geometry names repeat about ten times. Every
// iteration runs the pass on a freshly built scene (built with the timer paused); passes that
// write files write them into a scratch folder, emptied between iterations. What they print is
// thrown away.
//
// The summary prints, per pass and shape, the processor time at n and at 4n and their ratio: 4x
// is linear, a little above n log n; a pass above 5x is marked.
#include "extension/kaOptExtensionLibrary.h"
#include "extension/kaPassNames.h"
#include "host/attrs/kaMaterialAttr.h"
#include "host/attrs/kaTextureAttr.h"
#include "host/attrs/kaVertexBlendMatrixListAttr.h"
#include "host/core/kaText.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaAnimationDatabase.h"
#include "host/sg/kaJoint.h"
#include "host/sg/kaLightSet.h"
#include "host/sg/kaMorph.h"
#include "host/sg/kaTransform.h"
#include "kaBenchReporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Lode::Core;
using namespace Lode::Sg;
using namespace Lode::Attrs;
using namespace Lode::Gfx;
using Lode::Opt::kaOptBase;
using Lode::Opt::kaOptInterface;
using Lode::Utils::kaMatrixObject;

namespace {

const auto& kPasses = Lode::kaPassNames;

// Settings that give a pass work on the scene (the defaults of the others already do).
const std::map<std::string, std::vector<std::pair<const char*, const char*>>> kSettings = {
    {"kaScalePerVertexColors", {{"_scaleFactor", "0.5"}}},
    {"kaRemoveVertexComponent", {{"_normal", "true"}}},
    {"kaReflectAnimations", {{"_leftIdentString", "_L"}, {"_rightIdentString", "_R"}}},
    {"kaReduceBlendWeights", {{"_blendWeightCount", "2"}}},
};

// 20,000 units take about 70 MB: both sizes lie well beyond the processor's caches, so that the
// ratio shows how the work grows, not how the scene falls out of the cache.
constexpr int kUnits = 20'000;
// Every iteration builds a scene of up to 80,000 units with the timer paused: a fixed count keeps
// the passes that take microseconds from building thousands of them.
constexpr int kIterations = 5;
// Below this a pass does a constant amount of work on these scenes and its ratio is noise.
constexpr double kConstantMs = 0.01;
constexpr int kVertices = 4;

kaSmartPointer<kaVertexArray> makeVertices(bool current, int unit)
{
    kaVertexFormat format(0x10447);  // positions, normals, colours, four weights and indices, one texture set
    kaSmartPointer<kaVertexArray> array;
    if (current) array = make<kaVertexArray2>();
    else array = make<kaVertexArray>();
    array->setup(format, kVertices, 0, 0);
    const float colour[4] = {0.5f, 0.25f, 1.0f, 1.0f};
    for (int v = 0; v < kVertices; ++v) {
        array->setPosition(v, {float(unit), float(v), 0.0f});
        array->setNormal(v, {0, 1, 0});
        array->setColor(v, colour);
        for (int slot = 0; slot < 4; ++slot) {
            array->setBlendWeight(v, slot, 0.1f * float(1 + (v + slot) % 4));
            array->setBlendIndex(v, slot, uint8_t(slot % 2));
        }
    }
    array->closeSetup();
    return array;
}

kaSmartPointer<kaGeometryAttr> makeGeometryAttr(bool current, int unit, kaIndexArray* indices)
{
    kaSmartPointer<kaGeometryAttr> attr;
    if (current) attr = make<kaGeometryAttr2>("mesh");
    else attr = make<kaGeometryAttr1_5>("mesh");
    attr->configureVertexArray(makeVertices(current, unit));
    attr->setIndexArray(indices);
    attr->setPrimitiveCount(2);
    return attr;
}

kaSmartPointer<kaGeometry> makeUnitGeometry(int unit, int units, kaJoint* left, kaJoint* right, kaIndexArray* indices)
{
    const std::string name = kaFormat("mesh%d", unit % (units / 10 + 1));
    if (unit % 16 == 15) {
        auto instance = make<kaMorphInstance>(name);
        kaSmartPointer<kaGeometryAttr> drawn = makeGeometryAttr(false, unit, indices);
        auto base = make<kaMorphBase>();
        base->setVertexArray(drawn->getVertexArray());
        auto moves = make<kaVec3fList>();
        auto moved = make<kaIntList>();
        for (int v = 0; v < kVertices; ++v) moves->append({0, 0.1f, 0}), moved->append(v);
        moved->append(0);  // an index list closes with one entry that places nothing
        base->appendTarget(moves, moved, nullptr, nullptr);
        instance->setBase(base);
        instance->appendAttr(drawn);
        return instance;
    }
    auto geometry = make<kaGeometry>(name);
    auto palette = make<kaVertexBlendMatrixListAttr>();
    palette->appendMatrix(right->getBlendingMatrix());
    palette->appendMatrix(left->getBlendingMatrix());
    geometry->appendAttr(palette);
    if (unit % 4 == 0) {
        auto material = make<kaMaterialAttr>("paint");
        material->setSpecular({1, 1, 1, 1});
        geometry->appendAttr(material);
    }
    if (unit % 8 == 0) {
        auto image = make<kaImage>(kaFormat("tex%d.png", unit));
        image->setup(4, 4, KA_GFX_TEXTURE_FORMAT_RGBA_8);
        auto texture = make<kaTextureAttr>("tex");
        texture->setImage(image, 0);
        texture->setMipMapMode(KA_GFX_TEXTURE_MODE_MIPMAP);
        geometry->appendAttr(texture);
    }
    geometry->appendAttr(makeGeometryAttr(unit % 2 == 1, unit, indices));
    return geometry;
}

kaSmartPointer<kaInfoList> makeScene(int units, bool deep)
{
    auto root = make<kaGroup>("root");
    auto skeleton = make<kaSkeleton>("skeleton");
    auto animation = make<kaAnimation>("walk");
    auto indices = make<kaIndexArray>();
    indices->setCount(6);
    for (int i = 0; i < 6; ++i) indices->setIndex(i, uint32_t(i % kVertices));
    kaGroup* holder = root;
    for (int unit = 0; unit < units; ++unit) {
        auto place = make<kaTransform>(kaFormat("place%d", unit));
        holder->appendChild(place);
        kaGroup* inside = place;
        if (unit % 10 == 0) {
            auto lights = make<kaLightSet>(kaFormat("lights%d", unit));
            for (const char* lightName : {"key", "fill"}) lights->appendLight(make<kaLightAttr>(lightName));
            place->appendChild(lights);
            inside = lights;
        }
        // A hierarchy of two joints, left and right, that the animation binds by name.
        kaSmartPointer<kaJoint> joints[2];
        for (int side = 0; side < 2; ++side) {
            const std::string name = kaFormat("joint%d_%c", unit, side ? 'R' : 'L');
            joints[side] = make<kaJoint>(name);
            joints[side]->setBlendingMatrix(make<kaMatrixObject>());
            skeleton->appendJoint(name.c_str(), Lode::Math::kaMatrix44f());
            auto binding = make<kaAnimationBinding>(name);
            for (int key = 0; key < 2; ++key) binding->appendTranslationKey(float(key), {1, 0, 0});
            animation->appendBinding(binding);
        }
        inside->appendChild(joints[0]);
        joints[0]->appendChild(joints[1]);
        joints[1]->appendChild(makeUnitGeometry(unit, units, joints[0], joints[1], indices));
        if (deep) holder = inside;
    }
    auto sceneInfo = make<kaSceneInfo>("scene");
    sceneInfo->setSceneGraph(root);
    auto database = make<kaAnimationDatabase>("animation");
    database->appendSkeleton(skeleton);
    database->appendAnimation(animation);
    auto infos = make<kaInfoList>();
    infos->append(sceneInfo);
    infos->append(database);
    return infos;
}

std::string scratchFolder()
{
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
    return (base / ("kaopt-bench-growth-" + std::to_string(getpid()))).string();
}

// What the passes print goes to /dev/null while they run, so that the table stays readable and no
// terminal is timed.
class kaSilenced {
public:
    kaSilenced()
    {
        std::fflush(stdout), std::fflush(stderr);
        const int null = open("/dev/null", O_WRONLY);
        for (int stream : {1, 2}) _saved[stream - 1] = dup(stream), dup2(null, stream);
        close(null);
    }
    ~kaSilenced()
    {
        std::fflush(stdout), std::fflush(stderr);
        for (int stream : {1, 2}) dup2(_saved[stream - 1], stream), close(_saved[stream - 1]);
    }

private:
    int _saved[2];
};

void runPass(benchmark::State& state, const char* className, bool deep)
{
    const int units = int(state.range(0));
    const std::string folder = scratchFolder();
    kaSilenced silenced;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        kaSmartPointer<kaInfoList> infos = makeScene(units, deep);
        auto host = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
        host->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
        host->setFilePath(folder.c_str());
        auto pass = kaSmartPointer<kaOptBase>::adopt(host->createOptBase(className));
        if (auto found = kSettings.find(className); found != kSettings.end())
            for (auto& [field, value] : found->second) {
                std::string error;
                pass->getMetaField(field)->setFromText(pass, value, error);
            }
        kaSmartPointer<kaNode> root = kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph();
        const int section = host->getRegistry()->addSection();
        state.ResumeTiming();
        host->runPass(pass, section, root, infos);
        state.PauseTiming();
        pass = nullptr;
        root = nullptr;
        infos = nullptr;
        host = nullptr;
        // The allocator would otherwise tidy the freed scene's memory at the next pass's first
        // large allocation, charging that pass with the teardown of the scene before it.
        malloc_trim(0);
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
}

// Per pass and shape: the time at n and 4n and the ratio; then the largest ratio.
void printSummary(const kaBenchReporter& reporter)
{
    std::printf("\n%-36s %-5s %12s %12s %7s\n", "pass", "shape", "n (ms)", "4n (ms)", "ratio");
    double largest = 0.0;
    std::string largestRun;
    for (const char* pass : kPasses)
        for (const char* shape : {"wide", "deep"}) {
            const std::string run = std::string(pass) + "/" + shape + "/";
            const double small = reporter.figure(run + std::to_string(kUnits), "cpu_ms");
            const double large = reporter.figure(run + std::to_string(4 * kUnits), "cpu_ms");
            if (small <= 0.0 || large <= 0.0) continue;
            const double ratio = large / small;
            if (large < kConstantMs) {
                std::printf("%-36s %-5s %12.4f %12.4f %7s  constant\n", pass, shape, small, large, "-");
                continue;
            }
            std::printf("%-36s %-5s %12.3f %12.3f %6.2fx%s\n", pass, shape, small, large, ratio, ratio > 5.0 ? "  above 5x" : "");
            if (ratio > largest) largest = ratio, largestRun = run.substr(0, run.size() - 1);
        }
    if (!largestRun.empty()) std::printf("largest ratio at 4x the size: %.2fx (%s)\n", largest, largestRun.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Lode::kaOptExtensionLibrary_arkRegister();
    for (const char* pass : kPasses)
        for (bool deep : {false, true})
            benchmark::RegisterBenchmark((std::string(pass) + (deep ? "/deep" : "/wide")).c_str(),
                                         [pass, deep](benchmark::State& state) { runPass(state, pass, deep); })
                ->Arg(kUnits)
                ->Arg(4 * kUnits)
                ->Iterations(kIterations)
                ->Unit(benchmark::kMillisecond);
    kaBenchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
