// kaopt end to end: the real binary loading the real plug-in.
#include "kaTestTools.h"

#include <gtest/gtest.h>

using namespace kaTest;

namespace {

std::string example() { return std::string(KA_SOURCE_DIR) + "/examples/demo.ini"; }

} // namespace

TEST(KaoptCli, ListAndDescribe)
{
    kaRunResult list = runKaopt("list");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("kaEmpty\n"), std::string::npos) << list.out;
    // Only passes are listed, not the framework's base kinds or host classes.
    EXPECT_EQ(list.out.find("kaOptBase"), std::string::npos);
    EXPECT_EQ(list.out.find("kaGroup"), std::string::npos);

    kaRunResult describe = runKaopt("describe kaEmpty");
    EXPECT_EQ(describe.status, 0) << describe.err;
    EXPECT_EQ(describe.out, "kaEmpty (base kaOptBase)\n  no fields\n");

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

TEST(KaoptCli, UsageErrorsExitTwo)
{
    EXPECT_EQ(runKaopt("").status, 2);
    EXPECT_EQ(runKaopt("frobnicate").status, 2);
    EXPECT_EQ(runKaopt("run --example").status, 2) << "a script is required";
    EXPECT_EQ(runKaopt("run --script " + example()).status, 2) << "an input is required";
}
