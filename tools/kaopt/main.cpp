// kaopt: loads the KAOptExtension plug-in, reads a scene, runs a script of passes over it and
// saves the result.
#include "tools/kaopt/kaCommands.h"

#include "host/core/kaFileCommit.h"

#include <CLI/CLI.hpp>

#include <csignal>

namespace {

// An interrupted run leaves no temporary file behind, then ends as the signal would have ended it.
extern "C" void onInterrupt(int signal)
{
    Lode::Core::kaFileCommit::removeAllTemporaries();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace Lode::Tools;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    CLI::App app{"kaopt: runs KAOptExtension optimization passes over scenes"};
    app.require_subcommand(1);
    std::string pluginPath;

    kaRunOptions run;
    CLI::App* runCommand = app.add_subcommand("run", "run an optimization script over a scene");
    runCommand->add_option("--script", run.scriptPath, "the optimization script")->required();
    runCommand->add_option("--plugin", run.pluginPath, "the pass library (default: beside kaopt)");
    runCommand->add_option("-o,--output", run.outputPath, "where to save the optimized scene");
    runCommand->add_flag("--example", run.useExample, "use the built-in example scene as input");
    runCommand->add_flag("--keep-going", run.keepGoing, "skip passes that refuse their settings");
    runCommand->add_flag("--quiet", run.quiet, "no progress lines");
    runCommand->add_option("INPUT", run.inputPath, "the input scene");

    CLI::App* listCommand = app.add_subcommand("list", "list the registered pass classes");
    listCommand->add_option("--plugin", pluginPath, "the pass library (default: beside kaopt)");

    std::string className;
    CLI::App* describeCommand = app.add_subcommand("describe", "show a pass class's fields");
    describeCommand->add_option("CLASS", className, "the pass class")->required();
    describeCommand->add_option("--plugin", pluginPath, "the pass library (default: beside kaopt)");

    std::string scenePath;
    bool json = false;
    CLI::App* infoCommand = app.add_subcommand("info", "show a scene file as a tree");
    infoCommand->add_flag("--json", json, "print the tree as JSON");
    infoCommand->add_option("FILE", scenePath, "the scene file")->required();

    std::string outputPath;
    CLI::App* convertCommand = app.add_subcommand("convert", "convert a scene file to the output's format");
    convertCommand->add_option("INPUT", scenePath, "the scene file to read")->required();
    convertCommand->add_option("OUTPUT", outputPath, "the scene file to write (.kab, .gltf or .glb)")->required();

    CLI::App* makeExampleCommand = app.add_subcommand("make-example", "write the built-in example scene");
    makeExampleCommand->add_option("OUTPUT", outputPath, "the scene file to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? kExitSuccess : kExitBadInput;
    }

    if (*runCommand) {
        if (run.useExample && !run.inputPath.empty()) {
            std::fprintf(stderr, "kaopt: give either --example or INPUT, not both\n");
            return kExitBadInput;
        }
        return kaRunCommand(run);
    }
    if (*listCommand) return kaListCommand(pluginPath);
    if (*describeCommand) return kaDescribeCommand(pluginPath, className);
    if (*infoCommand) return kaInfoCommand(scenePath, json);
    if (*convertCommand) return kaConvertCommand(scenePath, outputPath);
    return kaMakeExampleCommand(outputPath);
}
