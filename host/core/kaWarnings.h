// Warnings of a run. The readers and writers of scene files and the passes say here what they
// could not keep; each warning is printed on standard error as it comes and kept, in order, for
// the run's report. A loss is a warning that something the scene held is gone from what is
// written (dropped, left unread, cleared): kaopt names every loss and fails a --strict run that
// has one.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Lode::Core {

struct kaWarning {
    std::string text;  // as printed, without its "WARNING: " or "LOSS: " mark
    bool loss = false;
    // For a loss: the scene count it lowers ("meshes", "animations", ...), when it lowers one,
    // so that the fall of that count is known to be explained.
    std::string count;
};

// Prints "WARNING: TEXT" on standard error and keeps the warning.
void kaWarn(const std::string& text);
// Prints "LOSS: TEXT" on standard error and keeps it as a loss of the named count ("" for none).
void kaNoteLoss(const std::string& text, const std::string& count = "");
// Keeps a warning that its caller has printed in words of its own.
void kaKeepWarning(const std::string& text);
// The warnings kept since the last call, in the order they came; they are kept no longer.
std::vector<kaWarning> kaTakeWarnings();

// Called before a warning is printed (null: nothing is), so that a line drawn in place on the
// same terminal can be erased first; returns the one installed before.
using kaBeforeWarningPrinted = void (*)(void* context);
std::pair<kaBeforeWarningPrinted, void*> kaSetBeforeWarningPrinted(kaBeforeWarningPrinted call, void* context);

// While one lives, warnings are neither printed nor kept: what a run reads back of its own
// output tells nothing new about the run.
class kaWarningsSilenced {
public:
    kaWarningsSilenced();
    ~kaWarningsSilenced();
    kaWarningsSilenced(const kaWarningsSilenced&) = delete;
    kaWarningsSilenced& operator=(const kaWarningsSilenced&) = delete;
};

} // namespace Lode::Core
