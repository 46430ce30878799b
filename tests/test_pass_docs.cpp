// The pass reference pages, docs/passes/CLASS.md, are made from the code by `kaopt describe
// --markdown` (make docs): each committed page must be what the code makes of it now, and every
// pass of the registration table must have its reference text and its page.
#include "extension/kaPassNames.h"
#include "kaTestTools.h"
#include "extension/kaOptExtensionLibrary.h"
#include "tools/kaopt/kaPassPage.h"

#include <gtest/gtest.h>

#include <set>

namespace fs = std::filesystem;
using namespace kaTest;

namespace {

const std::vector<std::string> kTable(std::begin(Lode::kaPassNames), std::end(Lode::kaPassNames));

const std::vector<std::string> kDocumented{
#define KA_PASS(Class, summary)
#define KA_PASS_DOC(Class, doc) #Class,
#include "extension/kaPassTable.def"
#undef KA_PASS_DOC
#undef KA_PASS
};

// Where two texts first differ, line by line, for the failure message.
std::string firstDifference(const std::string& committed, const std::string& generated)
{
    std::istringstream a(committed), b(generated);
    std::string lineA, lineB;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, lineA)), moreB = static_cast<bool>(std::getline(b, lineB));
        if (!moreA && !moreB) return "they differ only in line ends";
        if (!moreA || !moreB || lineA != lineB)
            return "line " + std::to_string(line) + " is\n  " + (moreA ? lineA : "(the end)") + "\nand the code makes\n  " +
                   (moreB ? lineB : "(the end)");
    }
}

} // namespace

TEST(PassPages, EveryPassOfTheTableHasTheCommittedPageTheCodeMakes)
{
    EXPECT_EQ(kDocumented, kTable) << "each KA_PASS line of extension/kaPassTable.def needs its KA_PASS_DOC below it";
    kaScratchDir scratch;
    const kaRunResult made = runKaopt("describe --markdown --out-dir " + scratch.path().string());
    ASSERT_EQ(made.status, 0) << made.err;

    const fs::path committed = fs::path(KA_SOURCE_DIR) / "docs" / "passes";
    std::set<std::string> unclaimed;
    if (fs::is_directory(committed))
        for (const auto& entry : fs::directory_iterator(committed)) unclaimed.insert(entry.path().filename().string());
    for (const std::string& name : kTable) {
        const std::string page = name + ".md";
        if (!unclaimed.erase(page)) {
            ADD_FAILURE() << name << " has no page docs/passes/" << page << ": run `make docs` and commit it";
            continue;
        }
        const std::string generated = readText(scratch / page), text = readText(committed / page);
        EXPECT_TRUE(text == generated) << "docs/passes/" << page << " is not what the code makes of " << name << ": "
                                       << firstDifference(text, generated)
                                       << "\nrun `make docs` and commit the page";
    }
    for (const std::string& stray : unclaimed)
        ADD_FAILURE() << "docs/passes/" << stray << " belongs to no pass of the table: remove it";
}

// The reference text: Markdown on what the pass does, then its entries, each in its section; a
// section without entries says so; reflected text is escaped where Markdown would read markup.
TEST(PassPages, ReferenceTextSectionsAndEscapes)
{
    Lode::kaOptExtensionLibrary_arkRegister();
    const Lode::Core::kaMetaObject* mipmap = Lode::Core::kaMetaObject::findClass("kaUseMipmap");
    ASSERT_NE(mipmap, nullptr);
    const struct {
        const char* doc;
        std::vector<std::string> expected;  // parts of the page, or of the error when the first is "error"
    } cases[] = {
        {nullptr, {"# kaUseMipmap\n\ngives tagged", "Base class: `kaOptVisitObject`.\n\n## Fields\n",
                   "directories split at / or \\\\) and", "`Lanczos3` | filter", "values: `Point` (0), `Box` (1)"}},
        {"First.\n\nSecond `x`.\n@loses y\n@reads `k`: z\n",
         {"\n\nFirst.\n\nSecond `x`.\n\n## Fields\n", "\n## Registry keys it reads\n\n- `k`: z\n",
          "\n## Messages\n\nStandard output, unless an entry says otherwise.\n\nNone: it prints nothing.\n",
          "\n## What it can lose\n\n- y\n"}},
        {"@prints one\n@prints two\n", {"\n## Messages\n\nStandard output, unless an entry says otherwise.\n\n- one\n- two\n"
                                        "\n## What it can lose\n\nNothing.\n"}},
        {"@prints one\nafter the entries\n", {"error", "kaUseMipmap: 'after the entries' is not an entry"}},
        {"@warns x\n", {"error", "'@warns x'"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doc ? c.doc : "(no text)");
        std::string page, error;
        const bool made = Lode::Tools::kaPassPage(*mipmap, c.doc, page, error);
        const bool failing = c.expected.front() == "error";
        EXPECT_EQ(made, !failing) << error;
        for (size_t i = failing ? 1 : 0; i < c.expected.size(); ++i)
            EXPECT_NE((failing ? error : page).find(c.expected[i]), std::string::npos) << c.expected[i] << "\n" << page;
        if (!c.doc) {
            EXPECT_EQ(page.find("## Messages"), std::string::npos);
        }
    }
}

// describe prints one class's fields or page, or writes every page: never both, never neither.
TEST(PassPages, DescribeTakesAClassOrAFolder)
{
    const struct {
        const char* arguments;
        int status;
        const char* expected;  // part of what it printed: standard output on success, else standard error
    } cases[] = {
        {"describe --markdown kaEmpty", 0, "# kaEmpty\n\ndoes nothing; loads and saves a scene unchanged.\n"},
        {"describe", 2, "describe takes either CLASS or --markdown --out-dir FOLDER"},
        {"describe --markdown --out-dir pages kaEmpty", 2, "describe takes either CLASS or --markdown --out-dir FOLDER"},
        {"describe --out-dir pages", 2, "--out-dir requires --markdown"},
        {"describe --markdown kaEmpt", 2, "unknown pass class 'kaEmpt'; did you mean kaEmpty?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const kaRunResult run = runKaopt(c.arguments);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE((c.status == 0 ? run.out : run.err).find(c.expected), std::string::npos) << run.out << run.err;
    }
}
