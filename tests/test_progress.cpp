// Progress reports: the throttle in time, the line kaopt shows on a terminal and the switches
// that keep it off, and the bytes the .kab reader and writer report.
#include "host/core/kaList.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaKABFile.h"
#include "host/opt/kaOptBase.h"
#include "host/sg/kaGroup.h"
#include "host/utils/kaProgress.h"
#include "kaTestTools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

using namespace Lode::Core;

namespace {

double gNow = 0.0;
double testClock() { return gNow; }
// A clock a second further on every reading: every report is heard.
double racingClock() { return gNow += 1.0; }

struct kaHeard : kaProgressListener {
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    void show(uint64_t done, uint64_t total) override { reports.emplace_back(done, total); }
};

// What a terminal shows on the last line of what was written: \r goes back to the margin,
// and later characters replace earlier ones.
std::string visibleLine(const std::string& written)
{
    std::string line;
    size_t column = 0;
    for (char c : written.substr(written.rfind('\n') == std::string::npos ? 0 : written.rfind('\n') + 1)) {
        if (c == '\r') {
            column = 0;
            continue;
        }
        if (column == line.size())
            line += c;
        else
            line[column] = c;
        ++column;
    }
    return line.substr(0, line.find_last_not_of(' ') + 1);
}

// A stream in memory and what was written to it.
struct kaWritten {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    ~kaWritten()
    {
        std::fclose(stream);
        std::free(text);
    }
    std::string get()
    {
        std::fflush(stream);
        return std::string(text, size);
    }
};

} // namespace

TEST(Progress, ListenersHearAReportOnlyATenthOfASecondAfterTheLastOneHeard)
{
    struct Step {
        double at;
        bool heard;
    };
    const Step steps[] = {{5.0, true},   {5.05, false}, {5.099, false}, {5.101, true},
                          {5.15, false}, {5.3, true},   {5.35, false},  {9.0, true}};
    kaHeard heard;
    kaProgress::listen(&heard, testClock);
    std::vector<std::pair<uint64_t, uint64_t>> expected;
    for (uint64_t i = 0; i < std::size(steps); ++i) {
        gNow = steps[i].at;
        kaProgress::report(i, 100);
        if (steps[i].heard) expected.emplace_back(i, 100);
    }
    kaProgress::listen(nullptr);
    gNow = 20.0;
    kaProgress::report(50, 100);
    EXPECT_EQ(heard.reports, expected);
}

TEST(Progress, TheLineShowsOnlyOnATerminalOfARunThatIsNotQuiet)
{
    struct Case {
        bool quiet, terminal;
        const char* shown; // the line while the stage is a quarter done
    };
    for (const Case& c : {Case{false, true, "loading a.kab  25%"}, Case{true, true, ""}, Case{false, false, ""},
                          Case{true, false, ""}}) {
        kaWritten written;
        {
            kaProgressLine line(written.stream, c.quiet, c.terminal, racingClock);
            EXPECT_EQ(line.isListening(), *c.shown != '\0');
            line.stage("loading a.kab");
            kaProgress::report(1, 4);
            EXPECT_EQ(visibleLine(written.get()), c.shown) << c.quiet << c.terminal;
        }
        EXPECT_EQ(visibleLine(written.get()), "") << "the line is erased when it goes";
        if (*c.shown == '\0') EXPECT_EQ(written.get(), "") << "nothing at all is written";
    }
}

TEST(Progress, TheLineIsRewrittenInPlaceAndErasedAtTheEndOfAStage)
{
    kaWritten written;
    kaProgressLine line(written.stream, false, true, racingClock);
    const std::string longName(120, 'n');
    struct Step {
        const char* stage; // null: a report of done of 8
        uint64_t done;
        std::string shown;
    };
    const Step steps[] = {
        {"loading a-rather-long-name.kab", 0, "loading a-rather-long-name.kab"},
        {nullptr, 3, "loading a-rather-long-name.kab  37%"},
        {nullptr, 9, "loading a-rather-long-name.kab  100%"},
        {"kaEmpty", 0, "kaEmpty"},
        {nullptr, 8, "kaEmpty  100%"},
        {longName.c_str(), 0, "..." + longName.substr(120 - 76)},
        {nullptr, 4, "..." + longName.substr(120 - 71) + "  50%"},
    };
    for (const Step& step : steps) {
        if (step.stage)
            line.stage(step.stage);
        else
            kaProgress::report(step.done, 8);
        const std::string shown = visibleLine(written.get());
        EXPECT_EQ(shown, step.shown);
        EXPECT_LE(shown.size(), 79u);
    }
    // A warning erases the line before it is printed; the next report draws it again.
    testing::internal::CaptureStderr();
    kaWarn("a shorter line");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: a shorter line\n");
    kaTakeWarnings();
    EXPECT_EQ(visibleLine(written.get()), "");
    kaProgress::report(6, 8);
    EXPECT_EQ(visibleLine(written.get()), "..." + longName.substr(120 - 71) + "  75%");
    line.end();
    EXPECT_EQ(visibleLine(written.get()), "");
    const size_t before = written.get().size();
    kaProgress::report(5, 8);
    EXPECT_EQ(written.get().size(), before) << "a report after the stage ended is not shown";
}

// The .kab reader counts each byte twice (checksummed, then parsed) and the writer once; both
// go up and end at their totals.
TEST(Progress, KabFilesReportTheirBytes)
{
    kaRegisterFileClasses();
    auto list = make<kaFloatList>();
    for (int i = 0; i < 600000; ++i) list->append(float(i));
    auto file = make<kaKABFile>();
    auto entry = make<kaObjectDirEntry>();
    entry->setEntryName("root");
    entry->setObject(list);
    file->getDirectory()->append(entry);
    // Something small after the large block, read from the window and not from the file.
    auto tail = make<kaObjectDirEntry>();
    tail->setEntryName("tail");
    tail->setObject(make<kaFloatList>());
    file->getDirectory()->append(tail);
    kaTest::kaScratchDir scratch;
    const std::string path = (scratch / "big.kab").string();

    kaHeard heard;
    kaProgress::listen(&heard, racingClock);
    const bool written = file->write(path.c_str());
    const std::vector<std::pair<uint64_t, uint64_t>> writing = heard.reports;
    heard.reports.clear();
    auto read = make<kaKABFile>();
    const bool wasRead = read->read(path.c_str());
    kaProgress::listen(nullptr);
    ASSERT_TRUE(written && wasRead) << file->getError() << read->getError();
    const uint64_t size = std::filesystem::file_size(path);
    for (const auto& [what, reports, total] :
         {std::tuple{"writing", writing, size}, std::tuple{"reading", heard.reports, 2 * size}}) {
        ASSERT_GE(reports.size(), 2u) << what;
        for (size_t i = 0; i < reports.size(); ++i) {
            EXPECT_EQ(reports[i].second, total) << what;
            if (i) EXPECT_GE(reports[i].first, reports[i - 1].first) << what;
        }
        EXPECT_EQ(reports.back().first, total) << what;
    }
}

namespace {

class kaProgressTraverse : public Lode::Opt::kaOptTraverseGraph {
    KA_DECLARE_CLASS(kaProgressTraverse, Lode::Opt::kaOptTraverseGraph)
public:
    bool preTraverse() override { return setTraversalNodeMeta(Lode::Sg::kaGroup::getClassMetaSafe()), true; }
};
KA_IMPLEMENT_CLASS(kaProgressTraverse)

class kaProgressReplace : public Lode::Opt::kaOptReplaceNode {
    KA_DECLARE_CLASS(kaProgressReplace, Lode::Opt::kaOptReplaceNode)
public:
    kaMetaObject* getNodeMeta() override { return Lode::Sg::kaGroup::getClassMetaSafe(); }
};
KA_IMPLEMENT_CLASS(kaProgressReplace)

class kaProgressVisit : public Lode::Opt::kaOptVisitObject {
    KA_DECLARE_CLASS(kaProgressVisit, Lode::Opt::kaOptVisitObject)
public:
    kaMetaObject* getVisitedObjectMeta() override { return Lode::Sg::kaGroup::getClassMetaSafe(); }
};
KA_IMPLEMENT_CLASS(kaProgressVisit)

} // namespace

// Each kind of pass reports the groups it has done of those it walks, before each one.
TEST(Progress, PassesReportTheNodesTheyHaveWalked)
{
    auto root = make<Lode::Sg::kaGroup>("root");
    for (int i = 0; i < 4; ++i) root->appendChild(make<Lode::Sg::kaGroup>());
    root->appendChild(make<Lode::Sg::kaNode>());
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}};
    for (kaSmartPointer<Lode::Opt::kaOptBase> pass : std::initializer_list<kaSmartPointer<Lode::Opt::kaOptBase>>{
             make<kaProgressTraverse>(), make<kaProgressReplace>(), make<kaProgressVisit>()}) {
        kaHeard heard;
        kaProgress::listen(&heard, racingClock);
        kaSmartPointer<Lode::Sg::kaNode> top = root.get();
        pass->apply(top);
        kaProgress::listen(nullptr);
        EXPECT_EQ(heard.reports, expected) << pass->getMetaObject()->getName();
    }
}
