#include "tools/kaopt/kaNinjaCommand.h"

#include "tools/kaopt/kaPlugin.h"

#include <cstdio>
#include <vector>

namespace Lode::Tools {

namespace {

// A path in a build line: "$", " " and ":" are Ninja's own.
std::string ninjaPath(const std::string& path)
{
    std::string escaped;
    for (char c : path) {
        if (c == '$' || c == ' ' || c == ':') escaped += '$';
        escaped += c;
    }
    return escaped;
}

// A word of the command, quoted for the shell Ninja runs it with, then "$" escaped for Ninja.
std::string commandWord(const std::string& word)
{
    const bool plain = !word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                               "0123456789_-+=./,@%") == std::string::npos;
    std::string quoted = plain ? word : "'";
    if (!plain) {
        for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        quoted += "'";
    }
    std::string escaped;
    for (char c : quoted) escaped += c == '$' ? std::string("$$") : std::string(1, c);
    return escaped;
}

} // namespace

int kaNinjaCommand(const kaNinjaOptions& options)
{
    const kaBatchOptions& batch = options.batch;
    const std::string plugin = batch.run.pluginPath.empty() ? kaDefaultPluginPath() : batch.run.pluginPath;
    // The edges run this very kaopt, wherever the build system's PATH would lead.
    const std::string self = kaSelfPath();
    std::vector<std::string> paths = {self, plugin, batch.run.scriptPath, batch.outputFolder};
    paths.insert(paths.end(), batch.inputPaths.begin(), batch.inputPaths.end());
    std::string error = batch.inputPaths.empty() ? "ninja needs input files"
                        : self.empty()           ? "cannot tell where this kaopt binary is (/proc/self/exe)"
                                                 : "";
    if (error.empty() && kaCheckBatchOutputs(batch, error))
        for (const std::string& path : paths)
            if (path.find_first_of("\r\n") != std::string::npos) {
                error = path + ": a file name with a line break cannot be written in a build.ninja";
                break;
            }
    if (!error.empty()) {
        std::fprintf(stderr, "kaopt: %s\n", error.c_str());
        return kExitBadInput;
    }

    std::string flags;
    if (batch.run.strict) flags += " --strict";
    if (batch.run.keepGoing) flags += " --keep-going";
    if (batch.run.allowOutsideReferences) flags += " --allow-outside-references";
    if (options.reports) flags += " --report $out.json";
    std::string text =
        "# Made by kaopt ninja. Each edge is one kaopt run; its dependency file names every file the run\n"
        "# read, so Ninja reruns exactly the outputs whose input, script, plug-in or read files changed.\n"
        "# Paths are as they were given: run ninja in the folder kaopt ninja ran in.\n"
        "ninja_required_version = 1.7\n\n";
    text += "kaopt = " + commandWord(self) + "\n";
    text += "script = " + commandWord(batch.run.scriptPath) + "\n";
    text += "plugin = " + commandWord(plugin) + "\n\n";
    text += "rule kaopt\n  command = $kaopt run --quiet --script $script --plugin $plugin" + flags;
    text += " --depfile $out.d -o $out $input\n"
            "  description = kaopt $input\n"
            "  depfile = $out.d\n"
            "  deps = gcc\n"
            "  restat = 1\n";
    for (const std::string& input : batch.inputPaths) {
        const std::string output = kaBatchOutputPath(batch, input);
        text += "\nbuild " + ninjaPath(output) + (options.reports ? " | " + ninjaPath(output + ".json") : "") +
                ": kaopt " + ninjaPath(input) + " " + ninjaPath(batch.run.scriptPath) + " " + ninjaPath(plugin) +
                "\n  input = " + commandWord(input) + "\n";
    }
    std::fputs(text.c_str(), stdout);
    return kExitSuccess;
}

} // namespace Lode::Tools
