// Files under failure. kaFileCommit writes a set of files that all appear at the commit or none
// does, and leaves no temporary whether the set is committed, fails midway, is abandoned or the
// process is interrupted. kaopt under failure (an output it may not write, a full disk, a
// referenced file gone, a signal in the middle of a save): the files already in the output folder
// keep every byte, no temporary is left there, and the exit status and message say what went wrong.
#include "host/core/kaFileCommit.h"
#include "host/io/kaSceneFile.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <thread>

using namespace kaTest;
using Lode::Core::kaFileCommit;
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

// Every name in the folder, so that a test sees both its targets and any stray temporary.
std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& [name, bytes] : snapshot(folder)) names.insert(name);
    return names;
}

void write(kaFileCommit& files, const fs::path& path, const std::string& text)
{
    std::string error;
    EXPECT_TRUE(files.write(path.string(), text.data(), text.size(), error)) << error;
}

} // namespace

TEST(FileCommit, CommitPutsEveryFileInPlaceTheLastWriteOfAPathWinning)
{
    kaScratchDir dir;
    writeText(dir / "old.txt", "old");
    kaFileCommit files;
    write(files, dir / "old.txt", "replaced"), write(files, dir / "new.txt", "first");
    write(files, dir / "sub" / ".." / "new.txt", "second");  // the same file by another name
    std::string error;
    const auto streamed = [](std::FILE* stream, std::string&) { return std::fputs("streamed", stream) >= 0; };
    ASSERT_TRUE(files.write((dir / "streamed.txt").string(), streamed, error)) << error;
    EXPECT_TRUE(files.isPending((dir / "new.txt").string()));
    EXPECT_EQ(files.pendingPaths(), (std::vector<std::string>{(dir / "old.txt").string(), (dir / "sub/../new.txt").string(),
                                                               (dir / "streamed.txt").string()}));
    EXPECT_EQ(readText(dir / "old.txt"), "old") << "nothing changes before the commit";

    ASSERT_TRUE(files.commit(error)) << error;
    EXPECT_EQ(snapshot(dir.path()), (kaSnapshot{{"new.txt", "second"}, {"old.txt", "replaced"}, {"streamed.txt", "streamed"}}));
    EXPECT_TRUE(files.pendingPaths().empty());
}

TEST(FileCommit, AFailedRenameMidwayRestoresEveryTargetAndRemovesEveryTemporary)
{
    kaScratchDir dir;
    writeText(dir / "a.txt", "old a"), writeText(dir / "c.txt", "old c");
    fs::create_directory(dir / "b.txt");
    kaFileCommit files;
    write(files, dir / "a.txt", "new a");    // replaced, then restored
    write(files, dir / "new.txt", "fresh");  // created, then removed
    write(files, dir / "b.txt", "new b");    // a folder: the commit fails here
    write(files, dir / "c.txt", "new c");    // never reached
    std::string error;
    ASSERT_FALSE(files.commit(error));
    EXPECT_TRUE(error.find((dir / "b.txt").string()) != std::string::npos && error.find("Is a directory") != std::string::npos)
        << error;
    EXPECT_EQ(snapshot(dir.path()), (kaSnapshot{{"a.txt", "old a"}, {"b.txt", ""}, {"c.txt", "old c"}}));
    EXPECT_TRUE(files.pendingPaths().empty());
}

TEST(FileCommit, AbandonedInterruptedOrRefusedWritesLeaveNoTemporary)
{
    kaScratchDir dir;
    writeText(dir / "kept.txt", "kept");
    const std::set<std::string> before = namesIn(dir.path());
    std::string error;
    {
        kaFileCommit files;
        write(files, dir / "kept.txt", "lost"), write(files, dir / "never.txt", "lost");
        EXPECT_EQ(namesIn(dir.path()).size(), before.size() + 2) << "one temporary beside each target";
        files.abandon();
        EXPECT_EQ(namesIn(dir.path()), before);
        write(files, dir / "never.txt", "lost");
        kaFileCommit::removeAllTemporaries();
        EXPECT_EQ(namesIn(dir.path()), before) << "what a signal handler calls";
        // A writer that fails gives its reason; a missing folder gives the path and the system's.
        const auto refuse = [](std::FILE*, std::string& why) { return why = "no pixels", false; };
        EXPECT_FALSE(files.write((dir / "refused.txt").string(), refuse, error));
        EXPECT_EQ(error, "no pixels");
        const std::string nowhere = (dir / "missing" / "x.txt").string();
        EXPECT_FALSE(files.write(nowhere, "x", 1, error));
        EXPECT_TRUE(error.find(nowhere) != std::string::npos && error.find("No such file or directory") != std::string::npos)
            << error;
        write(files, dir / "kept.txt", "lost at the end of the set");
    }
    EXPECT_EQ(snapshot(dir.path()), (kaSnapshot{{"kept.txt", "kept"}}));
}

TEST(FileCommit, AGltfSceneAndAnotherFileOfTheRunAppearTogether)
{
    kaScratchDir dir;
    kaFileCommit files;
    write(files, dir / "report.txt", "written by a pass");
    std::string error;
    ASSERT_TRUE(Lode::Io::kaWriteScene((dir / "scene.gltf").string(), Lode::Tools::kaMakeExampleScene(), {}, files, error))
        << error;
    const std::vector<std::string> pending = files.pendingPaths();
    EXPECT_GT(pending.size(), 3u) << "the .gltf, its .bin and its images";
    EXPECT_EQ(pending.back(), (dir / "scene.gltf").string()) << "the scene is renamed last";
    std::set<std::string> expected;
    for (const std::string& name : namesIn(dir.path())) EXPECT_EQ(name[0], '.') << name << " visible before the commit";
    for (const std::string& path : pending) expected.insert(fs::path(path).filename().string());
    ASSERT_TRUE(files.commit(error)) << error;
    EXPECT_EQ(namesIn(dir.path()), expected);
}

namespace {

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

} // namespace

// Each way an output cannot be written, for each output format, through a run and a convert: a
// folder that is one of the previous files (which stops root too, as folder permissions do not);
// a full disk, for which a file-size limit stands in (the write fails with EFBIG, SIGXFSZ ignored
// as a full disk sends no signal, part way through whichever file crosses it); a read-only mount.
TEST(FailureInjection, AnOutputThatCannotBeWrittenLeavesTheFolderAsItWas)
{
    enum Way { FolderIsAFile, FullDisk, ReadOnlyMount };
    for (const Way way : {FolderIsAFile, FullDisk, ReadOnlyMount})
        for (const char* output : kOutputs)
            for (const std::string command : {"run", "convert"}) {
                SCOPED_TRACE(std::to_string(way) + ": " + command + " to " + output);
                kaScratchDir scratch;
                const std::string input = (scratch / "example.kab").string(), script = (scratch / "empty.ini").string();
                ASSERT_EQ(runKaopt("make-example " + input).status, 0);
                writeText(script, "[kaEmpty]\n");
                const fs::path folder = scratch / "out";
                const kaSnapshot before = previousOutput(folder, output);
                const std::string target = (way == FolderIsAFile ? folder / output / output : folder / output).string();
                std::vector<std::string> argv = {"", "convert", input, target};
                if (command == "run") argv = {"", "run", "--quiet", "--script", script, "-o", target, input};
                if (way == ReadOnlyMount) {
                    const std::string mountThenRun =
                        "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" || exit 77; exec \"$@\"";
                    argv[0] = kaopt;
                    argv.insert(argv.begin(), {"unshare", "-rm", "sh", "-c", mountThenRun, folder.string()});
                }
                const auto limitFileSize = [] {
                    const rlimit small{256, 256};
                    std::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &small);
                };
                kaScratchDir logs;
                const std::function<void()> inChild = way == FullDisk ? limitFileSize : std::function<void()>();
                const kaChildRun run = finish(startKaopt(argv, logs.path(), inChild), logs.path());
                if (WIFEXITED(run.raw) && WEXITSTATUS(run.raw) == 77)
                    GTEST_SKIP() << "a read-only mount needs a user namespace, which this system refuses: " << run.err;
                ASSERT_TRUE(WIFEXITED(run.raw)) << run.err;
                EXPECT_EQ(WEXITSTATUS(run.raw), 2) << run.err;
                // A glTF's buffer is the first file written, so it may be the one named.
                EXPECT_EQ(run.err.rfind("kaopt: " + fs::path(target).replace_extension().string() + ".", 0), 0u) << run.err;
                // A full disk shows at the save, after the run; any other unwritable output before it.
                EXPECT_TRUE(way == FullDisk ? run.err.find(std::strerror(EFBIG)) != std::string::npos : run.out.empty())
                    << run.err << run.out;
                EXPECT_EQ(snapshot(folder), before);
            }
}

// A scene whose parts live in files of their own, one part removed: reading it fails, naming the
// part, and a convert writes nothing.
TEST(FailureInjection, AReferencedFileRemovedAfterTheSaveIsNamedWhenTheSceneIsRead)
{
    // A glTF's buffer and images; the geometry files and the image files of the passes that
    // keep parts of a .kab scene outside it.
    const std::pair<const char*, const char*> splits[] = {
        {"[kaEmpty]\n", "scene.gltf"}, {"[kaExportGeometry]\n", "scene.kab"}, {"[kaImageExternal]\n", "scene.kab"}};
    for (const auto& [script, output] : splits) {
        kaScratchDir scratch;
        const fs::path saved = scratch / "saved";
        const std::string scene = (saved / output).string();
        fs::create_directory(saved), writeText(scratch / "split.ini", script);
        const kaRunResult save = runKaopt("run --quiet --example --script " + (scratch / "split.ini").string() + " -o " + scene);
        ASSERT_EQ(save.status, 0) << script << save.err;
        const kaSnapshot whole = snapshot(saved);
        ASSERT_GT(whole.size(), 1u) << script << ": nothing was kept outside the scene file";

        for (const auto& [part, bytes] : whole) {
            if (part == output) continue;
            SCOPED_TRACE(std::string(script) + part + " removed");
            fs::remove(saved / part);
            const fs::path converted = scratch / "converted";
            const kaSnapshot convertedBefore = previousOutput(converted, "scene.glb");
            for (const std::string& command : {"info " + scene, "convert " + scene + " " + (converted / "scene.glb").string()}) {
                const kaRunResult run = runKaopt(command);
                EXPECT_TRUE(run.status == 2 && run.out.empty()) << command << ": " << run.out;
                EXPECT_NE(run.err.find(part), std::string::npos) << command << ": " << run.err;
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
    writeText(folder / "big.gltf", R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
                                   R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],"accessors":[{"bufferView":0,)"
                                   R"("componentType":5126,"count":)" + count + R"(,"type":"VEC3","min":[0,0,0],"max":[1,1,1]}],)"
                                   R"("bufferViews":[{"buffer":0,"byteLength":)" + bytes + R"(}],)"
                                   R"("buffers":[{"uri":"big.bin","byteLength":)" + bytes + "}]}");
    return (folder / "big.gltf").string();
}

// Whether a temporary of the save lies in the folder.
bool savingIn(const fs::path& folder)
{
    return std::any_of(fs::directory_iterator(folder), fs::directory_iterator(), [](const fs::directory_entry& entry) {
        return entry.path().filename().string().find(".kaopt-") != std::string::npos;
    });
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
            EXPECT_TRUE(after == before || after == replaced)
                << "a mix of old and new files, or a temporary: " << testing::PrintToString(namesIn(folder));
        }
    }
}
