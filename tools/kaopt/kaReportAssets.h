// The texts kaopt's HTML report carries, compiled into kaopt from the files beside this one and
// from the three npm package (cmake/EmbedReportAssets.cmake), so that a page needs nothing else.
#pragma once

#include <string_view>
#include <vector>

namespace Lode::Tools {

// An ES module and the specifier the page's import map gives it.
struct kaReportModule {
    std::string_view specifier;
    std::string_view source;
};

std::string_view kaReportStyle(); // kaReportPage.css: the run's page and the batch's index
std::string_view kaReportScript(); // kaReportPage.js: the module of the 3D views
std::string_view kaReportIndexScript(); // kaReportIndex.js: the index's sorting
// three.js, the modules in the order the page maps them; empty when kaopt was built without it.
const std::vector<kaReportModule>& kaThreeModules();
// three's licence, which the page carries with it; empty without three.
std::string_view kaThreeLicence();

} // namespace Lode::Tools
