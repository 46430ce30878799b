// What kaopt keeps of each input's run: the passes with what they printed and how long they took,
// the warnings with their loss mark, and the scene counted as read and as written. --report
// FILE.json writes it for scripts to read:
//   {"kaopt": VERSION, "script": PATH, "inputs": [{"input", "output", "status", "seconds",
//    "passes": [{"class", "seconds", "messages"}], "warnings": [{"text", "loss"}],
//    "before": COUNTS, "after": COUNTS, "error" (a failed run)}]}
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaSceneCounts.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace Lode::Tools {

struct kaPassRecord {
    std::string className;
    double seconds = 0.0;
    std::vector<std::string> messages;  // the lines the pass printed, in order
};

struct kaInputRecord {
    std::string input;
    std::string output;  // empty: not saved anywhere
    int status = 0;
    double seconds = 0.0;
    std::string error;  // for a failed run: what kaopt said last
    std::vector<kaPassRecord> passes;
    std::vector<Lode::Core::kaWarning> warnings;
    std::optional<Lode::Io::kaSceneCounts> before, after;
    std::vector<std::string> written; // the files a successful run saved, its output first

    // The kept warnings (kaTakeWarnings) become the record's; true when any of the record's is a loss.
    bool takeWarnings();
    // As takeWarnings, once each fall from before to after that no loss explains
    // (kaUnexplainedFalls) is noted as a loss of its own, where naming the scene.
    bool countLosses(const std::string& where);
};

// The record's entry in the report's "inputs".
nlohmann::json kaInputReport(const kaInputRecord& record);
// Writes the report of a run of script over its inputs to path, atomically; false with a reason.
bool kaWriteRunReport(const std::string& path, const std::string& script, const nlohmann::json& inputs,
                      std::string& error);

// The lines of text, the last one also without a line break.
std::vector<std::string> kaLinesOf(const std::string& text);

// While active, what is written to standard output, by any route (stdio or its descriptor), goes
// to a temporary file instead, so that what one pass prints can be told apart; finish puts
// standard output back and prints what was captured there, in its order.
class kaStandardOutputCapture {
public:
    explicit kaStandardOutputCapture(bool active);
    ~kaStandardOutputCapture();
    kaStandardOutputCapture(const kaStandardOutputCapture&) = delete;
    kaStandardOutputCapture& operator=(const kaStandardOutputCapture&) = delete;
    // Empty when not active.
    std::string finish();

private:
    int _saved = -1;
    std::FILE* _file = nullptr;
};

} // namespace Lode::Tools
