// kaopt under failure: an output it may not write, a full disk, a referenced file gone, a signal
// in the middle of a save. Whatever happens, the files already in the output folder keep every
// byte, no temporary is left there, and the exit status and message say what went wrong.
#include "kaTestTools.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <thread>

using kaTest::kaRunResult;
using kaTest::kaScratchDir;
using kaTest::readText;
using kaTest::runKaopt;
using kaTest::writeText;
namespace fs = std::filesystem;

namespace {

const std::string kaopt = std::string(KA_BINARY_DIR) + "/kaopt";
const char* const kOutputs[] = {"scene.kab", "scene.gltf", "scene.glb"};

// Every file of a folder, dot files included, with its bytes.
using kaSnapshot = std::map<std::string, std::string>;
kaSnapshot snapshot(const fs::path& folder)
{
    kaSnapshot files;
    for (const auto& entry : fs::directory_iterator(folder)) files[entry.path().filename().string()] = readText(entry);
    return files;
}

// Saves the example as output in folder, then gives each file written a content of its own, so
// that a later run that touches any of them shows.
kaSnapshot previousOutput(const fs::path& folder, const std::string& output)
{
    fs::create_directories(folder);
    const kaRunResult made = runKaopt("make-example " + (folder / output).string());
    EXPECT_EQ(made.status, 0) << made.err;
    for (const auto& entry : fs::directory_iterator(folder))
        writeText(entry.path(), "previous " + entry.path().filename().string());
    return snapshot(folder);
}

struct kaChildRun {
    int raw = -1;  // as waitpid gives it
    std::string out;
    std::string err;
};

// Starts kaopt (or the program in argv[0] when it is not empty) with its streams in logs;
// prepare runs in the child just before exec.
pid_t startKaopt(std::vector<std::string> argv, const fs::path& logs, const std::function<void()>& prepare = {})
{
    if (argv[0].empty()) argv[0] = kaopt;
    const pid_t pid = fork();
    if (pid != 0) return pid;
    ::dup2(::open((logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open((logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    if (prepare) prepare();
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::perror(args[0]);
    ::_exit(127);
}

kaChildRun finish(pid_t pid, const fs::path& logs)
{
    kaChildRun run;
    ::waitpid(pid, &run.raw, 0);
    run.out = readText(logs / "out");
    run.err = readText(logs / "err");
    return run;
}

std::string exampleKab(const kaScratchDir& scratch)
{
    const std::string path = (scratch / "example.kab").string();
    EXPECT_EQ(runKaopt("make-example " + path).status, 0);
    return path;
}

std::string emptyScript(const kaScratchDir& scratch)
{
    writeText(scratch / "empty.ini", "[kaEmpty]\n");
    return (scratch / "empty.ini").string();
}

bool listed(const std::string& passClass) { return runKaopt("list").out.find(passClass + " ") != std::string::npos; }

} // namespace

// Each way of being refused, for each output format, both through a run and a convert.
TEST(FailureInjection, AnOutputThatCannotBeWrittenLeavesTheFolderAsItWas)
{
    for (const bool readOnlyMount : {true, false})
        for (const char* output : kOutputs) {
            kaScratchDir scratch;
            const std::string input = exampleKab(scratch);
            const fs::path folder = scratch / "out";
            const kaSnapshot before = previousOutput(folder, output);
            // Without the mount, the output's folder is one of the previous files: that stops
            // root, which folder permissions do not.
            const std::string target = (readOnlyMount ? folder / output : folder / output / output).string();
            const std::vector<std::vector<std::string>> commands = {
                {"", "run", "--quiet", "--script", emptyScript(scratch), "-o", target, input},
                {"", "convert", input, target}};
            for (std::vector<std::string> command : commands) {
                SCOPED_TRACE(std::string(readOnlyMount ? "read-only mount" : "folder is a file") + ": " + command[1] +
                             " to " + output);
                if (readOnlyMount) {
                    const std::string mountThenRun =
                        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 77; exec \"$@\"";
                    command[0] = kaopt;
                    command.insert(command.begin(), {"unshare", "-rm", "sh", "-c", mountThenRun, folder.string()});
                }
                kaScratchDir logs;
                const kaChildRun run = finish(startKaopt(command, logs.path()), logs.path());
                if (WIFEXITED(run.raw) && WEXITSTATUS(run.raw) == 77)
                    GTEST_SKIP() << "a read-only mount needs a user namespace, which this system refuses: " << run.err;
                ASSERT_TRUE(WIFEXITED(run.raw)) << run.err;
                EXPECT_EQ(WEXITSTATUS(run.raw), 2) << run.err;
                // A glTF's buffer is the first file written, so it may be the one named.
                const std::string stem = fs::path(target).replace_extension().string();
                EXPECT_EQ(run.err.rfind("kaopt: " + stem + ".", 0), 0u) << run.err;
                EXPECT_EQ(run.out, "") << "nothing runs when the output cannot be written";
                EXPECT_EQ(snapshot(folder), before);
            }
        }
}

// A file-size limit stands in for a full disk: the write fails with EFBIG (SIGXFSZ ignored, as a
// full disk sends no signal) part way through whichever file of the output crosses it.
TEST(FailureInjection, AFullDiskLeavesThePreviousOutputWhole)
{
    for (const char* output : kOutputs)
        for (const char* command : {"run", "convert"}) {
            SCOPED_TRACE(std::string(command) + " to " + output);
            kaScratchDir scratch;
            const std::string input = exampleKab(scratch);
            const fs::path folder = scratch / "out";
            const kaSnapshot before = previousOutput(folder, output);
            const std::string target = (folder / output).string();
            std::vector<std::string> argv = {"", "convert", input, target};
            if (std::string(command) == "run") argv = {"", "run", "--quiet", "--script", emptyScript(scratch), "-o", target, input};
            kaScratchDir logs;
            const kaChildRun run = finish(startKaopt(argv, logs.path(),
                                                     [] {
                                                         std::signal(SIGXFSZ, SIG_IGN);
                                                         const rlimit small{256, 256};
                                                         ::setrlimit(RLIMIT_FSIZE, &small);
                                                     }),
                                          logs.path());
            ASSERT_TRUE(WIFEXITED(run.raw)) << run.err;
            EXPECT_EQ(WEXITSTATUS(run.raw), 2) << run.err;
            EXPECT_EQ(run.err.rfind("kaopt: " + folder.string() + "/scene.", 0), 0u) << run.err;
            EXPECT_NE(run.err.find(std::strerror(EFBIG)), std::string::npos) << run.err;
            EXPECT_EQ(snapshot(folder), before);
        }
}

// A scene whose parts live in files of their own, one part removed: reading it fails, naming the
// part, and a convert writes nothing.
TEST(FailureInjection, AReferencedFileRemovedAfterTheSaveIsNamedWhenTheSceneIsRead)
{
    struct Split {
        const char* name;
        std::string script;  // empty: a plain save
        const char* output;
    };
    std::vector<Split> splits = {{"glTF buffer and images", "", "scene.gltf"}};
    for (const char* pass : {"kaExportGeometry", "kaImageExternal"}) {
        if (listed(pass))
            splits.push_back({pass, "[" + std::string(pass) + "]\n", "scene.kab"});
        else
            std::printf("%s is not in this build: the .kab external-file case for it is not run\n", pass);
    }
    for (const Split& split : splits) {
        kaScratchDir scratch;
        const fs::path saved = scratch / "saved";
        fs::create_directory(saved);
        const std::string scene = (saved / split.output).string();
        kaRunResult save = split.script.empty() ? runKaopt("make-example " + scene) : [&] {
            writeText(scratch / "split.ini", split.script);
            return runKaopt("run --quiet --example --script " + (scratch / "split.ini").string() + " -o " + scene);
        }();
        ASSERT_EQ(save.status, 0) << split.name << ": " << save.err;
        const kaSnapshot whole = snapshot(saved);
        ASSERT_GT(whole.size(), 1u) << split.name << ": nothing was kept outside the scene file";

        for (const auto& [part, bytes] : whole) {
            if (part == split.output) continue;
            SCOPED_TRACE(std::string(split.name) + ", " + part + " removed");
            fs::remove(saved / part);
            const fs::path converted = scratch / "converted";
            const kaSnapshot convertedBefore = previousOutput(converted, "scene.glb");
            for (const std::string& command : {"info " + scene, "convert " + scene + " " + (converted / "scene.glb").string()}) {
                const kaRunResult run = runKaopt(command);
                EXPECT_EQ(run.status, 2) << command << ": " << run.err;
                EXPECT_NE(run.err.find(part), std::string::npos) << command << ": " << run.err;
                EXPECT_EQ(run.out, "") << command;
            }
            EXPECT_EQ(snapshot(converted), convertedBefore);
            writeText(saved / part, bytes);
        }
    }
}

namespace {

// One mesh of vertexCount vertices: large enough that saving it takes a while.
std::string bigGltf(const fs::path& folder, int vertexCount)
{
    std::vector<float> positions(size_t(vertexCount) * 3);
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = float(i % 1009) / 1009.0f;
    std::ofstream(folder / "big.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(positions.data()), std::streamsize(positions.size() * sizeof(float)));
    const std::string count = std::to_string(vertexCount), bytes = std::to_string(positions.size() * sizeof(float));
    writeText(folder / "big.gltf",
              R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
              R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
              R"("accessors":[{"bufferView":0,"componentType":5126,"count":)" + count +
                  R"(,"type":"VEC3","min":[0,0,0],"max":[1,1,1]}],)"
                  R"("bufferViews":[{"buffer":0,"byteLength":)" + bytes + R"(}],)"
                  R"("buffers":[{"uri":"big.bin","byteLength":)" + bytes + "}]}");
    return (folder / "big.gltf").string();
}

bool savingIn(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".kaopt-") != std::string::npos) return true;
    return false;
}

// Whether the child has ended, leaving it to be waited for.
bool ended(pid_t pid)
{
    siginfo_t info{};
    return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

} // namespace

// The signal comes while the output's temporaries are being written. The run ends with status
// 128 + the signal's number, says so, and the folder holds the previous output, or (had the
// signal come during the final renames) the complete new one: never a mix, never a temporary.
TEST(FailureInjection, SigintOrSigtermDuringTheSaveLeavesNoTraceInTheOutputFolder)
{
    kaScratchDir scratch;
    const std::string input = bigGltf(scratch.path(), 3 * 700000);
    for (const char* output : kOutputs) {
        const fs::path reference = scratch / (std::string("reference-") + output);
        fs::create_directory(reference);
        const kaRunResult full = runKaopt("convert " + input + " " + (reference / output).string());
        ASSERT_EQ(full.status, 0) << full.err;
        const kaSnapshot complete = snapshot(reference);
        for (const int signal : {SIGINT, SIGTERM}) {
            SCOPED_TRACE(std::string(strsignal(signal)) + " saving " + output);
            const fs::path folder = scratch / "out";
            fs::remove_all(folder);
            const kaSnapshot before = previousOutput(folder, output);
            kaScratchDir logs;
            const pid_t pid = startKaopt({"", "convert", input, (folder / output).string()}, logs.path());
            bool signalled = false;
            for (int poll = 0; poll < 200000 && !signalled; ++poll) {
                if (savingIn(folder)) signalled = ::kill(pid, signal) == 0;
                else if (ended(pid)) break;
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            const kaChildRun run = finish(pid, logs.path());
            ASSERT_TRUE(signalled) << "the save ended before its temporaries were seen: " << run.err;
            ASSERT_TRUE(WIFEXITED(run.raw)) << run.err;
            EXPECT_EQ(WEXITSTATUS(run.raw), 128 + signal);
            EXPECT_EQ(run.err, std::string("kaopt: interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                                   "; files not yet saved are left as they were\n");
            kaSnapshot replaced = before;
            for (const auto& [name, bytes] : complete) replaced[name] = bytes;
            const kaSnapshot after = snapshot(folder);
            std::string names;
            for (const auto& [name, bytes] : after) names += " " + name + "(" + std::to_string(bytes.size()) + ")";
            EXPECT_TRUE(after == before || after == replaced) << "a mix of old and new files, or a temporary:" << names;
        }
    }
}
