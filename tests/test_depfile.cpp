// kaopt run --depfile and kaopt ninja: each run declares every file it reads and writes only
// where it says, so that a build system can rerun exactly what changed.
#include "kaTestTools.h"
#include "tools/kaopt/kaDepfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

using namespace kaTest;
namespace fs = std::filesystem;

namespace {

const std::string kPlugin = std::string(KA_BINARY_DIR) + "/libKAOptExtension.so";

// Every file below root with its content, by its path relative to root.
std::map<std::string, std::string> listing(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = readText(entry.path());
    return files;
}

// The paths of a dependency file's side, read back as Make reads them.
std::vector<std::string> depfileWords(const std::string& text)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if ((text[i] == '\\' && next != '\n') || (text[i] == '$' && next == '$'))
            words.back() += text[++i];
        else if (text[i] != '\\' && text[i] != ' ' && text[i] != '\n')
            words.back() += text[i];
        else if (!words.back().empty())
            words.emplace_back();
    }
    if (words.back().empty()) words.pop_back();
    return words;
}

// Its targets and its prerequisites (no path here holds a colon).
std::pair<std::vector<std::string>, std::vector<std::string>> readDepfile(const std::string& text)
{
    const size_t colon = text.find(':');
    return {depfileWords(text.substr(0, colon)), depfileWords(text.substr(colon + 1))};
}

std::string runIn(const fs::path& folder, const std::string& arguments)
{
    return "cd '" + folder.string() + "' && " + KA_BINARY_DIR + "/kaopt " + arguments + " </dev/null";
}

void copyModel(const std::string& model, const fs::path& to)
{
    fs::create_directories(to);
    for (const auto& file : fs::directory_iterator(kaSamples / model))
        fs::copy(file.path(), to / file.path().filename());
}

} // namespace

TEST(Depfile, PathsAreEscapedAsMakeAndNinjaReadThem)
{
    const struct {
        std::string path, written;
    } cases[] = {{"in dir/a#1$x.gltf", "in\\ dir/a\\#1$$x.gltf"},
                 {"lod/../near/./face.kab", "near/face.kab"},
                 {"/abs/lib.so", "/abs/lib.so"}};
    for (const auto& c : cases) {
        std::string text, error;
        ASSERT_TRUE(Lode::Tools::kaDepfileText({"out.kab"}, {c.path}, text, error)) << error;
        EXPECT_EQ(text, "out.kab: \\\n  " + c.written + "\n") << c.path;
    }
    std::string text, error;
    EXPECT_FALSE(Lode::Tools::kaDepfileText({"out.kab"}, {"a\nb"}, text, error));
}

// A chain of runs in one folder, each later one reading what the earlier ones wrote. Every run
// changes exactly its dependency file's targets, all in its output's folder; and run again in a
// folder holding only its declared prerequisites, it writes the same bytes: it read nothing else.
TEST(Depfile, RunsDeclareEveryFileTheyReadAndWrite)
{
    if (!fs::exists(kaSamples / "MorphPrimitivesTest")) GTEST_SKIP() << "sample models absent under " << kaSamples;
    kaScratchDir scratch;
    copyModel("MorphPrimitivesTest", scratch / "in dir");
    writeText(scratch / "export.ini", "[kaExportGeometry]\n_subDirectory = parts\n");
    writeText(scratch / "lod.ini", "[kaCreateLod]\n_lodCount = 1\ndirectory1 = ./near/parts\n");
    writeText(scratch / "image.ini", "[kaImageExternal]\n");
    writeText(scratch / "mip.ini", "[kaUseMipmap]\nimageListFilename = list.txt\n");
    writeText(scratch / "list.txt", "skin.png\n");
    writeText(scratch / "stats.ini", "[kaGeometryStatistics]\n");
    const struct {
        std::string arguments, output;
        std::vector<std::string> reads; // besides the plug-in
    } steps[] = {
        {"--example --script export.ini", "lod/near/split.kab", {"export.ini"}},
        {"--example --script lod.ini", "lod/lod.kab", {"lod.ini", "lod/near/parts/face.kab"}},
        {"--script stats.ini lod/near/split.kab", "copy/split.kab", {"lod/near/split.kab", "lod/near/parts/arms.kab"}},
        {"--example --script image.ini", "image/scene.kab", {"image.ini"}},
        {"--script mip.ini image/scene.kab", "mip/scene.kab", {"mip.ini", "list.txt", "image/skin.png"}},
        {"--script stats.ini --report gl/report.json 'in dir/MorphPrimitivesTest.gltf'",
         "gl/model.gltf",
         {"in dir/MorphPrimitivesTest.gltf", "in dir/MorphPrimitivesTest.bin", "in dir/uv_texture.jpg"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.output);
        const std::string depfile = step.output + ".d";
        const std::string command = "run --quiet --depfile " + depfile + " -o " + step.output + " " + step.arguments;
        const auto before = listing(scratch.path());
        const kaRunResult run = runCommand(runIn(scratch.path(), command));
        ASSERT_EQ(run.status, 0) << run.err;
        const auto after = listing(scratch.path());
        const auto [targets, prerequisites] = readDepfile(after.at(depfile));
        ASSERT_FALSE(targets.empty());
        EXPECT_EQ(targets.front(), step.output);

        std::set<std::string> changed;
        for (const auto& [path, content] : after)
            if (!before.count(path) || before.at(path) != content) changed.insert(path);
        std::set<std::string> declared(targets.begin(), targets.end());
        declared.insert(depfile);
        EXPECT_EQ(changed, declared);
        for (const std::string& target : targets)
            EXPECT_EQ(target.rfind(fs::path(step.output).parent_path().string() + "/", 0), 0u) << target;
        std::vector<std::string> reads = step.reads;
        reads.push_back(kPlugin);
        for (const std::string& read : reads)
            EXPECT_NE(std::find(prerequisites.begin(), prerequisites.end(), read), prerequisites.end()) << read;

        kaScratchDir replay;
        for (const std::string& prerequisite : prerequisites)
            if (fs::path(prerequisite).is_relative()) {
                fs::create_directories((replay / prerequisite).parent_path());
                fs::copy(scratch / prerequisite, replay / prerequisite);
            }
        const kaRunResult again = runCommand(runIn(replay.path(), command));
        ASSERT_EQ(again.status, 0) << again.err;
        // A report holds the run's timings; the scene files hold only what was read.
        for (const std::string& target : targets) {
            if (fs::path(target).extension() != ".json") {
                EXPECT_EQ(readText(replay / target), after.at(target)) << target;
            }
        }
    }
}

// A run that fails, or is refused, writes no dependency file and leaves an old one as it was.
TEST(Depfile, FailedRunsLeaveTheOldDepfile)
{
    kaScratchDir scratch;
    writeText(scratch / "bad.ini", "[kaNoSuchPass]\n");
    writeText(scratch / "good.ini", "[kaRemoveNames]\n");
    const struct {
        std::string arguments, message;
    } cases[] = {
        {"--example --script bad.ini -o out.kab", "unknown pass class"},
        {"--example --script good.ini", "--depfile needs -o"},
        {"--example --script good.ini -o old.d", "would replace old.d"},
        {"--script good.ini --out-dir out x.kab", "kaopt ninja"},
    };
    for (const auto& c : cases) {
        writeText(scratch / "old.d", "old");
        const kaRunResult run = runCommand(runIn(scratch.path(), "run --depfile old.d " + c.arguments));
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(readText(scratch / "old.d"), "old") << c.arguments;
    }
}

// kaopt ninja with the real Ninja: every output built once, nothing the second time, one edge for a
// changed file that an input refers to, every edge for a changed script.
TEST(Depfile, NinjaRerunsExactlyWhatChanged)
{
    if (runCommand("ninja --version").status != 0)
        GTEST_SKIP() << "ninja is not installed (Debian package ninja-build)";
    if (!fs::exists(kaSamples / "SimpleMorph")) GTEST_SKIP() << "sample models absent under " << kaSamples;
    kaScratchDir scratch;
    for (const char* model : {"SimpleMorph", "MorphPrimitivesTest", "BoxTextured"})
        copyModel(model, scratch / "in dir");
    writeText(scratch / "script.ini", "[kaRemoveNames]\n");
    const kaRunResult made = runCommand(
        runIn(scratch.path(), "ninja --script script.ini --out-dir out --format glb --report 'in dir/SimpleMorph.gltf' "
                              "'in dir/MorphPrimitivesTest.gltf' 'in dir/BoxTextured.glb'"));
    ASSERT_EQ(made.status, 0) << made.err;
    writeText(scratch / "build.ninja", made.out);
    // The edges Ninja ran, by their descriptions.
    auto build = [&] {
        const kaRunResult run = runCommand("cd '" + scratch.path().string() + "' && ninja -j 2");
        EXPECT_EQ(run.status, 0) << run.out;
        std::set<std::string> edges;
        const std::regex edge(R"(^\[\d+/\d+\] kaopt (.*)$)");
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);)
            if (std::smatch match; std::regex_match(line, match, edge)) edges.insert(match[1]);
        return std::make_pair(edges, run.out);
    };
    // Later than anything built so far, whatever the file system's clock granularity.
    auto change = [&](const std::string& file) {
        fs::last_write_time(scratch / file, fs::file_time_type::clock::now() + std::chrono::seconds(2));
    };
    const std::set<std::string> all = {"'in dir/SimpleMorph.gltf'", "'in dir/MorphPrimitivesTest.gltf'",
                                       "'in dir/BoxTextured.glb'"};
    EXPECT_EQ(build().first, all);
    EXPECT_TRUE(fs::exists(scratch / "out/BoxTextured.glb.json"));
    const auto [none, said] = build();
    EXPECT_TRUE(none.empty());
    EXPECT_NE(said.find("no work to do"), std::string::npos) << said;
    change("in dir/simpleMorphGeometry.bin");
    EXPECT_EQ(build().first, std::set<std::string>{"'in dir/SimpleMorph.gltf'"});
    change("script.ini");
    EXPECT_EQ(build().first, all);
}
