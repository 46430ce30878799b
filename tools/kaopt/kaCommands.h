// The kaopt sub-commands. Standard output carries only what passes print; kaopt's own words go
// to standard error. Each returns the process exit status: 0 success, 1 a pass refused its
// settings, 2 bad usage, bad script or input, or output that cannot be written, 3 a --strict run
// that lost something.
#pragma once

#include <string>
#include <vector>

namespace Lode::Tools {

enum kaExitStatus { kExitSuccess = 0, kExitPassRefused = 1, kExitBadInput = 2, kExitLoss = 3 };

struct kaRunOptions {
    std::string scriptPath;
    std::string pluginPath;
    std::string inputPath;
    std::string outputPath;
    bool useExample = false;
    bool keepGoing = false;
    bool quiet = false;
    // Script keys that no pass read, and a script without a pass, are errors instead of warnings,
    // and a run with a loss (kaWarnings.h) fails with kExitLoss.
    bool strict = false;
    // Where the JSON report of the run goes (kaRunReport.h); empty: none.
    std::string reportPath;
    // Where the run's page goes (kaReportPage.h); for a batch, the index, with each input's page
    // beside it. Empty: none.
    std::string pagePath;
    // Where a successful run writes its dependency file (kaDepfile.h): the files it wrote depend
    // on every file it read. Empty: none.
    std::string depfilePath;
    // Ends the run with one line on standard error: vertices, images, bytes before and after, seconds.
    bool summary = false;
    // Handed on to the inputs of a batch that run in processes of their own (kaAllowOutsideReferences).
    bool allowOutsideReferences = false;
};

// Many inputs, each run on its own and saved into one folder under its own name.
struct kaBatchOptions {
    kaRunOptions run;  // the script and settings every input shares
    std::vector<std::string> inputPaths;
    std::string outputFolder;
    std::string format;  // "kab", "gltf" or "glb"; empty: each input's own
    int jobs = 1;        // inputs run at once; above 1 each input runs in a kaopt process of its own
};

// The output of one input of a batch: the folder, the input's stem, the format's extension.
std::string kaBatchOutputPath(const kaBatchOptions& options, const std::string& input);
// Refuses, before anything runs, an input that is a folder, an output format that cannot be
// written, and two inputs of one stem, which would overwrite each other's output.
bool kaCheckBatchOutputs(const kaBatchOptions& options, std::string& error);

// Reads the input (or builds the example), runs the script's passes over it and, with an
// output path, saves the result through the optimizer interface.
int kaRunCommand(const kaRunOptions& options);
// Runs every input; one summary line per input and a closing line on standard error. Returns the
// worst exit status of the inputs; a failed input stops or changes none of the others.
int kaBatchCommand(const kaBatchOptions& options);
// SIGINT and SIGTERM remove every temporary file and end the process, and the inputs of a batch
// that run in processes of their own, with status 128 + signal.
void kaInstallSignalHandlers();
// For run: SIGPIPE is ignored, so a closed standard output is a write error, reported at the end,
// and the scene is still saved. The other commands only print: a reader that stops reading
// (kaopt info FILE | head) ends them quietly, as a broken pipe ends any program.
void kaKeepRunningWithoutStandardOutput();
// Flushes standard output; on a write error says so and returns at least kExitBadInput. After a
// run (ranPasses) the message adds that only what the passes printed is affected.
int kaFinishStandardOutput(int status, bool ranPasses);
int kaListCommand(const std::string& pluginPath);
struct kaDescribeOptions {
    std::string pluginPath;
    std::string className;
    bool markdown = false;   // the class's reference page (kaPassPage.h) instead of its fields
    std::string pageFolder;  // not empty: the page of every pass, written there as CLASS.md
};
int kaDescribeCommand(const kaDescribeOptions& options);
// For trusted pipelines: files that inputs refer to are read wherever they lie, not only inside
// the input's folder, for the rest of the process.
void kaAllowOutsideReferences();
// Prints the scene in a file as an indented tree, or as JSON.
int kaInfoCommand(const std::string& path, bool json);
// Reads a scene file and writes it in the format of the output's extension.
int kaConvertCommand(const std::string& inputPath, const std::string& outputPath);
// Writes the built-in example scene.
int kaMakeExampleCommand(const std::string& outputPath);

} // namespace Lode::Tools
