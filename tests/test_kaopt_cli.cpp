// kaopt end to end: the real binary loading the real plug-in, and runs in-process where a test
// pass has to take part.
#include "host/core/kaFileCommit.h"
#include "host/gfx/kaImage.h"
#include "host/io/kaExternalImageEntry.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaOptInterface.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaCommands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <regex>

using namespace kaTest;
using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Opt;

namespace {

std::string example() { return std::string(KA_SOURCE_DIR) + "/examples/demo.ini"; }
std::string reduceWeights() { return std::string(KA_SOURCE_DIR) + "/examples/reduce-weights.ini"; }

// Object addresses differ from run to run.
std::string withoutAddresses(const std::string& text)
{
    return std::regex_replace(text, std::regex("0x[0-9a-f]{8}"), "0x<addr>");
}

// A file with the built-in example scene.
std::string makeExample(const kaScratchDir& scratch, const std::string& name = "ex.kab")
{
    const std::string path = (scratch / name).string();
    kaRunResult made = runKaopt("make-example " + path);
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out + made.err, "");
    return path;
}

} // namespace

// The library's 21 classes in registration order (reverse alphabetical). kaopt list must follow
// it; each listed pass must have a golden run (an example script naming it, with the expected
// output in tests/golden) and a row in the README's pass table carrying its summary.
const char* const kRegistrationOrder[] = {
    "kaUseMipmap", "kaUseDisplayList", "kaTextureStatistics", "kaScalePerVertexColors", "kaRemoveVertexComponent",
    "kaRemoveParentList", "kaRemoveNames", "kaReflectAnimations", "kaReduceBlendWeights", "kaNameUnique",
    "kaInstanceGeometriesByName", "kaImageExternal", "kaGeometryStatistics", "kaExportGeometry", "kaEmpty",
    "kaCreateLod", "kaConvertMorphInstance", "kaConvertGeometryAttr", "kaCombineVertexBlendMatrixListAttrs",
    "kaCollectLight", "kaClearMaterialSpecular"};

TEST(KaoptCli, ListFollowsTheRegistrationTable)
{
    kaRunResult list = runKaopt("list");
    ASSERT_EQ(list.status, 0) << list.err;
    const std::string readme = readText(std::string(KA_SOURCE_DIR) + "/README.md");
    std::string goldenScripts;
    for (const auto& expected : std::filesystem::directory_iterator(std::string(KA_SOURCE_DIR) + "/tests/golden"))
        if (expected.path().extension() == ".out")
            goldenScripts += readText(std::string(KA_SOURCE_DIR) + "/examples/" + expected.path().stem().string() + ".ini");

    std::istringstream lines(list.out);
    std::string line;
    size_t previous = 0;
    int listed = 0;
    while (std::getline(lines, line)) {
        const std::string name = line.substr(0, line.find(' '));
        const std::string summary = line.find(' ') == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', name.size()));
        const auto place = std::find(std::begin(kRegistrationOrder), std::end(kRegistrationOrder), name);
        ASSERT_NE(place, std::end(kRegistrationOrder)) << name << " is not a class of the library";
        const size_t position = static_cast<size_t>(place - std::begin(kRegistrationOrder));
        EXPECT_TRUE(listed == 0 || position > previous) << name << " is out of registration order";
        previous = position;
        ++listed;
        EXPECT_FALSE(summary.empty()) << name << " has no summary";
        EXPECT_NE(readme.find("| `" + name + "` | " + summary + " |"), std::string::npos)
            << "README's pass table lacks: | `" << name << "` | " << summary << " |";
        EXPECT_NE(goldenScripts.find("[" + name + "]"), std::string::npos) << name << " has no golden run";
    }
    EXPECT_GE(listed, 3);
    // Only passes are listed, not the framework's base kinds or host classes.
    EXPECT_EQ(list.out.find("kaOptBase"), std::string::npos);
    EXPECT_EQ(list.out.find("kaGroup"), std::string::npos);
}

TEST(KaoptCli, Describe)
{
    kaRunResult describe = runKaopt("describe kaEmpty");
    EXPECT_EQ(describe.status, 0) << describe.err;
    EXPECT_EQ(describe.out, "kaEmpty (base kaOptBase)\n  does nothing; loads and saves a scene unchanged\n  no fields\n");

    kaRunResult fields = runKaopt("describe kaReduceBlendWeights");
    EXPECT_NE(fields.out.find("_blendWeightCount      unsigned"), std::string::npos) << fields.out;
    EXPECT_NE(fields.out.find("the most blend weights a vertex keeps"), std::string::npos) << fields.out;

    kaRunResult unknown = runKaopt("describe kaNoSuchPass");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("kaNoSuchPass"), std::string::npos);
}

TEST(KaoptCli, RunsTheDemoScriptOnTheExample)
{
    kaRunResult run = runKaopt("run --example --script " + example());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "") << "kaEmpty prints nothing";
    // Not a terminal: no progress lines either.
    EXPECT_EQ(run.err, "");
}

TEST(KaoptCli, BadScriptsExitTwoWithFileAndLineAndRunNothing)
{
    kaScratchDir scratch;
    struct Case {
        const char* script;
        const char* expected;
    };
    const Case cases[] = {
        {"[kaEmpty]\n\n[kaNoSuchPass]\n", ":3: unknown pass class 'kaNoSuchPass'"},
        {"[kaEmpty]\n_typo = 1\n", ":2: kaEmpty has no field '_typo'"},
        {"[kaOptBase]\n", ":1: unknown pass class 'kaOptBase'"},
        {"[kaGroup]\n", ":1: unknown pass class 'kaGroup'"},
        {"[kaEmpty]\nno equals sign\n", ":2: "},
    };
    for (const Case& c : cases) {
        writeText(scratch / "bad.ini", c.script);
        kaRunResult run = runKaopt("run --example --script " + (scratch / "bad.ini").string());
        EXPECT_EQ(run.status, 2) << c.script;
        EXPECT_NE(run.err.find((scratch / "bad.ini").string() + c.expected), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
        EXPECT_EQ(run.out, "");
    }
    // Keys that are not fields and do not start with '_' go to the pass's registry section.
    writeText(scratch / "registry.ini", "[kaEmpty]\nminFilter = Linear\n");
    EXPECT_EQ(runKaopt("run --example --script " + (scratch / "registry.ini").string()).status, 0);

    kaRunResult missing = runKaopt("run --example --script " + (scratch / "missing.ini").string());
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("missing.ini"), std::string::npos) << missing.err;
}

TEST(KaoptCli, PluginFailuresCarryTheLoadersReason)
{
    kaRunResult absent = runKaopt("list --plugin /nonexistent/libKAOptExtension.so");
    EXPECT_EQ(absent.status, 2);
    EXPECT_NE(absent.err.find("/nonexistent/libKAOptExtension.so"), std::string::npos) << absent.err;
    EXPECT_NE(absent.err.find("No such file"), std::string::npos) << absent.err;

    // A shared library that is not a pass library.
    kaRunResult wrong = runKaopt(std::string("list --plugin ") + KA_BINARY_DIR + "/libkahost.so");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("createLibraryObject"), std::string::npos) << wrong.err;
}

TEST(KaoptCli, UsageVersionAndUsageErrors)
{
    for (const char* arguments : {"", "help", "--help"}) {
        kaRunResult usage = runKaopt(arguments);
        EXPECT_EQ(usage.status, 0) << arguments;
        for (const char* command : {"run", "list", "describe", "info", "convert", "make-example"})
            EXPECT_NE(usage.out.find("  " + std::string(command)), std::string::npos) << arguments << ": " << command;
    }
    EXPECT_NE(runKaopt("help run").out.find("--out-dir"), std::string::npos);
    EXPECT_EQ(runKaopt("--version").out, "kaopt " KA_VERSION "\n");

    const std::string script = " --script " + example();
    for (const std::string& bad : {std::string("frobnicate"), std::string("help frobnicate"), std::string("run --example"), "run" + script,
                                   "run" + script + " a.kab b.kab", "run" + script + " --format glb a.kab",
                                   "run" + script + " -j 2 a.kab", "run" + script + " -o x.kab --out-dir d a.kab"}) {
        kaRunResult run = runKaopt(bad);
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(run.out, "") << bad;
    }
}

// Doubtful scripts: warnings that name the line and the nearest name, errors under --strict.
TEST(KaoptCli, ScriptWarningsSuggestTheNearestName)
{
    kaScratchDir scratch;
    struct Case {
        const char* script;
        const char* options;
        int status;
        const char* expected;  // in standard error, after "kaopt: SCRIPT"
    };
    const Case cases[] = {
        {"[kaReduceBlendWeights]\nblendWeightCount = 2\n", "", 0,
         ":2: WARNING: 'blendWeightCount' is neither a field of kaReduceBlendWeights nor a key it reads; did you "
         "mean _blendWeightCount?\n"},
        {"[kaReduceBlendWeights]\nblendWeightCount = 2\n", "--strict", 2,
         ":2: 'blendWeightCount' is neither a field of kaReduceBlendWeights nor a key it reads; did you mean "
         "_blendWeightCount?\n"},
        {"[kaEmpty]\nsomethingElse = 1\n", "", 0,
         ":2: WARNING: 'somethingElse' is neither a field of kaEmpty nor a key it reads\n"},
        {"[kaReduceBlendWeight]\n", "", 2, ":1: unknown pass class 'kaReduceBlendWeight'; did you mean kaReduceBlendWeights?\n"},
        {"[kaReduceBlendWeights]\n_blendWeightCont = 2\n", "", 2,
         ":2: kaReduceBlendWeights has no field '_blendWeightCont'; did you mean _blendWeightCount?\n"},
        {"[kaReduceBlendWeights]\n_weightSortMethod = sort_by_weigth\n", "", 2,
         ":2: kaReduceBlendWeights._weightSortMethod: 'sort_by_weigth' is not a value of WEIGHT_SORT_METHOD (NO_SORT, "
         "SORT_BY_WEIGHT, SORT_BY_DISTANCE_TO_BONE); did you mean SORT_BY_WEIGHT?\n"},
        {"# nothing to do\n", "", 0, ": WARNING: the script names no pass to run\n"},
        {"# nothing to do\n", "--strict", 2, ": the script names no pass to run\n"},
        {"\xEF\xBB\xBF[kaEmpty]\n", "--strict", 0, ""},
    };
    const std::string ex = makeExample(scratch);
    const std::string out = (scratch / "out.kab").string();
    for (const Case& c : cases) {
        writeText(scratch / "s.ini", c.script);
        const std::string script = (scratch / "s.ini").string();
        kaRunResult run = runKaopt("run " + std::string(c.options) + " --script " + script + " -o " + out + " " + ex);
        EXPECT_EQ(run.status, c.status) << c.script << c.options << "\n" << run.err;
        EXPECT_EQ(run.err, *c.expected ? "kaopt: " + script + c.expected : "") << c.script << c.options;
        EXPECT_EQ(std::filesystem::exists(out), c.status == 0) << c.script << c.options;
        std::filesystem::remove(out);
    }
}

TEST(KaoptFiles, AClosedStandardOutputStillSavesTheScene)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    const std::string out = (scratch / "out.kab").string();
    // Standard output is a pipe that nobody reads: every report line meets a broken pipe.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        freopen((scratch / "err").c_str(), "w", stderr);
        execl((std::string(KA_BINARY_DIR) + "/kaopt").c_str(), "kaopt", "run", "--script", reduceWeights().c_str(),
              "-o", out.c_str(), ex.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    int raw = 0;
    waitpid(child, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
    EXPECT_EQ(WEXITSTATUS(raw), 2);
    EXPECT_EQ(readText(scratch / "err").rfind("kaopt: cannot write to standard output", 0), 0u)
        << readText(scratch / "err");
    kaRunResult info = runKaopt("info " + out);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("B=2 I=2"), std::string::npos) << "the reduced scene is saved";
}

// Three inputs, the second broken, run one after the other and in processes of their own.
TEST(KaoptFiles, ABatchSavesEveryGoodInputAndReportsTheWorstStatus)
{
    kaScratchDir scratch;
    const std::string first = makeExample(scratch, "first.kab");
    const std::string third = makeExample(scratch, "third.kab");
    const std::string broken = (scratch / "broken.kab").string();
    writeText(broken, readText(first).substr(0, 100));
    std::string outputs[2];
    for (int jobs : {1, 2}) {
        const auto folder = scratch / ("out" + std::to_string(jobs));
        std::filesystem::create_directory(folder);
        writeText(folder / "broken.kab", "an earlier output");
        kaRunResult run = runKaopt("run --script " + reduceWeights() + " --out-dir " + folder.string() + " -j " +
                                   std::to_string(jobs) + " " + first + " " + broken + " " + third);
        EXPECT_EQ(run.status, 2) << run.err;
        const std::string lines[] = {"kaopt: " + first + " -> " + (folder / "first.kab").string() + ": ",
                                     "kaopt: " + broken + ": not saved (exit status 2)",
                                     "kaopt: " + third + " -> " + (folder / "third.kab").string() + ": ",
                                     "kaopt: 3 inputs: 2 saved ("};
        size_t place = 0;
        for (const std::string& line : lines) {
            place = run.err.find(line, place);
            EXPECT_NE(place, std::string::npos) << "in order: " << line << "\n" << run.err;
        }
        const std::string bytes = std::to_string(std::filesystem::file_size(third)) + " -> " +
                                  std::to_string(std::filesystem::file_size(folder / "third.kab")) + " bytes, ";
        EXPECT_TRUE(std::regex_search(run.err, std::regex("[1-9][0-9]* vertices, [1-9][0-9]* images, " + bytes)))
            << run.err;
        EXPECT_EQ(readText(folder / "broken.kab"), "an earlier output");
        kaRunResult info = runKaopt("info " + (folder / "third.kab").string());
        EXPECT_NE(info.out.find("B=2 I=2"), std::string::npos) << info.err;
        outputs[jobs - 1] = withoutAddresses(run.out);
    }
    EXPECT_EQ(outputs[0], outputs[1]) << "the reports come in the inputs' order whatever the number of jobs";
    EXPECT_NE(outputs[0].find("Vertex Format"), std::string::npos);

    kaRunResult clash = runKaopt("run --script " + reduceWeights() + " --out-dir " + (scratch / "o").string() + " " +
                                 first + " " + (scratch / "out1" / "first.kab").string());
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("would both be saved as"), std::string::npos) << clash.err;
}

TEST(KaoptFiles, MakeExampleThenInfoAndConvertGiveTheSameFile)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    kaRunResult info = runKaopt("info " + ex);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.rfind(ex + ": 2 infos, ", 0), 0u) << info.out.substr(0, 200);
    // Every kind of object the example is made of shows in the dump.
    const char* kinds[] = {
        "kaTransform \"character\"",     "kaJoint \"hip\"",
        "kaGeometry \"body\"",          "format=\"P N B=8 I=8 T=1\"",
        "format=\"P N C B=4 I=4 T=1\"",  "kaVertexBlendMatrixListAttr \"arm_palette\"  matrices=4",
        "kaMorphInstance \"face\"",     "kaMorphBase  targets=2",
        "kaGeometryAttr2 \"barrel_mesh\"", "mipmap=\"Mipmap\"",
        "mipmap=\"None\"",              "format=\"Palette8\"",
        "kaMaterialAttr \"metal\"",     "_specular: 0.9, 0.9, 0.9, 1",
        "kaLightSet \"site_lights\"  children=2 lights=2", "kaLightSet \"lantern_lights\"",
        "_animated: true",             "kaAnimationDatabase \"character_animation\"  skeletons=1 animations=2",
        "kaSkeleton \"character_skeleton\"  joints=8", "kaAnimation \"walk\"  bindings=5",
        "(shared, see #",
    };
    for (const char* kind : kinds) EXPECT_NE(info.out.find(kind), std::string::npos) << kind;
    EXPECT_EQ(info.err, "");

    kaRunResult json = runKaopt("info --json " + ex);
    ASSERT_EQ(json.status, 0) << json.err;
    const auto document = nlohmann::json::parse(json.out);
    EXPECT_EQ(document["scene"], ex);
    EXPECT_EQ(document["infos"].size(), 2u);
    EXPECT_EQ(document["infos"][1]["class"], "kaAnimationDatabase");

    const std::string ex2 = (scratch / "ex2.kab").string();
    kaRunResult convert = runKaopt("convert " + ex + " " + ex2);
    ASSERT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.out + convert.err, "");
    EXPECT_EQ(readText(ex), readText(ex2)) << "a converted .kab file has the same bytes";
}

TEST(KaoptFiles, DamagedOrMissingInputExitsTwoNamingTheFileAndWritesNothing)
{
    kaScratchDir scratch;
    const std::string bytes = readText(makeExample(scratch));
    const std::string truncated = (scratch / "truncated.kab").string();
    writeText(truncated, bytes.substr(0, bytes.size() * 2 / 3));
    std::string flippedBytes = bytes;
    flippedBytes[flippedBytes.size() / 2] ^= 0x20;
    const std::string flipped = (scratch / "flipped.kab").string();
    writeText(flipped, flippedBytes);
    const std::string out = (scratch / "out.kab").string();

    for (const std::string& bad : {truncated, flipped}) {
        const std::string commands[] = {"info " + bad, "info --json " + bad, "convert " + bad + " " + out,
                                        "run --script " + reduceWeights() + " -o " + out + " " + bad};
        for (const std::string& command : commands) {
            kaRunResult run = runKaopt(command);
            EXPECT_EQ(run.status, 2) << command;
            EXPECT_EQ(run.err.rfind("kaopt: " + bad + ": byte ", 0), 0u) << command << ": " << run.err;
            EXPECT_EQ(run.out, "") << command << ": no pass runs on a bad input";
            EXPECT_FALSE(std::filesystem::exists(out)) << command;
        }
    }
    kaRunResult missing = runKaopt("info " + (scratch / "missing.kab").string());
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("missing.kab"), std::string::npos) << missing.err;
    kaRunResult unknown = runKaopt("convert " + truncated + " " + (scratch / "out.obj").string());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("out.obj"), std::string::npos) << unknown.err;
}

TEST(KaoptFiles, RunSavesTheResultAndARefusedPassOrBadOutputWritesNothing)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    std::filesystem::create_directory(scratch / "out");
    const std::string reduced = (scratch / "out" / "reduced.kab").string();
    kaRunResult run = runKaopt("run --quiet --script " + reduceWeights() + " -o " + reduced + " " + ex);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("blend weight count reduced from 8 to 2"), std::string::npos) << run.out;
    kaRunResult info = runKaopt("info " + reduced);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("format=\"P N B=2 I=2 T=1\""), std::string::npos);
    EXPECT_EQ(info.out.find("B=8"), std::string::npos) << "every skinned array is reduced in the saved file";
    EXPECT_EQ(std::filesystem::directory_iterator(scratch / "out")->path().filename(), "reduced.kab")
        << "no temporary file is left beside the output";

    // configure refuses distance sorting without a skeleton name.
    writeText(scratch / "refused.ini", "[kaGeometryStatistics]\n[kaReduceBlendWeights]\n"
                                       "_weightSortMethod = SORT_BY_DISTANCE_TO_BONE\n");
    const std::string refusedScript = (scratch / "refused.ini").string();
    const std::string fresh = (scratch / "fresh.kab").string();
    kaRunResult refused = runKaopt("run --script " + refusedScript + " -o " + fresh + " " + ex);
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("refused.ini:2: kaReduceBlendWeights refused its settings"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const std::string before = readText(reduced);
    EXPECT_EQ(runKaopt("run --script " + refusedScript + " -o " + reduced + " " + ex).status, 1);
    EXPECT_EQ(readText(reduced), before) << "an existing output is kept as it was";
    // With --keep-going the refused pass is left out and the rest is saved.
    EXPECT_EQ(runKaopt("run --keep-going --script " + refusedScript + " -o " + fresh + " " + ex).status, 0);
    EXPECT_EQ(readText(fresh), readText(ex));

    const std::string nowhere = (scratch / "no" / "such" / "folder" / "out.kab").string();
    kaRunResult unwritable = runKaopt("run --script " + reduceWeights() + " -o " + nowhere + " " + ex);
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_NE(unwritable.err.find(nowhere), std::string::npos) << unwritable.err;
    EXPECT_EQ(unwritable.out, "") << "refused before any pass runs";
    const std::string wrongTypePath = (scratch / "out.txt").string();
    kaRunResult wrongType = runKaopt("run --script " + reduceWeights() + " -o " + wrongTypePath + " " + ex);
    EXPECT_EQ(wrongType.status, 2);
    EXPECT_NE(wrongType.err.find(wrongTypePath), std::string::npos) << wrongType.err;
    EXPECT_EQ(wrongType.out, "") << "refused before any pass runs";
}

TEST(KaoptFiles, AFileGivesTheSameReportsAsTheBuiltInExample)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    kaRunResult fromFile = runKaopt("run --script " + reduceWeights() + " " + ex);
    kaRunResult builtIn = runKaopt("run --example --script " + reduceWeights());
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    ASSERT_EQ(builtIn.status, 0) << builtIn.err;
    EXPECT_NE(builtIn.out.find("Vertex Format"), std::string::npos);
    EXPECT_EQ(withoutAddresses(fromFile.out), withoutAddresses(builtIn.out));
}

namespace kaoptCliTest {

// Keeps every image in a PNG file of its own beside the output and registers an external
// entry for it, as the image externalisation pass does.
class kaTestKeepImagesOutside : public kaOptVisitObject {
    KA_DECLARE_CLASS(kaTestKeepImagesOutside, kaOptVisitObject)
public:
    kaMetaObject* getVisitedObjectMeta() override { return kaImage::getClassMetaSafe(); }
    bool visitor(kaObject* object) override
    {
        auto* image = kaImage::dynamicCast(object);
        const std::string fileName = std::filesystem::path(image->getName()).filename().string();
        std::string error;
        if (!image->writeToFile((std::string(getInterface()->getFilePath()) + "/" + fileName).c_str(), error))
            return false;
        auto entry = kaSmartPointer<kaExternalImageEntry>::adopt(kaExternalImageEntry::_instantiate());
        entry->setDirectoryName(fileName.c_str());
        entry->setEntryName(fileName.c_str());
        entry->bindObject(image);
        getInterface()->addExternalReference(entry);
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestKeepImagesOutside)

// Reads one key of its registry section, as the passes that take registry keys do.
class kaTestReadsMinFilter : public kaOptBase {
    KA_DECLARE_CLASS(kaTestReadsMinFilter, kaOptBase)
public:
    bool configure(int section) override
    {
        kaSmartPointer<kaStringObj> value;
        getRegistry()->getValue(section, "minFilter", value, "Linear", false);
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestReadsMinFilter)

// Writes a file beside the output and is interrupted before anything is committed.
class kaTestInterruptedWrite : public kaOptBase {
    KA_DECLARE_CLASS(kaTestInterruptedWrite, kaOptBase)
public:
    bool apply(kaSmartPointer<Lode::Sg::kaNode>&) override
    {
        kaFileCommit files;
        std::string error;
        files.write(std::string(getInterface()->getFilePath()) + "/side.bin", "x", 1, error);
        std::raise(SIGINT);
        return true;
    }
};
KA_IMPLEMENT_CLASS(kaTestInterruptedWrite)

} // namespace kaoptCliTest

TEST(KaoptRun, AnInterruptedRunLeavesNoTemporaryFile)
{
    kaoptCliTest::kaTestInterruptedWrite::arkRegister();
    kaScratchDir scratch;
    std::filesystem::create_directory(scratch / "out");
    writeText(scratch / "interrupted.ini", "[kaTestInterruptedWrite]\n");
    // kaopt's handlers end the process: the run goes on in a child of this one.
    const pid_t child = fork();
    if (child == 0) {
        Lode::Tools::kaInstallSignalHandlers();
        Lode::Tools::kaRunOptions options;
        options.scriptPath = (scratch / "interrupted.ini").string();
        options.useExample = true;
        options.outputPath = (scratch / "out" / "scene.kab").string();
        Lode::Tools::kaRunCommand(options);
        _exit(0);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 128 + SIGINT) << raw;
    EXPECT_TRUE(std::filesystem::is_empty(scratch / "out"));
}

TEST(KaoptRun, KeysThatConfigureReadsAreNotWarnedAboutAndGuideTheSuggestion)
{
    kaoptCliTest::kaTestReadsMinFilter::arkRegister();
    kaScratchDir scratch;
    writeText(scratch / "keys.ini", "[kaTestReadsMinFilter]\nminFilter = Nearest\nminFiltre = Nearest\n");
    Lode::Tools::kaRunOptions options;
    options.scriptPath = (scratch / "keys.ini").string();
    options.useExample = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(Lode::Tools::kaRunCommand(options), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kaopt: " + options.scriptPath +
                  ":3: WARNING: 'minFiltre' is neither a field of kaTestReadsMinFilter nor a key it reads; did you "
                  "mean minFilter?\n");
}

TEST(KaoptRun, EntriesThatPassesRegisterLandInTheSavedFile)
{
    kaoptCliTest::kaTestKeepImagesOutside::arkRegister();
    kaScratchDir scratch;
    std::filesystem::create_directory(scratch / "out");
    writeText(scratch / "keep.ini", "[kaTestKeepImagesOutside]\n");
    Lode::Tools::kaRunOptions options;
    options.scriptPath = (scratch / "keep.ini").string();
    options.useExample = true;
    options.quiet = true;
    options.outputPath = (scratch / "out" / "scene.kab").string();
    ASSERT_EQ(Lode::Tools::kaRunCommand(options), 0);

    // The interface's output path is the output's folder: the images went there.
    const char* images[] = {"skin.png", "wood.png", "metal.png", "sign.png"};
    for (const char* image : images) EXPECT_TRUE(std::filesystem::exists(scratch / "out" / image)) << image;
    kaSmartPointer<Lode::Sg::kaInfoList> infos;
    kaSmartPointer<kaFileInfo> file;
    std::string error;
    ASSERT_TRUE(Lode::Io::kaReadScene(options.outputPath, infos, file, error)) << error;
    std::set<std::string> entries;
    for (int i = 0; i < file->getDirectory()->getCount(); ++i)
        if (auto* entry = kaExternalImageEntry::dynamicCast(file->getDirectory()->getShared(i))) {
            entries.insert(entry->getDirectoryName());
            EXPECT_NE(kaImage::dynamicCast(entry->getBoundObject()), nullptr);
        }
    EXPECT_EQ(entries, (std::set<std::string>{"skin.png", "wood.png", "metal.png", "sign.png"}));

    // A converted copy elsewhere still finds them, named from its own folder.
    std::filesystem::create_directory(scratch / "copies");
    const std::string copy = (scratch / "copies" / "copy.kab").string();
    ASSERT_EQ(Lode::Tools::kaConvertCommand(options.outputPath, copy), 0);
    ASSERT_TRUE(Lode::Io::kaReadScene(copy, infos, file, error)) << error;
    // So does a run on the file from its own folder that saves elsewhere.
    std::filesystem::create_directory(scratch / "again");
    const std::string fromItsFolder = "cd " + (scratch / "out").string() + " && " + KA_BINARY_DIR +
                                      "/kaopt run --script " + example() + " -o ../again/scene.kab scene.kab";
    ASSERT_EQ(std::system(fromItsFolder.c_str()), 0);
    ASSERT_TRUE(Lode::Io::kaReadScene((scratch / "again" / "scene.kab").string(), infos, error)) << error;
    // The pixels live in the PNG files only: without one the scene cannot be read.
    std::filesystem::remove(scratch / "out" / "wood.png");
    EXPECT_FALSE(Lode::Io::kaReadScene(copy, infos, error));
    EXPECT_NE(error.find("wood.png"), std::string::npos) << error;
}
