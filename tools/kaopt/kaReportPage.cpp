#include "tools/kaopt/kaReportPage.h"

#include "host/core/kaText.h"
#include "host/io/kaGltfCommon.h"
#include "tools/kaopt/kaCommands.h"
#include "tools/kaopt/kaReportAssets.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace Lode::Tools {

using Lode::Core::kaFormat;
using Lode::Core::kaWarning;
using Lode::Io::kaSceneCountKey;
using Lode::Io::kaSceneCountKeys;
using Lode::Io::kaSceneCounts;
using Json = nlohmann::json;

namespace {

std::string dataUri(std::string_view mime, const uint8_t* data, size_t size)
{
    return "data:" + std::string(mime) + ";base64," + Lode::Io::kaBase64(data, size);
}

// 1234567 as "1,234,567".
std::string grouped(int64_t value)
{
    const std::string digits = std::to_string(value < 0 ? -value : value);
    std::string text = value < 0 ? "\u2212" : "";
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string megabytes(size_t bytes) { return kaFormat("%.1f MB", double(bytes) / double(1 << 20)); }

// "morphTargets" as "morph targets".
std::string countLabel(std::string_view key)
{
    std::string label;
    for (const char c : key) {
        if (std::isupper(static_cast<unsigned char>(c))) {
            label += ' ';
            label += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            label += c;
        }
    }
    return label;
}

std::string fileName(const std::string& path)
{
    const std::string name = std::filesystem::path(path).filename().string();
    return name.empty() ? path : name;
}

const char* statusMeaning(int status)
{
    switch (status) {
    case kExitSuccess: return "saved";
    case kExitPassRefused: return "a pass refused";
    case kExitBadInput: return "not saved";
    case kExitLoss: return "lost something";
    default: return "ended";
    }
}

std::string statusBadge(int status)
{
    return "<span class=\"status " + std::string(status == kExitSuccess ? "ok" : "failed") + "\" data-status=\"" +
           std::to_string(status) + "\">" + statusMeaning(status) +
           (status == kExitSuccess ? "" : " \u00b7 exit " + std::to_string(status)) + "</span>";
}

void openPage(std::string& page, const std::string& title)
{
    page += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta name=\"generator\" content=\"kaopt " KA_VERSION "\">\n<title>" +
            kaHtmlEscape(title) + "</title>\n<style>\n" + std::string(kaReportStyle()) + "</style>\n";
}

void fact(std::string& page, std::string_view term, const std::string& value)
{
    page += "<div><dt>" + std::string(term) + "</dt><dd>" + value + "</dd></div>";
}

// The import map that gives three's modules their specifiers as data: URIs, three's licence, and
// the page's own module.
void viewScripts(std::string& page)
{
    page += "<!--\nthree.js, carried by this page for its 3D views:\n" + std::string(kaThreeLicence()) +
            "-->\n<script type=\"importmap\">\n{\"imports\": {";
    const char* separator = "\n";
    for (const kaReportModule& module : kaThreeModules()) {
        page += separator;
        page +=
            "\"" + std::string(module.specifier) + "\": \"" +
            dataUri("text/javascript", reinterpret_cast<const uint8_t*>(module.source.data()), module.source.size()) +
            "\"";
        separator = ",\n";
    }
    page += "\n}}\n</script>\n<script type=\"module\">\n" + std::string(kaReportScript()) + "</script>\n";
}

void viewsSection(std::string& page, const kaInputRecord& record, size_t sceneBytesLimit, bool views)
{
    const kaRunPictures& pictures = record.pictures;
    const size_t sceneBytes = pictures.before.size() + pictures.after.size();
    page += "<section id=\"views\">\n<h2>Scene</h2>\n";
    if (sceneBytes > sceneBytesLimit) {
        page += "<p class=\"notice\">The scene as read and as written take " + megabytes(sceneBytes) +
                " together as .glb, more than the " + megabytes(sceneBytesLimit) +
                " a report carries: the 3D views are left out.</p>\n</section>\n";
        return;
    }
    if (sceneBytes == 0) {
        page += "<p class=\"notice\">No scene to show: " +
                kaHtmlEscape(pictures.beforeError.empty() ? "the run ended before reading it" : pictures.beforeError) +
                ".</p>\n</section>\n";
        return;
    }
    if (!views)
        page += "<p class=\"notice\">This kaopt was built without three.js: the 3D views are unavailable; "
                "the scenes can still be downloaded.</p>\n";
    else
        page += "<div class=\"toolbar\">"
                "<button type=\"button\" id=\"reset-view\" title=\"Back to the first view\">Reset view</button>"
                "<span class=\"animation-controls\" hidden>"
                "<button type=\"button\" id=\"play\" aria-pressed=\"false\">Play</button>"
                "<select id=\"clip\" aria-label=\"Animation\"></select>"
                "<input type=\"range\" id=\"time\" min=\"0\" max=\"1\" step=\"0.001\" value=\"0\" aria-label=\"Time\">"
                "<output id=\"time-text\">0.00 s</output></span>"
                "<label><input type=\"checkbox\" id=\"influences\"> Bone influences</label>"
                "<label><input type=\"checkbox\" id=\"wireframe\"> Wireframe</label>"
                "<span class=\"legend\" hidden>"
                "<i style=\"--c:#9aa0a6\">0</i><i style=\"--c:#4e79a7\">1</i><i style=\"--c:#59a14f\">2</i>"
                "<i style=\"--c:#edc948\">3</i><i style=\"--c:#f28e2b\">4</i><i style=\"--c:#e15759\">5+</i>"
                "</span></div>\n"
                "<div class=\"stage\"><canvas id=\"view-canvas\"></canvas>";
    const std::string stem = std::filesystem::path(record.input).stem().string();
    std::string downloads;
    for (const bool after : {false, true}) {
        const std::vector<uint8_t>& glb = after ? pictures.after : pictures.before;
        const std::string& error = after ? pictures.afterError : pictures.beforeError;
        const char* side = after ? "after" : "before";
        if (views)
            page += std::string("<div class=\"pane\" data-side=\"") + side + "\"><span class=\"pane-label\">" +
                    (after ? "After" : "Before") + "</span><span class=\"pane-note\">" +
                    (glb.empty() ? kaHtmlEscape(error.empty() ? "not made: the run ended first" : error) : "") +
                    "</span></div>";
        if (!glb.empty())
            downloads += std::string("<a class=\"glb\" data-side=\"") + side + "\" download=\"" +
                         kaHtmlEscape(stem + "." + side + ".glb") + "\" href=\"" +
                         dataUri("model/gltf-binary", glb.data(), glb.size()) + "\">" + side + ".glb \u00b7 " +
                         grouped(static_cast<int64_t>(glb.size())) + " bytes</a>";
    }
    if (views) page += "</div>\n";
    page += "<p class=\"downloads\">" + downloads + "</p>\n</section>\n";
}

void ledgerSection(std::string& page, const kaInputRecord& record)
{
    page +=
        "<section id=\"ledger\">\n<h2>Ledger</h2>\n<table class=\"ledger\">\n<thead><tr><th scope=\"col\">Count</th>"
        "<th scope=\"col\" class=\"number\">Before</th><th scope=\"col\" class=\"number\">After</th>"
        "<th scope=\"col\" class=\"number\">Difference</th><th scope=\"col\"></th></tr></thead>\n<tbody>\n";
    for (const kaSceneCountKey& key : kaSceneCountKeys) {
        const bool lost = std::any_of(record.warnings.begin(), record.warnings.end(), [&](const kaWarning& warning) {
            return warning.loss && warning.count == key.name;
        });
        std::string row = std::string("<tr data-count=\"") + key.name + "\"";
        std::string cells;
        for (const auto* counts : {&record.before, &record.after}) {
            if (*counts) {
                const int64_t value = (**counts).*key.member;
                row += std::string(counts == &record.before ? " data-before=\"" : " data-after=\"") +
                       std::to_string(value) + "\"";
                cells += "<td class=\"number\">" + grouped(value) + "</td>";
            } else {
                cells += "<td class=\"number missing\">\u2014</td>";
            }
        }
        std::string difference = "<td class=\"number missing\">\u2014</td>";
        if (record.before && record.after) {
            const int64_t before = (*record.before).*key.member, change = (*record.after).*key.member - before;
            const char* kind = change < 0 ? "fall" : change > 0 ? "rise" : "same";
            difference = std::string("<td class=\"number ") + kind + "\">" + (change > 0 ? "+" : "") +
                         (change == 0 ? "0" : grouped(change)) +
                         (change != 0 && before != 0
                              ? kaFormat(" <small>(%+.1f%%)</small>", 100.0 * double(change) / double(before))
                              : "") +
                         "</td>";
        }
        page += row + (lost ? " class=\"loss\"" : "") + "><th scope=\"row\">" + countLabel(key.name) + "</th>" + cells +
                difference + "<td>" + (lost ? "<span class=\"tag loss\">loss</span>" : "") + "</td></tr>\n";
    }
    page += "</tbody>\n</table>\n";
    if (!record.warnings.empty()) {
        page += "<h3>Warnings</h3>\n<ul class=\"warnings\">\n";
        for (const kaWarning& warning : record.warnings)
            page += std::string("<li") +
                    (warning.loss ? " class=\"loss\"><span class=\"tag loss\">loss</span> "
                                  : "><span class=\"tag\">warning</span> ") +
                    kaHtmlEscape(warning.text) + "</li>\n";
        page += "</ul>\n";
    }
    page += "</section>\n";
}

void passesSection(std::string& page, const kaInputRecord& record)
{
    page += "<section id=\"passes\">\n<h2>Passes</h2>\n";
    if (record.passes.empty()) page += "<p class=\"notice\">No pass ran.</p>\n";
    for (size_t i = 0; i < record.passes.size(); ++i) {
        const kaPassRecord& pass = record.passes[i];
        page += "<details class=\"pass\"><summary><span class=\"pass-index\">" + std::to_string(i + 1) +
                "</span><span class=\"pass-name\">" + kaHtmlEscape(pass.className) +
                "</span><span class=\"pass-lines\">" + std::to_string(pass.messages.size()) +
                (pass.messages.size() == 1 ? " line" : " lines") + "</span><span class=\"pass-time\">" +
                kaFormat("%.3f s", pass.seconds) + "</span></summary>";
        if (pass.messages.empty()) {
            page += "<p class=\"quiet\">The pass printed nothing.</p>";
        } else {
            page += "<pre>";
            for (const std::string& line : pass.messages) page += kaHtmlEscape(line) + "\n";
            page += "</pre>";
        }
        page += "</details>\n";
    }
    page += "</section>\n";
}

void texturesSection(std::string& page, const kaInputRecord& record)
{
    const std::vector<kaTexturePicture>& textures = record.pictures.textures;
    if (textures.empty()) return;
    page += "<section id=\"textures\">\n<h2>Textures changed or made by the passes</h2>\n";
    // Level 0 of each texture is shown at most this wide or high; every level keeps its size
    // relative to it, so the sheet shows how the chain shrinks.
    constexpr double kLargest = 256.0;
    for (const kaTexturePicture& texture : textures) {
        int largest = 1;
        for (const kaLevelPicture& level : texture.levels) largest = std::max({largest, level.width, level.height});
        const double scale = std::min(1.0, kLargest / largest);
        page += "<div class=\"texture\"><h3>" + kaHtmlEscape(texture.name.empty() ? "(unnamed)" : texture.name) +
                "</h3><div class=\"sheet\">";
        for (size_t i = 0; i < texture.levels.size(); ++i) {
            const kaLevelPicture& level = texture.levels[i];
            page += "<figure class=\"level\">";
            if (!level.png.empty())
                page +=
                    kaFormat("<img alt=\"level %zu\" width=\"%.2f\" height=\"%.2f\" "
                             "style=\"width:%.2fpx;height:%.2fpx\" src=\"",
                             i, level.width * scale, level.height * scale, level.width * scale, level.height * scale) +
                    dataUri("image/png", level.png.data(), level.png.size()) + "\">";
            page +=
                "<figcaption><b>" +
                (level.width == 0 ? std::string("level ") + std::to_string(i) + ": empty"
                                  : std::to_string(level.width) + " \u00d7 " + std::to_string(level.height)) +
                "</b>" +
                (level.width == 0 ? ""
                                  : "<br>" + kaHtmlEscape(level.format) + " \u00b7 " + grouped(level.bytes) + " B") +
                "</figcaption></figure>";
        }
        page += "</div></div>\n";
    }
    page += "</section>\n";
}

} // namespace

bool kaIsPagePath(const std::string& path) { return std::filesystem::path(path).extension() == ".html"; }

std::string kaHtmlEscape(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string kaReportPage(const kaInputRecord& record, const std::string& script, size_t sceneBytesLimit)
{
    const kaRunPictures& pictures = record.pictures;
    const size_t sceneBytes = pictures.before.size() + pictures.after.size();
    const bool views = !kaThreeModules().empty() && sceneBytes > 0 && sceneBytes <= sceneBytesLimit;
    std::string page;
    openPage(page, fileName(record.input) + " \u00b7 kaopt report");
    if (views) viewScripts(page);
    page += "</head>\n<body>\n<header class=\"top\">\n<div class=\"title\"><h1>" +
            kaHtmlEscape(fileName(record.input)) + "</h1>" + statusBadge(record.status) +
            "</div>\n<dl class=\"facts\">";
    fact(page, "input", kaHtmlEscape(record.input));
    fact(page, "output",
         record.output.empty() ? "<span class=\"quiet\">not saved anywhere</span>" : kaHtmlEscape(record.output));
    fact(page, "script", kaHtmlEscape(script));
    fact(page, "time", kaFormat("%.2f s", record.seconds));
    fact(page, "kaopt", KA_VERSION);
    page += "</dl>\n</header>\n<main>\n";
    if (record.status != 0)
        page += "<p class=\"error\">" + kaHtmlEscape(record.error.empty() ? "the run failed" : record.error) + "</p>\n";
    viewsSection(page, record, sceneBytesLimit, views);
    ledgerSection(page, record);
    passesSection(page, record);
    texturesSection(page, record);
    page += "</main>\n</body>\n</html>\n";
    return page;
}

std::string kaReportIndex(const std::string& script, const std::vector<Json>& entries,
                          const std::vector<std::string>& pages)
{
    const auto number = [](const Json& counts, const char* key) -> const Json* {
        return counts.is_object() && counts.contains(key) && counts[key].is_number() ? &counts[key] : nullptr;
    };
    std::string rows;
    int saved = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Json& entry = entries[i];
        const std::string input = entry.value("input", "");
        const int status = entry.value("status", 2);
        saved += status == 0;
        int64_t losses = 0;
        if (entry.contains("warnings") && entry["warnings"].is_array())
            for (const Json& warning : entry["warnings"]) losses += warning.value("loss", false);
        const std::string link = i < pages.size() && !pages[i].empty()
                                     ? "<a href=\"" + kaHtmlEscape(pages[i]) + "\">" + kaHtmlEscape(input) + "</a>"
                                     : kaHtmlEscape(input);
        rows += "<tr><td data-value=\"" + kaHtmlEscape(input) + "\">" + link + "</td><td data-value=\"" +
                std::to_string(status) + "\">" + statusBadge(status) + "</td><td class=\"number" +
                (losses ? " lost" : "") + "\" data-value=\"" + std::to_string(losses) + "\">" + std::to_string(losses) +
                "</td>";
        for (const char* side : {"before", "after"}) {
            const Json* bytes = entry.contains(side) ? number(entry[side], "fileBytes") : nullptr;
            rows += bytes ? "<td class=\"number\" data-value=\"" + bytes->dump() + "\">" +
                                grouped(bytes->get<int64_t>()) + "</td>"
                          : std::string("<td class=\"number missing\" data-value=\"-1\">\u2014</td>");
        }
        const double seconds = entry.value("seconds", 0.0);
        rows += kaFormat("<td class=\"number\" data-value=\"%.6f\">%.2f</td></tr>\n", seconds, seconds);
    }
    std::string page;
    openPage(page, "kaopt batch report");
    page += "<script>\n" + std::string(kaReportIndexScript()) +
            "</script>\n</head>\n<body>\n<header class=\"top\">\n"
            "<div class=\"title\"><h1>Batch of " +
            std::to_string(entries.size()) + (entries.size() == 1 ? " input" : " inputs") +
            "</h1></div>\n<dl class=\"facts\">";
    fact(page, "script", kaHtmlEscape(script));
    fact(page, "saved", std::to_string(saved) + " of " + std::to_string(entries.size()));
    fact(page, "kaopt", KA_VERSION);
    page += "</dl>\n</header>\n<main>\n<section>\n<table class=\"index sortable\">\n<thead><tr>"
            "<th scope=\"col\" data-type=\"text\">Input</th><th scope=\"col\" data-type=\"number\">Status</th>"
            "<th scope=\"col\" class=\"number\" data-type=\"number\">Losses</th>"
            "<th scope=\"col\" class=\"number\" data-type=\"number\">Bytes before</th>"
            "<th scope=\"col\" class=\"number\" data-type=\"number\">Bytes after</th>"
            "<th scope=\"col\" class=\"number\" data-type=\"number\">Seconds</th></tr></thead>\n<tbody>\n" +
            rows + "</tbody>\n</table>\n</section>\n</main>\n</body>\n</html>\n";
    return page;
}

std::string kaReportPagePath(const std::string& indexPath, const std::string& outputPath)
{
    return (std::filesystem::path(indexPath).parent_path() / (fileName(outputPath) + ".html")).string();
}

} // namespace Lode::Tools
