// kaopt: loads the KAOptExtension plug-in, reads a scene, runs a script of passes over it and
// saves the result.
#include "tools/kaopt/kaCommands.h"
#include "tools/kaopt/kaNinjaCommand.h"
#include "tools/kaopt/kaReportPage.h"

#include <CLI/CLI.hpp>

#include <filesystem>

#ifdef KA_JEMALLOC
// Read by jemalloc as it starts, before main; MALLOC_CONF in the environment still overrides it.
// A large scene is millions of small allocations: on huge pages they cost hundreds of page faults
// instead of tens of thousands, which otherwise take much of a whole run's time.
extern "C" {
const char* malloc_conf = "thp:always,metadata_thp:always";
}
#endif

namespace {

using namespace Lode::Tools;

int runCommands(int argc, char** argv, bool& ranPasses)
{
    CLI::App app{"kaopt: runs KAOptExtension optimization passes over scenes"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("kaopt ") + KA_VERSION);
    app.footer("Examples:\n"
               "  kaopt run --script opt.ini -o out.glb in.glb\n"
               "  kaopt run --script opt.ini --out-dir out --format glb -j 4 in/*.gltf\n"
               "  kaopt ninja --script opt.ini --out-dir out in/*.gltf > build.ninja && ninja\n"
               "  kaopt describe kaReduceBlendWeights\n"
               "  kaopt describe --markdown --out-dir docs/passes\n"
               "  kaopt help run\n"
               "Exit status: 0 success; 1 a pass refused its settings; 2 bad usage, script, input or output;\n"
               "3 --strict and something was lost.");
    std::string pluginPath;

    kaBatchOptions batch;
    kaRunOptions& run = batch.run;
    std::vector<std::string> inputPaths;
    CLI::App* runCommand = app.add_subcommand("run", "run an optimization script over a scene, or over many");
    runCommand->add_option("--script", run.scriptPath, "the optimization script")->required();
    runCommand->add_option("--plugin", run.pluginPath, "the pass library (default: beside kaopt)");
    CLI::Option* outputOption =
        runCommand->add_option("-o,--output", run.outputPath, "where to save the optimized scene");
    CLI::Option* folderOption = runCommand->add_option(
        "--out-dir", batch.outputFolder, "save each input's result in this folder, named after the input");
    folderOption->excludes(outputOption);
    runCommand->add_option("--format", batch.format, "the format of the outputs of --out-dir (default: the input's)")
        ->check(CLI::IsMember({"kab", "gltf", "glb"}))
        ->needs(folderOption);
    runCommand->add_option("-j,--jobs", batch.jobs, "with --out-dir, run up to N inputs at once, each in a process of its own")
        ->check(CLI::PositiveNumber)
        ->needs(folderOption);
    runCommand->add_flag("--example", run.useExample, "use the built-in example scene as input");
    runCommand->add_flag("--keep-going", run.keepGoing, "skip passes that refuse their settings");
    runCommand->add_flag("--strict", run.strict,
                         "script keys no pass reads, and a script without a pass, are errors; a run that loses "
                         "anything fails (exit status 3) and writes nothing");
    std::vector<std::string> reportPaths;
    runCommand
        ->add_option("--report", reportPaths,
                     "write the run's report: FILE.json as JSON, FILE.html as a page with the scene before and after "
                     "(with --out-dir: an index, and each input's page beside it); once for each form")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](const std::string& path) {
                const auto extension = std::filesystem::path(path).extension();
                return extension == ".json" || extension == ".html" ? "" : "the report must be a .json or .html file";
            },
            "FILE.json|FILE.html"));
    runCommand->add_option(
        "--depfile", run.depfilePath,
        "after a successful run, write a Make dependency file: the files the run wrote depend on every file it read");
    runCommand->add_flag("--summary", run.summary,
                         "end with one line: vertices, images, bytes before and after, seconds");
    runCommand->add_flag("--quiet", run.quiet, "no progress lines");
    const char* const outsideHelp = "read files that inputs refer to outside their folder (trusted inputs only)";
    runCommand->add_flag("--allow-outside-references", run.allowOutsideReferences, outsideHelp);
    runCommand->add_option("INPUT", inputPaths, "the input scene (with --out-dir: any number)");

    kaNinjaOptions ninja;
    CLI::App* ninjaCommand = app.add_subcommand(
        "ninja", "print a build.ninja that runs the script over each input, rerunning only what changed");
    ninjaCommand->add_option("--script", ninja.batch.run.scriptPath, "the optimization script")->required();
    ninjaCommand->add_option("--plugin", ninja.batch.run.pluginPath, "the pass library (default: beside kaopt)");
    ninjaCommand->add_option("--out-dir", ninja.batch.outputFolder, "the folder of the outputs, named after the inputs")
        ->required();
    ninjaCommand->add_option("--format", ninja.batch.format, "the format of the outputs (default: the input's)")
        ->check(CLI::IsMember({"kab", "gltf", "glb"}));
    ninjaCommand->add_flag("--report", ninja.reports, "each run also writes its JSON report as OUTPUT.json");
    ninjaCommand->add_flag("--keep-going", ninja.batch.run.keepGoing, "skip passes that refuse their settings");
    ninjaCommand->add_flag("--strict", ninja.batch.run.strict, "each run is a --strict run");
    ninjaCommand->add_flag("--allow-outside-references", ninja.batch.run.allowOutsideReferences, outsideHelp);
    ninjaCommand->add_option("INPUT", ninja.batch.inputPaths, "the input scenes")->required();

    CLI::App* listCommand = app.add_subcommand("list", "list the registered pass classes");
    listCommand->add_option("--plugin", pluginPath, "the pass library (default: beside kaopt)");

    kaDescribeOptions describe;
    CLI::App* describeCommand = app.add_subcommand(
        "describe", "show a pass class's fields and what they mean, or its reference page in Markdown");
    describeCommand->add_option("CLASS", describe.className, "the pass class");
    CLI::Option* markdownFlag = describeCommand->add_flag(
        "--markdown", describe.markdown,
        "the reference page: summary, fields, registry keys read, messages, what the pass can lose");
    describeCommand->add_option("--out-dir", describe.pageFolder,
                                "with --markdown and no CLASS, write the page of every pass there as CLASS.md "
                                "(make docs: docs/passes)")
        ->needs(markdownFlag);
    describeCommand->add_option("--plugin", describe.pluginPath, "the pass library (default: beside kaopt)");

    std::string scenePath;
    bool json = false;
    CLI::App* infoCommand = app.add_subcommand("info", "show a scene file as a tree");
    infoCommand->add_flag("--json", json, "print the tree as JSON");
    infoCommand->add_option("FILE", scenePath, "the scene file")->required();
    infoCommand->add_flag("--allow-outside-references", run.allowOutsideReferences, outsideHelp);

    std::string outputPath;
    CLI::App* convertCommand = app.add_subcommand("convert", "convert a scene file to the output's format");
    convertCommand->add_option("INPUT", scenePath, "the scene file to read")->required();
    convertCommand->add_option("OUTPUT", outputPath, "the scene file to write (.kab, .gltf or .glb)")->required();
    convertCommand->add_flag("--allow-outside-references", run.allowOutsideReferences, outsideHelp);

    CLI::App* makeExampleCommand = app.add_subcommand("make-example", "write the built-in example scene");
    makeExampleCommand->add_option("OUTPUT", outputPath, "the scene file to write")->required();

    std::string helpTopic;
    CLI::App* helpCommand = app.add_subcommand("help", "show this usage, or a command's");
    helpCommand->add_option("COMMAND", helpTopic, "the command to explain");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? kExitSuccess : kExitBadInput;
    }
    if (run.allowOutsideReferences) kaAllowOutsideReferences();

    if (*runCommand) {
        ranPasses = true;
        kaKeepRunningWithoutStandardOutput();
        for (const std::string& path : reportPaths) {
            std::string& form = kaIsPagePath(path) ? run.pagePath : run.reportPath;
            if (!form.empty()) {
                std::fprintf(stderr, "kaopt: --report takes one .json and one .html file\n");
                return kExitBadInput;
            }
            form = path;
        }
        if (!batch.outputFolder.empty()) {
            if (run.useExample) {
                std::fprintf(stderr, "kaopt: --out-dir runs input files, not --example\n");
                return kExitBadInput;
            }
            if (!run.depfilePath.empty()) {
                std::fprintf(stderr, "kaopt: --depfile is one output's; for a batch, kaopt ninja writes a build.ninja "
                                     "whose runs each write OUTPUT.d\n");
                return kExitBadInput;
            }
            batch.inputPaths = inputPaths;
            return kaBatchCommand(batch);
        }
        if (inputPaths.size() > 1) {
            std::fprintf(stderr, "kaopt: several inputs need --out-dir, the folder their results are saved in\n");
            return kExitBadInput;
        }
        if (!inputPaths.empty()) run.inputPath = inputPaths.front();
        if (run.useExample && !run.inputPath.empty()) {
            std::fprintf(stderr, "kaopt: give either --example or INPUT, not both\n");
            return kExitBadInput;
        }
        return kaRunCommand(run);
    }
    if (*ninjaCommand) return kaNinjaCommand(ninja);
    if (*listCommand) return kaListCommand(pluginPath);
    if (*describeCommand) {
        if (describe.className.empty() == describe.pageFolder.empty()) {
            std::fprintf(stderr, "kaopt: describe takes either CLASS or --markdown --out-dir FOLDER\n");
            return kExitBadInput;
        }
        return kaDescribeCommand(describe);
    }
    if (*infoCommand) return kaInfoCommand(scenePath, json);
    if (*convertCommand) return kaConvertCommand(scenePath, outputPath);
    if (*makeExampleCommand) return kaMakeExampleCommand(outputPath);
    if (!helpTopic.empty()) {
        CLI::App* topic = nullptr;
        try {
            topic = app.get_subcommand(helpTopic);
        } catch (const CLI::OptionNotFound&) {
            std::fprintf(stderr, "kaopt: no command '%s'\n", helpTopic.c_str());
            return kExitBadInput;
        }
        std::fputs(topic->help("kaopt").c_str(), stdout);
        return kExitSuccess;
    }
    // kaopt help asks for the usage; kaopt alone is a usage error, answered with the usage.
    const std::string usage = app.get_formatter()->make_help(&app, "kaopt", CLI::AppFormatMode::Normal);
    if (*helpCommand) {
        std::fputs(usage.c_str(), stdout);
        return kExitSuccess;
    }
    std::fputs(usage.c_str(), stderr);
    return kExitBadInput;
}

} // namespace

int main(int argc, char** argv)
{
    kaInstallSignalHandlers();
    bool ranPasses = false;
    const int status = runCommands(argc, argv, ranPasses);
    return kaFinishStandardOutput(status, ranPasses);
}
