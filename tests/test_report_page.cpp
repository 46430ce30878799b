// kaopt's HTML report: what the page generator escapes, the size limit of the scenes it carries,
// the batch index, and the page of a sample model drawn in a real browser.
#include "kaTestTools.h"
#include "tools/kaopt/kaReportAssets.h"
#include "tools/kaopt/kaReportPage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

using namespace kaTest;
using namespace Lode::Tools;
using Json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

kaInputRecord finishedRecord()
{
    kaInputRecord record;
    record.input = "in/scene.glb";
    record.output = "out/scene.glb";
    record.before = Lode::Io::kaSceneCounts{};
    record.after = Lode::Io::kaSceneCounts{};
    return record;
}

TEST(ReportPage, EscapesEveryTextItShows)
{
    const struct {
        std::string_view text, escaped;
    } escapes[] = {{"a<b>c", "a&lt;b&gt;c"},
                   {"x & y", "x &amp; y"},
                   {"\"q\"", "&quot;q&quot;"},
                   {"it's", "it&#39;s"},
                   {"plain", "plain"}};
    for (const auto& escape : escapes) EXPECT_EQ(kaHtmlEscape(escape.text), escape.escaped);

    // Each place the page shows a text of the run, holding markup that must stay text.
    const std::string hostile = "<img src=x onerror=\"alert('&')\">";
    const std::string shown = kaHtmlEscape(hostile);
    const struct {
        const char* place;
        std::function<void(kaInputRecord&, std::string&)> set;
    } places[] = {
        {"input", [&](kaInputRecord& record, std::string&) { record.input = "in/" + hostile + ".glb"; }},
        {"output", [&](kaInputRecord& record, std::string&) { record.output = hostile; }},
        {"script", [&](kaInputRecord&, std::string& script) { script = hostile; }},
        {"pass class",
         [&](kaInputRecord& record, std::string&) {
             record.passes.push_back({hostile, 0.1, {}});
         }},
        {"pass message",
         [&](kaInputRecord& record, std::string&) {
             record.passes.push_back({"kaEmpty", 0.1, {hostile}});
         }},
        {"warning",
         [&](kaInputRecord& record, std::string&) {
             record.warnings.push_back({hostile, true, ""});
         }},
        {"error", [&](kaInputRecord& record, std::string&) { record.status = 2, record.error = hostile; }},
        {"texture",
         [&](kaInputRecord& record, std::string&) {
             record.pictures.textures.push_back({hostile, {{}}});
         }},
        {"scene error", [&](kaInputRecord& record, std::string&) { record.pictures.beforeError = hostile; }},
    };
    for (const auto& place : places) {
        kaInputRecord record = finishedRecord();
        std::string script = "opt.ini";
        place.set(record, script);
        const std::string page = kaReportPage(record, script);
        EXPECT_EQ(page.find(hostile), std::string::npos) << place.place;
        EXPECT_NE(page.find(shown), std::string::npos) << place.place;
    }
}

TEST(ReportPage, CarriesTheScenesUpToTheLimitTogether)
{
    const struct {
        size_t before, after;
        bool carried;
    } cases[] = {{10, 10, true}, {20, 0, true}, {10, 11, false}, {21, 0, false}};
    constexpr size_t limit = 20;
    for (const auto& sizes : cases) {
        kaInputRecord record = finishedRecord();
        record.pictures.before.assign(sizes.before, 7);
        record.pictures.after.assign(sizes.after, 9);
        record.passes.push_back({"kaUseMipmap", 0.25, {"one line"}});
        const std::string page = kaReportPage(record, "opt.ini", limit);
        const size_t scenes = (sizes.before > 0) + (sizes.after > 0);
        EXPECT_EQ(occurrences(page, "data:model/gltf-binary;base64,"), sizes.carried ? scenes : 0)
            << sizes.before << " + " << sizes.after;
        EXPECT_EQ(page.find("a report carries") != std::string::npos, !sizes.carried)
            << sizes.before << " + " << sizes.after;
        // What does not depend on the scenes stays.
        EXPECT_EQ(occurrences(page, "<tr data-count="), Lode::Io::kaSceneCountKeys.size());
        EXPECT_NE(page.find("kaUseMipmap"), std::string::npos);
    }
}

TEST(ReportPage, IndexHasARowPerInputLinkingItsPage)
{
    const std::vector<Json> entries = {
        {{"input", "a/Fox.glb"},
         {"status", 0},
         {"seconds", 0.5},
         {"warnings", {{{"text", "x"}, {"loss", true}}, {{"text", "y"}, {"loss", false}}}},
         {"before", {{"fileBytes", 1000}}},
         {"after", {{"fileBytes", 800}}}},
        {{"input", "a/<broken>.glb"},
         {"status", 2},
         {"seconds", 0.0},
         {"warnings", Json::array()},
         {"before", nullptr},
         {"after", nullptr}}};
    const std::string index = kaReportIndex("opt.ini", entries, {"Fox.glb.html", ""});
    EXPECT_EQ(occurrences(index, "<tr><td data-value="), 2u);
    EXPECT_EQ(occurrences(index, "<a href="), 1u);
    EXPECT_NE(index.find("<a href=\"Fox.glb.html\">a/Fox.glb</a>"), std::string::npos);
    EXPECT_NE(index.find("data-value=\"1\">1</td>"), std::string::npos); // one loss
    EXPECT_NE(index.find("data-value=\"800\">800</td>"), std::string::npos);
    EXPECT_NE(index.find("a/&lt;broken&gt;.glb"), std::string::npos);
    EXPECT_EQ(kaReportPagePath("reports/index.html", "out/Fox.glb"), "reports/Fox.glb.html");
}

// A batch's pages, one per input beside the index, whether the inputs run in kaopt itself or in
// processes of their own; the input that fails gets its page too.
TEST(ReportPage, BatchWritesAPagePerInputAndAnIndexLinkingThem)
{
    const fs::path box = kaSamples / "BoxTextured" / "BoxTextured.glb",
                   skin = kaSamples / "SimpleSkin" / "SimpleSkin.gltf";
    if (!fs::exists(box) || !fs::exists(skin)) GTEST_SKIP() << "the sample models are missing";
    for (const char* jobs : {"1", "2"}) {
        kaScratchDir scratch;
        writeText(scratch / "opt.ini", "[kaGeometryStatistics]\n");
        writeText(scratch / "broken.glb", "not a scene");
        const kaRunResult run =
            runKaopt("run --script " + (scratch / "opt.ini").string() + " --out-dir " + (scratch / "out").string() +
                     " --format glb -j " + jobs + " --report " + (scratch / "pages" / "index.html").string() + " " +
                     box.string() + " " + (scratch / "broken.glb").string() + " " + skin.string());
        EXPECT_EQ(run.status, 2) << jobs << run.err;
        const std::string index = readText(scratch / "pages" / "index.html");
        EXPECT_EQ(occurrences(index, "<tr><td data-value="), 3u) << jobs;
        for (const char* page : {"BoxTextured.glb.html", "broken.glb.html", "SimpleSkin.glb.html"}) {
            EXPECT_NE(index.find(std::string("<a href=\"") + page + "\">"), std::string::npos) << jobs << " " << page;
            EXPECT_NE(readText(scratch / "pages" / page).find("<tr data-count="), std::string::npos)
                << jobs << " " << page;
        }
    }
}

// The first browser the machine has, or "" when there is none.
std::string browser()
{
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"})
        if (std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0) return name;
    return "";
}

// kaopt writes the page and the JSON report of one run over a sample model; a headless Chromium
// (software WebGL) opens the page from disk and settles, and the DOM it leaves says how many views
// drew. A screenshot of the page stays in the build folder, report-page/.
TEST(ReportPage, BothViewsDrawInABrowserAndTheLedgerIsTheJsonReports)
{
    const fs::path model = kaSamples / "CesiumMan" / "CesiumMan.glb";
    if (!fs::exists(model)) GTEST_SKIP() << model << " is missing";
    const std::string chromium = browser();
    if (chromium.empty()) GTEST_SKIP() << "no browser: install the Debian package chromium";
    ASSERT_FALSE(kaThreeModules().empty()) << "kaopt was built without three.js (make deps installs it)";
    const fs::path folder = fs::path(KA_BINARY_DIR) / "report-page";
    fs::remove_all(folder);
    fs::create_directories(folder);
    writeText(folder / "opt.ini", "[kaGeometryStatistics]\n[kaReduceBlendWeights]\n_blendWeightCount = 2\n"
                                  "[kaUseMipmap]\nmipmapTaggedOnly = false\n");
    const kaRunResult run =
        runKaopt("run --script " + (folder / "opt.ini").string() + " -o " + (folder / "CesiumMan.glb").string() +
                 " --report " + (folder / "CesiumMan.html").string() + " --report " +
                 (folder / "CesiumMan.json").string() + " --quiet " + model.string());
    ASSERT_EQ(run.status, 0) << run.err;

    const kaRunResult dom =
        runCommand(chromium +
                   " --headless=new --no-sandbox --use-angle=swiftshader --enable-unsafe-swiftshader "
                   "--window-size=1400,1800 --hide-scrollbars --virtual-time-budget=60000 --screenshot=" +
                   (folder / "CesiumMan.png").string() + " --dump-dom file://" + (folder / "CesiumMan.html").string());
    ASSERT_EQ(dom.status, 0) << dom.err;
    std::smatch rendered;
    ASSERT_TRUE(std::regex_search(dom.out, rendered, std::regex("<body[^>]*data-rendered=\"(\\d+)\"")))
        << "no view drew; the browser said:\n"
        << dom.err;
    EXPECT_EQ(rendered[1], "2");
    EXPECT_TRUE(fs::exists(folder / "CesiumMan.png"));
    // kaUseMipmap gave CesiumMan's one texture, 1024 x 1024, its chain: eleven levels on the sheet.
    EXPECT_EQ(occurrences(dom.out, "<figure class=\"level\">"), 11u);

    const Json input = Json::parse(readText(folder / "CesiumMan.json"))["inputs"][0];
    const std::regex row("<tr data-count=\"(\\w+)\" data-before=\"(\\d+)\" data-after=\"(\\d+)\"");
    size_t rows = 0;
    for (auto match = std::sregex_iterator(dom.out.begin(), dom.out.end(), row); match != std::sregex_iterator();
         ++match, ++rows) {
        const std::string key = (*match)[1];
        EXPECT_EQ(std::stoll((*match)[2]), input["before"].value(key, -1)) << key;
        EXPECT_EQ(std::stoll((*match)[3]), input["after"].value(key, -1)) << key;
    }
    EXPECT_EQ(rows, input["before"].size());
}

} // namespace
