// Files written as one set: all appear at the commit or none does, and no temporary outlives
// the set, whether it is committed, fails midway, is abandoned or the process is interrupted.
#include "host/core/kaFileCommit.h"
#include "host/io/kaSceneFile.h"
#include "kaTestTools.h"
#include "tools/kaopt/kaExampleScene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using Lode::Core::kaFileCommit;
using kaTest::readText;
using kaTest::writeText;
namespace fs = std::filesystem;

namespace {

// Every name in the folder, so that a test sees both its targets and any stray temporary.
std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

bool write(kaFileCommit& files, const fs::path& path, const std::string& text)
{
    std::string error;
    const bool written = files.write(path.string(), text.data(), text.size(), error);
    EXPECT_TRUE(written) << error;
    return written;
}

} // namespace

TEST(FileCommit, CommitPutsEveryFileInPlaceTheLastWriteOfAPathWinning)
{
    kaTest::kaScratchDir dir;
    writeText(dir / "old.txt", "old");
    kaFileCommit files;
    write(files, dir / "old.txt", "replaced");
    write(files, dir / "new.txt", "first");
    write(files, dir / "sub" / ".." / "new.txt", "second");  // the same file by another name
    std::string error;
    ASSERT_TRUE(files.write((dir / "streamed.txt").string(),
                            [](std::FILE* stream, std::string&) { return std::fputs("streamed", stream) >= 0; }, error))
        << error;

    EXPECT_TRUE(files.isPending((dir / "new.txt").string()));
    EXPECT_EQ(files.pendingPaths(), (std::vector<std::string>{(dir / "old.txt").string(), (dir / "sub/../new.txt").string(),
                                                               (dir / "streamed.txt").string()}));
    EXPECT_EQ(readText(dir / "old.txt"), "old") << "nothing changes before the commit";

    ASSERT_TRUE(files.commit(error)) << error;
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"new.txt", "old.txt", "streamed.txt"}));
    EXPECT_EQ(readText(dir / "old.txt"), "replaced");
    EXPECT_EQ(readText(dir / "new.txt"), "second");
    EXPECT_EQ(readText(dir / "streamed.txt"), "streamed");
    EXPECT_TRUE(files.pendingPaths().empty());
}

TEST(FileCommit, AFailedRenameMidwayRestoresEveryTargetAndRemovesEveryTemporary)
{
    kaTest::kaScratchDir dir;
    writeText(dir / "a.txt", "old a");
    writeText(dir / "c.txt", "old c");
    fs::create_directory(dir / "b.txt");
    kaFileCommit files;
    write(files, dir / "a.txt", "new a");    // replaced, then restored
    write(files, dir / "new.txt", "fresh");  // created, then removed
    write(files, dir / "b.txt", "new b");    // a folder: the commit fails here
    write(files, dir / "c.txt", "new c");    // never reached
    std::string error;
    ASSERT_FALSE(files.commit(error));
    EXPECT_NE(error.find((dir / "b.txt").string()), std::string::npos) << error;
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(readText(dir / "a.txt"), "old a");
    EXPECT_EQ(readText(dir / "c.txt"), "old c");
    EXPECT_TRUE(files.pendingPaths().empty());
}

TEST(FileCommit, AbandonedInterruptedOrRefusedWritesLeaveNoTemporary)
{
    kaTest::kaScratchDir dir;
    writeText(dir / "kept.txt", "kept");
    const std::set<std::string> before = namesIn(dir.path());
    std::string error;
    {
        kaFileCommit files;
        write(files, dir / "kept.txt", "lost");
        write(files, dir / "never.txt", "lost");
        EXPECT_EQ(namesIn(dir.path()).size(), before.size() + 2) << "one temporary beside each target";
        files.abandon();
        EXPECT_EQ(namesIn(dir.path()), before);

        write(files, dir / "never.txt", "lost");
        kaFileCommit::removeAllTemporaries();
        EXPECT_EQ(namesIn(dir.path()), before) << "what a signal handler calls";

        // A writer that fails gives its reason; a missing folder gives the path and the system's.
        EXPECT_FALSE(files.write((dir / "refused.txt").string(),
                                 [](std::FILE*, std::string& why) { return why = "no pixels", false; }, error));
        EXPECT_EQ(error, "no pixels");
        const std::string nowhere = (dir / "missing" / "x.txt").string();
        EXPECT_FALSE(files.write(nowhere, "x", 1, error));
        EXPECT_NE(error.find(nowhere), std::string::npos) << error;
        EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

        write(files, dir / "kept.txt", "lost at the end of the set");
    }
    EXPECT_EQ(namesIn(dir.path()), before);
    EXPECT_EQ(readText(dir / "kept.txt"), "kept");
}

TEST(FileCommit, AGltfSceneAndAnotherFileOfTheRunAppearTogether)
{
    kaTest::kaScratchDir dir;
    kaFileCommit files;
    write(files, dir / "report.txt", "written by a pass");
    std::string error;
    ASSERT_TRUE(Lode::Io::kaWriteScene((dir / "scene.gltf").string(), Lode::Tools::kaMakeExampleScene(), {}, files,
                                       error))
        << error;
    EXPECT_TRUE(files.isPending((dir / "scene.bin").string()));
    const std::vector<std::string> pending = files.pendingPaths();
    EXPECT_GT(pending.size(), 3u) << "the .gltf, its .bin and its images";
    EXPECT_EQ(pending.back(), (dir / "scene.gltf").string()) << "the scene is renamed last";
    for (const std::string& name : namesIn(dir.path())) EXPECT_EQ(name[0], '.') << name << " visible before the commit";

    ASSERT_TRUE(files.commit(error)) << error;
    std::set<std::string> expected;
    for (const std::string& path : pending) expected.insert(fs::path(path).filename().string());
    EXPECT_EQ(namesIn(dir.path()), expected);
}
