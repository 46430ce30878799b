// Optimization scripts: an INI-like text, one section per pass run, top to bottom.
//
//     # Reduce to two influences, then report.
//     [kaReduceBlendWeights]
//     _blendWeightCount = 2
//     [kaGeometryStatistics]
//
// `#` and `;` start comments (also after a value); blank lines are ignored, and so is a UTF-8
// byte order mark at the start. Scripts are UTF-8: UTF-16 text is refused with a word on how to
// save it.
#pragma once

#include <string>
#include <vector>

namespace Lode::Tools {

struct kaScriptSetting {
    std::string key;
    std::string value;
    int line = 0;
};

struct kaScriptPass {
    std::string className;
    int line = 0;
    std::vector<kaScriptSetting> settings;
};

struct kaScript {
    std::string path;
    std::vector<kaScriptPass> passes;
};

// Parses script text. On failure returns false with error set to "PATH:LINE: reason".
bool kaParseScript(const std::string& path, const std::string& text, kaScript& script, std::string& error);
// Reads and parses a script file; a missing or unreadable file is an error naming it.
bool kaLoadScript(const std::string& path, kaScript& script, std::string& error);

} // namespace Lode::Tools
