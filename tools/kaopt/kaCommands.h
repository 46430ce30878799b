// The kaopt sub-commands. Standard output carries only what passes print; kaopt's own words go
// to standard error. Each returns the process exit status: 0 success, 1 a pass refused its
// settings, 2 bad usage, bad script or input, or output that cannot be written.
#pragma once

#include <string>

namespace Lode::Tools {

enum kaExitStatus { kExitSuccess = 0, kExitPassRefused = 1, kExitBadInput = 2 };

struct kaRunOptions {
    std::string scriptPath;
    std::string pluginPath;
    std::string inputPath;
    std::string outputPath;
    bool useExample = false;
    bool keepGoing = false;
    bool quiet = false;
};

// Reads the input (or builds the example), runs the script's passes over it and, with an
// output path, saves the result through the optimizer interface.
int kaRunCommand(const kaRunOptions& options);
int kaListCommand(const std::string& pluginPath);
int kaDescribeCommand(const std::string& pluginPath, const std::string& className);
// Prints the scene in a file as an indented tree, or as JSON.
int kaInfoCommand(const std::string& path, bool json);
// Reads a scene file and writes it in the format of the output's extension.
int kaConvertCommand(const std::string& inputPath, const std::string& outputPath);
// Writes the built-in example scene.
int kaMakeExampleCommand(const std::string& outputPath);

} // namespace Lode::Tools
