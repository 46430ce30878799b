// The library as a whole: every registered pass run on the example scene and on every sample
// model gives back every object and interned string it took, so that a batch over thousands of
// assets does not grow.
#include "extension/kaOptExtensionLibrary.h"
#include "host/core/kaRegistry.h"
#include "host/io/kaGltf.h"
#include "host/opt/kaOptInterface.h"
#include "host/sg/kaGroup.h"
#include "host/sg/kaInfo.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

using namespace Lode::Core;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

struct kaLiveCounts {
    long objects = kaObject::getLiveObjectCount();
    size_t strings = kaStringRef::getInternedCount();
};

// Loads the scene, runs one pass of the class on it with a scratch output folder, and releases
// everything. False when the scene cannot be read.
bool runOnce(const char* className, const std::filesystem::path& model, const kaTest::kaScratchDir& scratch)
{
    kaSmartPointer<kaInfoList> infos;
    std::string error;
    if (model.empty())
        infos = Lode::Tools::kaMakeExampleScene();
    else if (!Lode::Io::kaImportGltf(model.string(), infos, error))
        return false;
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    optInterface->setFilePath(scratch.path().c_str());
    const int section = optInterface->getRegistry()->addSection();
    auto pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(className));
    auto* scene = kaSceneInfo::dynamicCast(infos->getShared(0));
    kaSmartPointer<kaNode> root = scene ? scene->getSceneGraph() : nullptr;
    optInterface->runPass(pass, section, root, infos);
    return true;
}

} // namespace

TEST(Library, EveryPassReleasesWhatItTakes)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    std::vector<std::filesystem::path> scenes = kaTest::sampleModels();
    if (scenes.empty()) std::printf("no sample models under %s: the example scene only\n", KA_ASSETS_DIR);
    scenes.insert(scenes.begin(), std::filesystem::path());  // the example scene
    std::vector<std::string> passes;
    for (kaMetaObject* meta : std::vector<kaMetaObject*>(kaMetaObject::getRegisteredClasses()))
        if (*meta->getSummary()) passes.push_back(meta->getName());
    ASSERT_FALSE(passes.empty());

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<std::string> leaks;
    for (const std::string& pass : passes)
        for (const std::filesystem::path& model : scenes) {
            kaTest::kaScratchDir scratch;
            // The first run may build what lives as long as the process (meta enums, class names).
            if (!runOnce(pass.c_str(), model, scratch)) continue;
            const kaLiveCounts before;
            runOnce(pass.c_str(), model, scratch);
            const kaLiveCounts after;
            if (after.objects != before.objects || after.strings != before.strings)
                leaks.push_back(pass + " on " + (model.empty() ? "the example" : model.filename().string()) + ": " +
                                std::to_string(after.objects - before.objects) + " objects, " +
                                std::to_string(long(after.strings) - long(before.strings)) + " strings");
        }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(leaks.empty()) << testing::PrintToString(leaks);
}

namespace {

// A golden's section, the text between "==== NAME" and the next "====" line; empty when absent.
std::string goldenSection(const std::string& golden, const std::string& name)
{
    const std::string header = "==== " + name + "\n";
    const size_t begin = golden.rfind(header, 0) == 0 ? 0 : golden.find("\n" + header);
    if (begin == std::string::npos) return {};
    const size_t text = golden.find(header, begin) + header.size();
    const size_t next = golden.find("\n====", text - 1);
    return golden.substr(text, next == std::string::npos ? std::string::npos : next + 1 - text);
}

// Scripts that run to success on any scene, by name: the example scripts (the whole-library
// script has a test of its own) and the goldens' scripts with status 0, nothing prepared first
// (level files, an image folder) and no other file they need. Every pass's own case thereby
// runs on every sample model too.
struct kaNamedScript {
    std::string name, text;
    bool operator<(const kaNamedScript& other) const { return name < other.name; }
};
// Test listings name the script, not its whole text.
void PrintTo(const kaNamedScript& script, std::ostream* out) { *out << script.name; }

std::vector<kaNamedScript> succeedingScripts()
{
    std::vector<kaNamedScript> scripts;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KA_SOURCE_DIR) + "/examples"))
        if (entry.path().extension() == ".ini" && entry.path().stem() != "full")
            scripts.push_back({entry.path().stem().string(), kaTest::readText(entry.path())});
    for (const auto& entry : std::filesystem::directory_iterator(std::string(KA_SOURCE_DIR) + "/tests/golden")) {
        const std::string golden = kaTest::readText(entry.path());
        if (goldenSection(golden, "status") == "0\n" && golden.find("\n==== prepare\n") == std::string::npos &&
            golden.find("\n==== file ") == std::string::npos)
            scripts.push_back({entry.path().stem().string(), goldenSection(golden, "script")});
    }
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

// The example scene and every sample model, as kaopt's input arguments.
std::vector<std::string> everyScene()
{
    std::vector<std::string> inputs{"--example"};
    for (const auto& model : kaTest::sampleModels()) inputs.push_back(model.string());
    return inputs;
}

// The validator's error codes for a source model, found once per model.
const std::set<std::string>& sourceErrors(const std::string& input)
{
    static std::map<std::string, std::set<std::string>> known;
    auto found = known.find(input);
    if (found == known.end())
        found = known.emplace(input, input == "--example" ? std::set<std::string>()
                                                          : kaTest::validate(input).errorCodes)
                    .first;
    return found->second;
}

// Runs the script on the input from the repository's folder (scripts name their list files
// relative to it) and saves `output`, whose folder the file-writing passes write into too.
void expectRuns(const std::string& script, const std::string& input, const std::filesystem::path& output)
{
    const std::filesystem::path err = output.parent_path() / "err";
    const std::string command = "cd '" + std::string(KA_SOURCE_DIR) + "' && '" + KA_BINARY_DIR +
                                "/kaopt' run --quiet --script '" + script + "' -o '" + output.string() + "' " + (input == "--example" ? input : "'" + input + "'") +
                                " >/dev/null 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << script << " on " << input << ": " << kaTest::readText(err);
}

// The same, saving a .glb: exit status 0, and no validator error that the source does not
// have already.
void expectRunsAndSavesValidGltf(const std::string& script, const std::string& input, const std::filesystem::path& output)
{
    expectRuns(script, input, output);
    if (testing::Test::HasFailure() || !kaTest::validatorAvailable()) return;
    const kaTest::kaValidation exported = kaTest::validate(output);
    ASSERT_TRUE(exported.ran) << exported.text;
    for (const std::string& code : exported.errorCodes)
        EXPECT_TRUE(sourceErrors(input).count(code)) << script << " on " << input << ": " << exported.text;
}

class LibraryExample : public testing::TestWithParam<kaNamedScript> {};

} // namespace

TEST_P(LibraryExample, RunsOnEverySceneAndSavesValidGltf)
{
    if (!kaTest::validatorAvailable()) std::printf("the Khronos glTF validator is not installed: exports are not validated\n");
    const std::string& script = GetParam().text;
    ASSERT_NE(script, "");
    for (const std::string& input : everyScene()) {
        kaTest::kaScratchDir scratch;
        kaTest::writeText(scratch / "script.ini", script);
        expectRunsAndSavesValidGltf((scratch / "script.ini").string(), input, scratch / "out.glb");
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, LibraryExample, testing::ValuesIn(succeedingScripts()),
                         [](const testing::TestParamInfo<kaNamedScript>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '.', '_');
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Every pass together on every scene: the whole-library script run twice into one folder (the
// second run reads the first run's geometry files as its level-of-detail levels), and the same
// chain without the passes that write or read files.
TEST(Library, EveryPassTogetherOnEveryScene)
{
    const std::set<std::string> filePasses{"kaExportGeometry", "kaImageExternal", "kaCreateLod"};
    std::istringstream full(kaTest::readText(std::string(KA_SOURCE_DIR) + "/examples/full.ini"));
    std::string inMemory, line;
    std::set<std::string> sections;
    bool keep = true;
    while (std::getline(full, line)) {
        if (line.size() > 2 && line.front() == '[') {
            const std::string pass = line.substr(1, line.find(']') - 1);
            sections.insert(pass);
            keep = !filePasses.count(pass);
        }
        if (keep) inMemory += line + "\n";
    }
    for (const std::string& input : everyScene()) {
        kaTest::kaScratchDir scratch;
        std::filesystem::create_directory(scratch / "full");
        for (int run = 0; run < 2; ++run)
            expectRunsAndSavesValidGltf("examples/full.ini", input, scratch / "full" / "out.glb");
        if (input == "--example") {
            EXPECT_TRUE(std::filesystem::exists(scratch / "full" / "parts" / "face.kab"));
        }
        kaTest::writeText(scratch / "in-memory.ini", inMemory);
        expectRunsAndSavesValidGltf((scratch / "in-memory.ini").string(), input, scratch / "out.glb");
    }
}

// A chain of 100,000 nodes read from glTF, through every pass, and written back as glTF: no
// reader, pass, writer or release nests a call per level. (The validator itself cannot read so
// deep a file: the saved chain is read back instead.)
TEST(Library, SceneOfHundredThousandLevelsRunsThroughEveryPass)
{
    constexpr int levels = 100000;
    kaTest::kaScratchDir scratch;
    std::string nodes;
    for (int i = 0; i < levels; ++i) nodes += "{\"name\":\"level\",\"children\":[" + std::to_string(i + 1) + "]},";
    kaTest::writeText(scratch / "deep.gltf", "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[" +
                                                 nodes + "{\"name\":\"leaf\"}]}");
    std::filesystem::create_directory(scratch / "full");
    expectRuns("examples/full.ini", (scratch / "deep.gltf").string(), scratch / "full" / "out.glb");

    kaSmartPointer<kaInfoList> infos;
    std::string error;
    ASSERT_TRUE(Lode::Io::kaImportGltf((scratch / "full" / "out.glb").string(), infos, error)) << error;
    kaNode* at = kaSceneInfo::dynamicCast(infos->getShared(0))->getSceneGraph();
    int depth = 0;
    for (kaGroup* group; (group = kaGroup::dynamicCast(at)) && group->getChildCount() == 1; ++depth) at = group->getChild(0);
    EXPECT_EQ(depth, levels + 1) << "the scene root, then every level";
}

// A pass never replaces a file the run read: images externalised beside a .gltf whose own images
// lie in the same folder take free names instead of overwriting the input's.
TEST(Library, PassesDoNotReplaceWhatTheRunRead)
{
    const std::filesystem::path model = kaTest::kaSamples / "BoxTextured" / "BoxTextured.glb";
    if (!std::filesystem::exists(model)) GTEST_SKIP() << model << " is absent";
    kaTest::kaScratchDir scratch;
    ASSERT_EQ(kaTest::runKaopt("convert '" + model.string() + "' '" + (scratch / "box.gltf").string() + "'").status, 0);
    const std::string image = kaTest::readText(scratch / "box_image0.png");
    kaTest::writeText(scratch / "externalise.ini", "[kaImageExternal]\n");
    const kaTest::kaRunResult run = kaTest::runKaopt("run --script '" + (scratch / "externalise.ini").string() + "' -o '" +
                                                     (scratch / "out.kab").string() + "' '" + (scratch / "box.gltf").string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(kaTest::readText(scratch / "box_image0.png"), image);
    EXPECT_NE(run.out.find("saving image file <box_image0_1.png>"), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::exists(scratch / "box_image0_1.png"));
}
