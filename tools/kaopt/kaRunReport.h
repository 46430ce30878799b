// What kaopt keeps of each input's run: the passes with what they printed and how long they took,
// the warnings with their loss mark, and the scene counted as read and as written. --report
// FILE.json writes it for scripts to read:
//   {"kaopt": VERSION, "script": PATH, "inputs": [{"input", "output", "status", "seconds",
//    "passes": [{"class", "seconds", "messages"}], "warnings": [{"text", "loss"}],
//    "before": COUNTS, "after": COUNTS, "error" (a failed run)}]}
// --report FILE.html writes it as a page to look at (kaReportPage.h).
#pragma once

#include "host/core/kaFileCommit.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaSceneCounts.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace Lode::Tools {

struct kaPassRecord {
    std::string className;
    double seconds = 0.0;
    std::vector<std::string> messages;  // the lines the pass printed, in order
};

// One level of a texture as a picture: a PNG of its pixels, and what it takes.
struct kaLevelPicture {
    int width = 0;
    int height = 0;
    std::string format; // the pixel format's name ("RGBA8")
    int64_t bytes = 0; // of pixel data
    std::vector<uint8_t> png;
};

struct kaTexturePicture {
    std::string name;
    std::vector<kaLevelPicture> levels; // level 0 first; an empty level has no pixels
};

// What an HTML report shows beyond the counts: the scene as read and as the passes left it, as
// .glb bytes for the page's 3D views, and every texture a pass changed or made.
class kaRunPictures {
public:
    // The scene as read, before any pass: its .glb, and which pixels its images hold.
    void takeBefore(Lode::Sg::kaInfoList* infos);
    // The scene as the passes left it: its .glb, and every texture with a level whose pixels are
    // none that takeBefore saw, with all its levels.
    void takeAfter(Lode::Sg::kaInfoList* infos);

    std::vector<uint8_t> before, after; // empty when not made, and then the error says why
    std::string beforeError, afterError;
    std::vector<kaTexturePicture> textures;

private:
    std::unordered_set<uint64_t> _beforePixels;
};

// The scene as .glb bytes, written by the glTF writer into a private temporary folder that is
// removed again; what the writer warns of is not the run's. False with a reason.
bool kaSceneAsGlb(Lode::Sg::kaInfoList* infos, std::vector<uint8_t>& bytes, std::string& error);

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
    kaRunPictures pictures; // made only for an HTML report

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
// Writes a report's text to path, atomically; false with a reason.
bool kaWriteReportFile(const std::string& path, const std::string& text, std::string& error);

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
