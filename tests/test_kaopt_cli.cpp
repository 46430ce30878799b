// kaopt end to end: the script parser, and the real binary loading the real plug-in.
#include "kaTestTools.h"
#include "tools/kaopt/kaScript.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>

using namespace kaTest;

namespace {

std::string example() { return std::string(KA_SOURCE_DIR) + "/examples/demo.ini"; }
std::string reduceWeights() { return std::string(KA_SOURCE_DIR) + "/examples/reduce-weights.ini"; }

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

TEST(Script, SectionsKeysValuesLinesAndComments)
{
    Lode::Tools::kaScript script;
    std::string error;
    const char* text = "# header comment\n[kaReduceBlendWeights]\n_blendWeightCount = 2   ; two influences\n\n"
                       "  _skeletonName=\"Hero # 1\"\r\n[kaGeometryStatistics]\n[kaReduceBlendWeights]\n"
                       "minFilter = LinearMipmapLinear # registry key\n";
    ASSERT_TRUE(Lode::Tools::kaParseScript("s.ini", text, script, error)) << error;
    std::string parsed;
    for (const auto& pass : script.passes) {
        parsed += "[" + pass.className + "]@" + std::to_string(pass.line) + " ";
        for (const auto& setting : pass.settings)
            parsed += setting.key + "=" + setting.value + "@" + std::to_string(setting.line) + " ";
    }
    // A comment character inside quotes belongs to the value.
    EXPECT_EQ(parsed, "[kaReduceBlendWeights]@2 _blendWeightCount=2@3 _skeletonName=\"Hero # 1\"@5 "
                      "[kaGeometryStatistics]@6 [kaReduceBlendWeights]@7 minFilter=LinearMipmapLinear@8 ");
}

// kaopt list prints the library's registration table in its order (reverse alphabetical). Each
// pass has a row in the README's pass table carrying the same summary and linking its page.
TEST(KaoptCli, ListFollowsTheRegistrationTable)
{
    const std::string source = KA_SOURCE_DIR;
    std::istringstream table(readText(source + "/extension/kaPassTable.def"));
    std::vector<std::pair<std::string, std::string>> registered;
    const std::regex entry("KA_PASS\\((\\w+), \"(.*)\"\\)");
    std::smatch match;
    for (std::string line; std::getline(table, line);)
        if (std::regex_match(line, match, entry)) registered.emplace_back(match[1], match[2]);
    // The pattern reads every entry the compiler does, so that none escapes the checks below.
#define KA_PASS(Class, summary) +1
    constexpr size_t tableLines = 0
#include "extension/kaPassTable.def"
        ;
#undef KA_PASS
    EXPECT_EQ(registered.size(), tableLines);
    EXPECT_TRUE(std::is_sorted(registered.rbegin(), registered.rend())) << "not in reverse alphabetical order";

    kaRunResult list = runKaopt("list");
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::pair<std::string, std::string>> listed;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t gap = line.find(' ');
        listed.emplace_back(line.substr(0, gap), gap == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', gap)));
    }
    EXPECT_EQ(listed, registered);

    const std::string readme = readText(source + "/README.md");
    for (const auto& [name, summary] : registered) {
        const std::string row = "| [`" + name + "`](docs/passes/" + name + ".md) | " + summary + " |";
        EXPECT_NE(readme.find(row), std::string::npos) << "README's pass table lacks: " << row;
    }
}

TEST(KaoptCli, Describe)
{
    kaRunResult describe = runKaopt("describe kaEmpty");
    EXPECT_EQ(describe.status, 0) << describe.err;
    EXPECT_EQ(describe.out, "kaEmpty (base kaOptBase)\n  does nothing; loads and saves a scene unchanged\n  no fields\n");
    const std::string fields = runKaopt("describe kaReduceBlendWeights").out;
    EXPECT_NE(fields.find("\n  _blendWeightCount      unsigned                     1\n                         the most blend "
                          "weights a vertex keeps; arrays with no more are left alone\n"), std::string::npos) << fields;
}

// Bad and doubtful scripts: errors (exit status 2, nothing run or saved) and warnings that name
// the line and the nearest name; warnings become errors under --strict.
TEST(KaoptCli, ScriptErrorsAndWarningsNameTheLine)
{
    kaScratchDir scratch;
    // expected: standard error after "kaopt: SCRIPT"
    const struct { std::string script; const char* options; int status; const char* expected; } cases[] = {
        {"[kaEmpty]\n\n[kaNoSuchPass]\n", "", 2, ":3: unknown pass class 'kaNoSuchPass'\n"},
        {"[kaEmpty]\n_typo = 1\n", "", 2, ":2: kaEmpty has no field '_typo'\n"},
        {"[kaOptBase]\n", "", 2, ":1: unknown pass class 'kaOptBase'\n"},
        {"[kaGroup]\n", "", 2, ":1: unknown pass class 'kaGroup'\n"},
        {"[kaEmpty]\nno equals sign\n", "", 2, ":2: expected 'key = value' or '[PassClass]', found 'no equals sign'\n"},
        {"\n_key = 1\n", "", 2, ":2: a setting must follow a '[PassClass]' section header\n"},
        {"[kaEmpty\n", "", 2, ":1: a section header must end with ']'\n"},
        {"[ ]\n", "", 2, ":1: a section header must name a pass class\n"},
        {"[kaEmpty]\n = 3\n", "", 2, ":2: a setting needs a key before '='\n"},
        {std::string("[kaEmpty]\n\0\n", 12), "", 2, ":2: the script is not a text file\n"},
        {"[kaReduceBlendWeights]\nblendWeightCount = 2\n", "", 0, ":2: WARNING: 'blendWeightCount' is neither a field of "
         "kaReduceBlendWeights nor a key it reads; did you mean _blendWeightCount?\n"},
        {"[kaReduceBlendWeights]\nblendWeightCount = 2\n", "--strict", 2, ":2: 'blendWeightCount' is neither a field of "
         "kaReduceBlendWeights nor a key it reads; did you mean _blendWeightCount?\n"},
        {"[kaEmpty]\nsomethingElse = 1\n", "", 0,
         ":2: WARNING: 'somethingElse' is neither a field of kaEmpty nor a key it reads\n"},
        // A key the pass's configure reads is no stray key, and guides the suggestion.
        {"[kaUseMipmap]\nminFilter = Nearest\nminFiltre = Nearest\n", "", 0,
         ":3: WARNING: 'minFiltre' is neither a field of kaUseMipmap nor a key it reads; did you mean minFilter?\n"},
        {"[kaReduceBlendWeight]\n", "", 2, ":1: unknown pass class 'kaReduceBlendWeight'; did you mean kaReduceBlendWeights?\n"},
        {"[kaReduceBlendWeights]\n_blendWeightCont = 2\n", "", 2,
         ":2: kaReduceBlendWeights has no field '_blendWeightCont'; did you mean _blendWeightCount?\n"},
        {"[kaReduceBlendWeights]\n_weightSortMethod = sort_by_weigth\n", "", 2, ":2: kaReduceBlendWeights._weightSortMethod: "
         "'sort_by_weigth' is not a value of WEIGHT_SORT_METHOD (NO_SORT, SORT_BY_WEIGHT, SORT_BY_DISTANCE_TO_BONE); "
         "did you mean SORT_BY_WEIGHT?\n"},
        {"# nothing to do\n", "", 0, ": WARNING: the script names no pass to run\n"},
        {"# nothing to do\n", "--strict", 2, ": the script names no pass to run\n"},
        {"\xEF\xBB\xBF[kaEmpty]\n", "--strict", 0, ""},
        {std::string("\xFF\xFE[\0k\0a\0E\0m\0p\0t\0y\0]\0\n\0", 22), "", 2,
         ":1: the script looks like UTF-16 text; save it as UTF-8\n"},
        {std::string("[\0k\0a\0E\0m\0p\0t\0y\0]\0\n\0", 20), "", 2, ":1: the script looks like UTF-16 text; save it as UTF-8\n"},
        // A pass that refused its settings may not have read its keys: they are no typos.
        {"[kaUseMipmap]\nminFilter = linear\nmagFilter = Linear\nisExclude = include\n", "--strict", 1,
         ":1: kaUseMipmap refused its settings; nothing is written\n"},
        {"[kaCreateLod]\n_lodCount = 0\ndirectory1 = near\n", "", 1, ":1: kaCreateLod refused its settings; nothing is written\n"},
        // A registry value read as a number that is none is an error, not a default.
        {"[kaCreateLod]\n_lodCount = 2\nrange1 = 12m\n", "", 2, ":3: kaCreateLod key range1: '12m' is not a number\n"},
        {"[kaCreateLod]\nrange1 = 1e39\n", "--keep-going", 2, ":2: kaCreateLod key range1: '1e39' is too large for a float\n"},
    };
    const std::string ex = makeExample(scratch);
    const std::string out = (scratch / "out.kab").string();
    const std::string script = (scratch / "s.ini").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script + c.options);
        writeText(script, c.script);
        kaRunResult run = runKaopt("run " + std::string(c.options) + " --script " + script + " -o " + out + " " + ex);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err, *c.expected ? "kaopt: " + script + c.expected : "");
        // Under --strict a pass's configure has run by the time its keys are known.
        EXPECT_TRUE(c.status != 2 || *c.options || run.out.empty()) << "nothing runs: " << run.out;
        EXPECT_EQ(std::filesystem::exists(out), c.status == 0);
        std::filesystem::remove(out);
    }
    kaRunResult missing = runKaopt("run --example --script " + (scratch / "missing.ini").string());
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "kaopt: cannot read script " + (scratch / "missing.ini").string() + ": No such file or directory\n");
}

TEST(KaoptCli, UsageVersionPluginAndUsageErrors)
{
    // Asked for, the usage goes to standard output; kaopt alone is a usage error.
    for (const char* arguments : {"", "help", "--help"}) {
        kaRunResult usage = runKaopt(arguments);
        const bool asked = *arguments;
        EXPECT_EQ(usage.status, asked ? 0 : 2) << arguments;
        EXPECT_EQ(asked ? usage.err : usage.out, "") << arguments;
        for (const char* command : {"run", "list", "describe", "info", "convert", "make-example"})
            EXPECT_NE((asked ? usage.out : usage.err).find("  " + std::string(command)), std::string::npos)
                << arguments << ": " << command;
    }
    EXPECT_NE(runKaopt("help run").out.find("--out-dir"), std::string::npos);
    EXPECT_EQ(runKaopt("--version").out, "kaopt " KA_VERSION "\n");
    // Usage errors exit 2 and print nothing on standard output; a plug-in that is missing, or a
    // shared library that is not a pass library, gives the loader's reason.
    const std::string script = " --script " + example();
    const std::pair<std::string, std::string> errors[] = {
        {"list --plugin /nonexistent/libKAOptExtension.so",
         "/nonexistent/libKAOptExtension.so: cannot open shared object file: No such file or directory"},
        {"list --plugin " + std::string(KA_BINARY_DIR) + "/libkahost.so", "createLibraryObject"},
        {"describe kaNoSuchPass", "kaNoSuchPass"}, {"frobnicate", ""}, {"help frobnicate", ""},
        {"run --example", ""}, {"run" + script, ""},
        {"run" + script + " a.kab b.kab", ""}, {"run" + script + " --format glb a.kab", ""},
        {"run" + script + " -j 2 a.kab", ""}, {"run" + script + " -o x.kab --out-dir d a.kab", ""}};
    for (const auto& [arguments, reason] : errors) {
        kaRunResult run = runKaopt(arguments);
        EXPECT_TRUE(run.status == 2 && run.out.empty()) << arguments;
        EXPECT_NE(run.err.find(reason), std::string::npos) << arguments << ": " << run.err;
    }
}

// A run saves its scene and then reports the closed output; a command that only prints ends
// quietly, as a broken pipe ends any program.
TEST(KaoptFiles, AClosedStandardOutputStillSavesTheScene)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    const std::string out = (scratch / "out.kab").string();
    // Standard output is a pipe that nobody reads: every report line meets a broken pipe.
    const auto unreadPipe = [] {
        int ends[2];
        if (::pipe(ends) == 0) ::close(ends[0]), ::dup2(ends[1], 1);
    };
    const pid_t pid = startKaopt({"", "run", "--script", reduceWeights(), "-o", out, ex}, scratch.path(), unreadPipe);
    const kaChildRun run = finish(pid, scratch.path());
    ASSERT_TRUE(WIFEXITED(run.raw)) << "ended by signal " << WTERMSIG(run.raw);
    EXPECT_EQ(WEXITSTATUS(run.raw), 2);
    // After the reduction's loss lines.
    EXPECT_NE(run.err.find("\nkaopt: cannot write to standard output"), std::string::npos) << run.err;
    EXPECT_NE(runKaopt("info " + out).out.find("B=2 I=2"), std::string::npos) << "the reduced scene is saved";
    for (const std::vector<std::string>& printing : {std::vector<std::string>{"", "info", ex}, {"", "list"}, {"", "help"}}) {
        const kaChildRun shown = finish(startKaopt(printing, scratch.path(), unreadPipe), scratch.path());
        EXPECT_TRUE(WIFSIGNALED(shown.raw) && WTERMSIG(shown.raw) == SIGPIPE) << printing[1] << ": " << shown.raw;
        EXPECT_EQ(shown.err, "") << printing[1];
    }
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
        size_t place = 0;
        for (const std::string& line : {"kaopt: " + first + " -> " + (folder / "first.kab").string() + ": ",
                                        "kaopt: " + broken + ": not saved (exit status 2)",
                                        "kaopt: " + third + " -> " + (folder / "third.kab").string() + ": ",
                                        std::string("kaopt: 3 inputs: 2 saved (")})
            EXPECT_NE(place = run.err.find(line, place), std::string::npos) << "in order: " << line << "\n" << run.err;
        const std::string bytes = std::to_string(std::filesystem::file_size(third)) + " -> " +
                                  std::to_string(std::filesystem::file_size(folder / "third.kab")) + " bytes, ";
        EXPECT_TRUE(std::regex_search(run.err, std::regex("[1-9][0-9]* vertices, [1-9][0-9]* images, " + bytes)))
            << run.err;
        EXPECT_EQ(readText(folder / "broken.kab"), "an earlier output");
        EXPECT_NE(runKaopt("info " + (folder / "third.kab").string()).out.find("B=2 I=2"), std::string::npos);
        outputs[jobs - 1] = withoutAddresses(run.out);
    }
    EXPECT_EQ(outputs[0], outputs[1]) << "the reports come in the inputs' order whatever the number of jobs";

    kaRunResult clash = runKaopt("run --script " + reduceWeights() + " --out-dir " + (scratch / "o").string() + " " +
                                 first + " " + (scratch / "out1" / "first.kab").string());
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("would both be saved as"), std::string::npos) << clash.err;
}

// What the user's own files give: a dump, a JSON dump, a converted copy with the same bytes,
// and the same reports as the built-in example.
TEST(KaoptFiles, MakeExampleThenInfoConvertAndRunGiveWhatTheExampleGives)
{
    kaScratchDir scratch;
    const std::string ex = makeExample(scratch);
    kaRunResult info = runKaopt("info " + ex);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.rfind(ex + ": 2 infos, ", 0), 0u) << info.out.substr(0, 200);
    EXPECT_NE(info.out.find("kaGeometry \"body\""), std::string::npos);
    EXPECT_EQ(info.err, "");
    kaRunResult json = runKaopt("info --json " + ex);
    ASSERT_EQ(json.status, 0) << json.err;
    const auto document = nlohmann::json::parse(json.out);
    EXPECT_TRUE(document["scene"] == ex && document["infos"][1]["class"] == "kaAnimationDatabase") << json.out.substr(0, 200);

    const std::string ex2 = (scratch / "ex2.kab").string();
    kaRunResult convert = runKaopt("convert " + ex + " " + ex2);
    ASSERT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(convert.out + convert.err, "");
    EXPECT_EQ(readText(ex), readText(ex2)) << "a converted .kab file has the same bytes";

    kaRunResult fromFile = runKaopt("run --script " + reduceWeights() + " " + ex);
    kaRunResult builtIn = runKaopt("run --example --script " + reduceWeights());
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(builtIn.err.find("[1/3]"), std::string::npos) << "not a terminal: no progress lines";
    EXPECT_EQ(withoutAddresses(fromFile.out), withoutAddresses(builtIn.out));
}

TEST(KaoptFiles, DamagedOrMissingInputExitsTwoNamingTheFileAndWritesNothing)
{
    kaScratchDir scratch;
    const std::string bytes = readText(makeExample(scratch));
    std::string flipped = bytes;
    flipped[flipped.size() / 2] ^= 0x20;
    writeText(scratch / "truncated.kab", bytes.substr(0, bytes.size() * 2 / 3)), writeText(scratch / "flipped.kab", flipped);
    const std::string out = (scratch / "out.kab").string();
    // Damage is named by its byte offset.
    const std::pair<const char*, const char*> inputs[] = {
        {"truncated.kab", ": byte "}, {"flipped.kab", ": byte "}, {"missing.kab", ": cannot open the file: "}};
    for (const auto& [name, reason] : inputs) {
        const std::string bad = (scratch / name).string();
        for (const std::string& command : {"info " + bad, "info --json " + bad, "convert " + bad + " " + out,
                                           "run --script " + reduceWeights() + " -o " + out + " " + bad}) {
            kaRunResult run = runKaopt(command);
            EXPECT_EQ(run.err.rfind("kaopt: " + bad + reason, 0), 0u) << command << ": " << run.err;
            EXPECT_TRUE(run.status == 2 && run.out.empty()) << command << ": no pass runs on a bad input: " << run.out;
            EXPECT_FALSE(std::filesystem::exists(out)) << command;
        }
    }
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
    const std::string info = runKaopt("info " + reduced).out;
    EXPECT_TRUE(info.find("format=\"P N B=2 I=2 T=1\"") != std::string::npos && info.find("B=8") == std::string::npos)
        << "every skinned array is reduced in the saved file";
    EXPECT_EQ(std::filesystem::directory_iterator(scratch / "out")->path().filename(), "reduced.kab")
        << "no temporary file is left beside the output";
    // configure refuses distance sorting without a skeleton name.
    writeText(scratch / "refused.ini", "[kaGeometryStatistics]\n[kaReduceBlendWeights]\n"
                                       "_weightSortMethod = SORT_BY_DISTANCE_TO_BONE\n");
    const std::string refusedScript = (scratch / "refused.ini").string(), fresh = (scratch / "fresh.kab").string();
    kaRunResult refused = runKaopt("run --script " + refusedScript + " -o " + fresh + " " + ex);
    EXPECT_TRUE(refused.status == 1 && refused.err.find("refused.ini:2: kaReduceBlendWeights refused its settings") !=
                                           std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const std::string before = readText(reduced);
    EXPECT_EQ(runKaopt("run --script " + refusedScript + " -o " + reduced + " " + ex).status, 1);
    EXPECT_EQ(readText(reduced), before) << "an existing output is kept as it was";
    // With --keep-going the refused pass is left out and the rest is saved.
    EXPECT_EQ(runKaopt("run --keep-going --script " + refusedScript + " -o " + fresh + " " + ex).status, 0);
    EXPECT_EQ(readText(fresh), readText(ex));
    // An output of no format kaopt writes is refused before any pass runs.
    const std::string wrongType = (scratch / "out.obj").string();
    for (const std::string& command : {"run --script " + reduceWeights() + " -o " + wrongType + " " + ex,
                                       "convert " + ex + " " + wrongType}) {
        kaRunResult run = runKaopt(command);
        EXPECT_TRUE(run.status == 2 && run.out.empty()) << command;
        EXPECT_EQ(run.err, "kaopt: " + wrongType + ": unknown scene file type: the extension must be .kab, .gltf or .glb\n");
    }
}

// The files of a run: named relative to the saved scene whatever the output path looks like,
// taken along when a split scene is saved elsewhere, each under a name of its own that replaces
// neither another file of the run nor a file it read; and what may be read at all.
TEST(KaoptFiles, EveryFileOfARunHasANameOfItsOwnBesideTheOutput)
{
    kaScratchDir scratch;
    const std::string split = (scratch / "split.ini").string(), beside = (scratch / "beside.ini").string(),
                      empty = (scratch / "empty.ini").string();
    writeText(split, "[kaExportGeometry]\n_subDirectory = parts\n");
    writeText(beside, "[kaExportGeometry]\n");
    writeText(empty, "[kaEmpty]\n");
    std::filesystem::create_directory(scratch / "a");
    kaRunResult bare = runCommand("cd " + (scratch / "a").string() + " && " + KA_BINARY_DIR + "/kaopt run --example --script " +
                                  split + " -o s.kab");
    ASSERT_EQ(bare.status, 0) << bare.err;
    EXPECT_EQ(readText(scratch / "a" / "s.kab").find(scratch.path().string()), std::string::npos) << "no absolute path";
    std::filesystem::rename(scratch / "a", scratch / "b");
    const std::string moved = (scratch / "c" / "new" / "s.kab").string();
    kaRunResult resaved = runKaopt("run --script " + empty + " -o " + moved + " " + (scratch / "b" / "s.kab").string());
    ASSERT_EQ(resaved.status, 0) << resaved.err;
    std::filesystem::remove_all(scratch / "b");
    EXPECT_EQ(runKaopt("info " + moved).status, 0) << "the parts came along";
    EXPECT_NE(runKaopt("info " + (scratch / "c" / "new" / "parts" / "body.kab").string()).out.find("kaGeometry \"body\""),
              std::string::npos);

    // The scene over a part, a part over the input, the scene over the input.
    const std::string ex = makeExample(scratch, "crate.kab"), before = readText(ex);
    const std::string inNew = (scratch / "d" / "body.kab").string(), out = (scratch / "out.kab").string();
    const std::pair<std::string, std::string> clashes[] = {
        {"--example --script " + beside + " -o " + inNew, inNew + ": written twice in one run"},
        {"--script " + beside + " -o " + out + " " + ex, ex + ": the run read this file"},
        {"--script " + empty + " -o " + ex + " " + ex, ex + ": the run read this file"}};
    for (const auto& [arguments, reason] : clashes) {
        kaRunResult run = runKaopt("run " + arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.err.find("kaopt: " + reason), std::string::npos) << arguments << "\n" << run.err;
    }
    EXPECT_EQ(readText(ex), before);
    EXPECT_FALSE(std::filesystem::exists(scratch / "d") || std::filesystem::exists(out)) << "nothing is written";

    // A folder is no scene; a glTF file cannot refer to the parts; a reference out of the input's
    // folder is read only when allowed (also by the processes of a batch).
    const std::string folder = (scratch / "c").string();
    for (const std::string& command : {"info " + folder, "run --script " + empty + " -o " + out + " " + folder,
                                       "run --script " + empty + " --out-dir " + (scratch / "o").string() + " " + folder})
        EXPECT_EQ(runKaopt(command).err, "kaopt: " + folder + ": is a folder, not a scene file\n") << command;
    const std::string glb = (scratch / "g.glb").string();
    EXPECT_NE(runKaopt("run --example --script " + split + " -o " + glb).err.find(
                  "WARNING: " + glb + ": a glTF file cannot refer to .kab files"), std::string::npos);
    writeText(scratch / "x.bin", "abcd");
    const std::string gltf = (scratch / "c" / "x.gltf").string();
    writeText(gltf, R"({"asset":{"version":"2.0"},"buffers":[{"uri":"../x.bin","byteLength":4}]})");
    const std::pair<std::string, int> reads[] = {
        {"info " + gltf, 2}, {"info --allow-outside-references " + gltf, 0},
        {"run --allow-outside-references -j 2 --script " + empty + " --format kab --out-dir " + (scratch / "o").string() +
             " " + gltf, 0}};
    for (const auto& [command, status] : reads) EXPECT_EQ(runKaopt(command).status, status) << command;
    EXPECT_EQ(runKaopt("info " + gltf).err, "kaopt: " + gltf + ": the uri '../x.bin' lies outside the folder of " + gltf +
                                                ": not read (--allow-outside-references reads it)\n");
}
