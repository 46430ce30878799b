// kaopt's HTML report (--report FILE.html): one self-contained page per input's run, which works
// opened straight from disk and loads nothing: the scene as read and as written side by side in
// two live 3D views (three.js, carried by the page), the ledger of counts, the passes with their
// times and messages, and every texture a pass changed or made as a contact sheet of its levels.
// A batch (--out-dir) gets one page per input and an index of them.
#pragma once

#include "tools/kaopt/kaRunReport.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Lode::Tools {

// The most .glb bytes a page embeds for its two 3D views together. A page above it keeps its
// tables and pictures and says why its views are missing.
constexpr size_t kaReportSceneBytesLimit = size_t(32) << 20;

// True when path names an HTML report (.html), which --report writes as a page instead of JSON.
bool kaIsPagePath(const std::string& path);

// The page of one input's run; script is the path of the run's script.
std::string kaReportPage(const kaInputRecord& record, const std::string& script,
                         size_t sceneBytesLimit = kaReportSceneBytesLimit);

// The index of a batch: one row per input's report entry (kaInputReport) with its status, losses,
// bytes before and after and seconds, sortable by any column. pages[i] is the address of entry
// i's page relative to the index, or empty when it has none.
std::string kaReportIndex(const std::string& script, const std::vector<nlohmann::json>& entries,
                          const std::vector<std::string>& pages);

// Where a batch writes the page of the input saved as outputPath: beside the index, named after
// the output (index out/index.html, output out/Fox.glb: out/Fox.glb.html), so that no page can
// fall on the index.
std::string kaReportPagePath(const std::string& indexPath, const std::string& outputPath);

// Text made safe as HTML element content and as a quoted attribute value.
std::string kaHtmlEscape(std::string_view text);

} // namespace Lode::Tools
