#include "tools/kaopt/kaCommands.h"

#include "host/core/kaFileCommit.h"
#include "host/core/kaText.h"
#include "host/core/kaWarnings.h"
#include "host/io/kaSceneCounts.h"
#include "host/io/kaSceneDump.h"
#include "host/io/kaSceneFile.h"
#include "host/opt/kaOptInterface.h"
#include "host/utils/kaProgress.h"
#include "tools/kaopt/kaDepfile.h"
#include "tools/kaopt/kaExampleScene.h"
#include "tools/kaopt/kaPassPage.h"
#include "tools/kaopt/kaPlugin.h"
#include "tools/kaopt/kaReportPage.h"
#include "tools/kaopt/kaRunReport.h"
#include "tools/kaopt/kaScript.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace Lode::Tools {

using namespace Lode::Core;
using namespace Lode::Gfx;
using namespace Lode::Io;
using namespace Lode::Opt;
using namespace Lode::Sg;

namespace {

// What kaopt said last: the error of a run that failed, for its report.
std::string gLastReport;

void report(const std::string& message)
{
    gLastReport = message;
    std::fprintf(stderr, "kaopt: %s\n", message.c_str());
}

// Script warnings are the same for every input of a batch: each is shown once.
void warnOnce(const std::string& message)
{
    static std::set<std::string> shown;
    if (shown.insert(message).second) report(message);
}

// A doubtful script, which --strict refuses: an error then (false), else a warning.
bool scriptProblem(const std::string& where, const std::string& problem, bool strict)
{
    if (strict) {
        report(where + problem);
        return false;
    }
    warnOnce(where + "WARNING: " + problem);
    kaKeepWarning(where + problem);
    return true;
}

// The plug-in's reference texts of its passes (kaPlugin.h), once it is loaded.
kaPassDocumentationFunction gPassDocumentation = nullptr;

bool loadPlugin(const std::string& pluginPath)
{
    // The library object is kept for the life of the process, like the classes it registered.
    static kaSmartPointer<kaLibrary> library;
    if (library) return true;
    // The host's own passes exist before any plug-in pass, which may create them by name.
    kaRegisterHostPasses();
    std::string error;
    if (!kaLoadPlugin(pluginPath.empty() ? kaDefaultPluginPath() : pluginPath, library, gPassDocumentation, error)) {
        report(error);
        return false;
    }
    return true;
}

// A pass that can be made, not one of the framework's base kinds: a plug-in pass or a host pass.
bool isAnyPassClass(const kaMetaObject* meta)
{
    return meta && meta->isOfType(kaOptBase::getClassMetaSafe()) && meta->canCreateInstance() &&
           meta != kaOptBase::getClassMetaSafe() && meta != kaOptTraverseGraph::getClassMetaSafe() &&
           meta != kaOptVisitObject::getClassMetaSafe() && meta != kaOptReplaceNode::getClassMetaSafe();
}

// A class a script can name: a plug-in pass. The host passes work on one image handed to them.
bool isPassClass(const kaMetaObject* meta) { return isAnyPassClass(meta) && !kaIsHostPass(meta); }

std::vector<std::string> passClassNames()
{
    const std::vector<kaMetaObject*> classes = kaMetaObject::getRegisteredClasses();
    std::vector<std::string> names;
    for (kaMetaObject* meta : classes)
        if (isPassClass(meta)) names.emplace_back(meta->getName());
    return names;
}

std::vector<std::string> fieldNames(const kaMetaObject* meta)
{
    std::vector<std::string> names;
    for (int i = 0; i < meta->getMetaFieldCount(); ++i) names.emplace_back(meta->getIndexedMetaField(i)->getName());
    return names;
}

struct PreparedPass {
    kaSmartPointer<kaOptBase> pass;
    int section = 0;
    const kaScriptPass* source = nullptr;
};

// Creates every pass of the script and sets its fields and registry keys, so that a script with
// any error is refused before a single pass runs.
bool preparePasses(const kaScript& script, kaOptInterface* optInterface, std::vector<PreparedPass>& prepared)
{
    for (const kaScriptPass& scriptPass : script.passes) {
        auto where = [&](int line) { return script.path + ":" + std::to_string(line) + ": "; };
        kaMetaObject* meta = kaMetaObject::findClass(scriptPass.className.c_str());
        if (kaIsHostPass(meta)) {
            report(where(scriptPass.line) + scriptPass.className +
                   " is a host pass that other passes use on single images; a script cannot run it");
            return false;
        }
        if (!isPassClass(meta)) {
            report(where(scriptPass.line) + "unknown pass class '" + scriptPass.className + "'" +
                   kaDidYouMean(scriptPass.className, passClassNames()));
            return false;
        }
        PreparedPass entry;
        entry.pass = kaSmartPointer<kaOptBase>::adopt(optInterface->createOptBase(scriptPass.className.c_str()));
        entry.section = optInterface->getRegistry()->addSection();
        entry.source = &scriptPass;
        for (const kaScriptSetting& setting : scriptPass.settings) {
            kaMetaField* field = meta->findMetaField(setting.key.c_str());
            if (field) {
                std::string error;
                if (!field->setFromText(entry.pass, setting.value.c_str(), error)) {
                    report(where(setting.line) + scriptPass.className + "." + setting.key + ": " + error);
                    return false;
                }
            } else if (setting.key[0] == '_') {
                report(where(setting.line) + scriptPass.className + " has no field '" + setting.key + "'" +
                       kaDidYouMean(setting.key, fieldNames(meta)));
                return false;
            } else {
                optInterface->getRegistry()->setValue(entry.section, setting.key.c_str(), setting.value.c_str());
            }
        }
        prepared.push_back(std::move(entry));
    }
    return true;
}

// The script keys of a pass that are not fields and that its configure did not read: most
// likely misspelt, so each is named with the nearest field or read key. False when --strict
// makes them errors.
bool checkUnreadKeys(const kaScript& script, const PreparedPass& entry, const kaRegistry* registry, bool strict)
{
    const std::vector<std::string> unread = registry->getUnreadKeys(entry.section);
    if (unread.empty()) return true;
    const kaMetaObject* meta = entry.pass->getMetaObject();
    std::vector<std::string> candidates = fieldNames(meta);
    for (const std::string& asked : registry->getAskedKeys(entry.section)) candidates.push_back(asked);
    bool acceptable = true;
    for (const kaScriptSetting& setting : entry.source->settings) {
        if (std::find(unread.begin(), unread.end(), setting.key) == unread.end()) continue;
        acceptable &= scriptProblem(script.path + ":" + std::to_string(setting.line) + ": ",
                                    "'" + setting.key + "' is neither a field of " + meta->getName() +
                                        " nor a key it reads" + kaDidYouMean(setting.key, candidates),
                                    strict);
    }
    return acceptable;
}

// The registry values of a pass that its configure could not read (range1 = 12m): errors, since
// the pass would go on with a default in their place. False when there is one.
bool checkUnreadableValues(const kaScript& script, const PreparedPass& entry, const kaRegistry* registry)
{
    const std::vector<kaScriptSetting>& settings = entry.source->settings;
    bool readable = true;
    for (const auto& unreadable : registry->getUnreadableKeys(entry.section)) {
        const auto& key = unreadable.first;
        const auto& problem = unreadable.second;
        // A key set twice holds its last value.
        const auto setting = std::find_if(settings.rbegin(), settings.rend(),
                                          [&](const kaScriptSetting& candidate) { return candidate.key == key; });
        const int line = setting == settings.rend() ? entry.source->line : setting->line;
        report(script.path + ":" + std::to_string(line) + ": " + entry.source->className + " key " + key + ": " +
               problem);
        readable = false;
    }
    return readable;
}

// Loads the script; a script that names no pass is doubtful (an empty or wrong file).
bool loadScript(const kaRunOptions& options, kaScript& script)
{
    std::string error;
    if (!kaLoadScript(options.scriptPath, script, error)) {
        report(error);
        return false;
    }
    return !script.passes.empty() ||
           scriptProblem(script.path + ": ", "the script names no pass to run",
                         options.strict);
}

double secondsSince(std::chrono::steady_clock::time_point started)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

int runScript(const kaRunOptions& options, kaInputRecord& record)
{
    kaScript script;
    std::string error;
    if (!loadScript(options, script)) return kExitBadInput;
    if (!options.useExample && options.inputPath.empty()) {
        report("run needs an input scene file or --example");
        return kExitBadInput;
    }
    // An output that cannot be written is refused before any pass runs.
    if (!options.outputPath.empty() && !kaCheckSceneFormat(options.outputPath, error)) {
        report(error);
        return kExitBadInput;
    }
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
    // Passes that write files of their own (exported geometry, images) put them beside the output,
    // or in the working folder when there is no output (an empty output path).
    if (!options.outputPath.empty()) {
        const std::string folder = kaFolderOf(options.outputPath);
        optInterface->setFilePath(folder.c_str());
        if (!optInterface->makeFolders(folder)) {
            report(options.outputPath + ": " + optInterface->getFileError());
            return kExitBadInput;
        }
        if (!optInterface->isFolderWritable(folder.c_str())) {
            report(options.outputPath + ": the folder " + folder + " cannot be written to");
            return kExitBadInput;
        }
    }
    // Every file of the run (what passes write, the saved scene) appears only when the whole run
    // succeeds; on any failure the set is abandoned as it goes out of scope, before the interface
    // removes the folders it made. No file of the run may replace another or an input.
    kaFileCommit files;
    files.keepFilesDistinct();
    optInterface->setFileCommit(&files);
    if (!loadPlugin(options.pluginPath)) return kExitBadInput;
    std::vector<PreparedPass> passes;
    if (!preparePasses(script, optInterface, passes)) return kExitBadInput;

    // Loading, each pass and saving show how far they are on a terminal; the line is erased before
    // anything else is printed.
    kaProgressLine progress(stderr, options.quiet, isatty(fileno(stderr)) != 0);
    kaSmartPointer<kaInfoList> infos;
    if (options.useExample) {
        infos = kaMakeExampleScene();
    } else {
        kaSmartPointer<kaFileInfo> file;
        progress.stage("loading " + options.inputPath);
        const bool read = kaReadScene(options.inputPath, infos, file, error);
        progress.end();
        if (!read) {
            report(error);
            return kExitBadInput;
        }
        // The entries of objects the input keeps in other files stay entries when it is saved.
        optInterface->setFile(file);
    }
    record.before = kaCountScene(infos);
    record.before->fileBytes = options.useExample ? 0 : kaSceneFileBytes(options.inputPath);
    // The page shows the scene as read, so it is exported before any pass changes it.
    const bool page = !options.pagePath.empty();
    if (page) record.pictures.takeBefore(infos);
    kaSceneInfo* sceneInfo = kaSceneInfo::dynamicCast(infos->getShared(0));
    kaSmartPointer<kaNode> root = sceneInfo->getSceneGraph();

    for (size_t i = 0; i < passes.size(); ++i) {
        PreparedPass& entry = passes[i];
        auto started = std::chrono::steady_clock::now();
        progress.stage(entry.source->className);
        // What the pass prints waits until the progress line is erased.
        kaStandardOutputCapture printedMeanwhile(progress.isListening());
        kaStandardOutputCapture printed(!options.reportPath.empty() || page);
        auto result = optInterface->runPass(entry.pass, entry.section, root, infos, [&](bool configured) {
            const kaRegistry* registry = optInterface->getRegistry();
            const bool readable = checkUnreadableValues(script, entry, registry);
            // A pass that refused may have stopped before reading its keys: the refusal is the
            // verdict, not stray keys.
            return (!configured || checkUnreadKeys(script, entry, registry, options.strict)) && readable;
        });
        progress.end();
        record.passes.push_back({entry.source->className, secondsSince(started), kaLinesOf(printed.finish())});
        printedMeanwhile.finish();
        if (result == kaOptInterface::RunResult::Stopped) return kExitBadInput;
        std::fflush(stdout);
        if (progress.isListening())
            std::fprintf(stderr, "[%zu/%zu] %s %.2f s\n", i + 1, passes.size(), entry.source->className.c_str(),
                         record.passes.back().seconds);
        // The pass is released as soon as it has run; its destructor gives back what it holds.
        entry.pass = nullptr;
        if (result == kaOptInterface::RunResult::Refused) {
            report(script.path + ":" + std::to_string(entry.source->line) + ": " + entry.source->className +
                   " refused its settings" + (options.keepGoing ? "; going on without it" : "; nothing is written"));
            if (!options.keepGoing) return kExitPassRefused;
        }
    }
    // A replacing pass may have replaced the root itself.
    sceneInfo->setSceneGraph(root);
    if (page) record.pictures.takeAfter(infos);
    if (!options.outputPath.empty()) progress.stage("saving " + options.outputPath);
    const bool saved = options.outputPath.empty() || optInterface->writeScene(options.outputPath.c_str(), infos, error);
    progress.end();
    if (!saved) {
        report(error);
        return kExitBadInput;
    }
    // The scene is counted as written and then let go: a glTF file is read back to be counted,
    // and the scene as run beside it would hold every array twice.
    root = nullptr;
    record.after = kaCountWrittenScene(options.outputPath, std::move(infos), files);
    if (record.countLosses(options.outputPath.empty() ? record.input : options.outputPath) && options.strict) {
        report(record.input + ": something was lost (the LOSS: lines say what); --strict: nothing written");
        return kExitLoss;
    }
    record.written = files.pendingPaths();
    std::stable_partition(record.written.begin(), record.written.end(),
                          [&](const std::string& path) { return path == options.outputPath; });
    if (!files.commit(error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

// The process ids of a batch's inputs that run in processes of their own, so that an interrupted
// batch stops them too; 0 marks a free slot.
pid_t* gRunningInputs = nullptr;
size_t gRunningInputSlots = 0;

void onInterrupt(int signal)
{
    for (size_t i = 0; i < gRunningInputSlots; ++i)
        if (gRunningInputs[i] > 0) kill(gRunningInputs[i], signal);
    kaFileCommit::removeAllTemporaries();
    static constexpr char kByInt[] = "kaopt: interrupted by SIGINT; files not yet saved are left as they were\n";
    static constexpr char kByTerm[] = "kaopt: interrupted by SIGTERM; files not yet saved are left as they were\n";
    if (signal == SIGINT)
        (void)!write(STDERR_FILENO, kByInt, sizeof kByInt - 1);
    else
        (void)!write(STDERR_FILENO, kByTerm, sizeof kByTerm - 1);
    _exit(128 + signal);
}

std::string counted(int64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string seconds(std::chrono::steady_clock::time_point started)
{
    return kaFormat("%.2f s", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// One input of a batch in a kaopt process of its own, its outputs kept apart until it ends so
// that every input's report and messages stay together.
struct BatchProcess {
    pid_t pid = 0;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
    bool finished = false;
    int raw = 0;
    std::string reportPath;  // where the process writes its report, when the batch makes one
};

bool startBatchProcess(const kaBatchOptions& options, const std::string& input, BatchProcess& process,
                       std::string& error)
{
    std::vector<std::string> arguments = {
        "kaopt", "run", "--script", options.run.scriptPath, "--summary", "-o", kaBatchOutputPath(options, input)};
    if (!options.run.pluginPath.empty()) arguments.insert(arguments.end(), {"--plugin", options.run.pluginPath});
    if (options.run.allowOutsideReferences) arguments.push_back("--allow-outside-references");
    if (options.run.keepGoing) arguments.push_back("--keep-going");
    if (options.run.strict) arguments.push_back("--strict");
    if (!options.run.pagePath.empty())
        arguments.insert(arguments.end(),
                         {"--report", kaReportPagePath(options.run.pagePath, kaBatchOutputPath(options, input))});
    // The batch's report and index are made of the entries the inputs' own reports hold.
    if (!options.run.reportPath.empty() || !options.run.pagePath.empty()) {
        std::string report = (std::filesystem::temp_directory_path() / "kaopt-report-XXXXXX.json").string();
        const int descriptor = mkstemps(report.data(), 5);
        if (descriptor < 0) {
            error = std::string("cannot make a temporary file for an input's report: ") + std::strerror(errno);
            return false;
        }
        ::close(descriptor);
        process.reportPath = report;
        arguments.insert(arguments.end(), {"--report", report});
    }
    arguments.push_back("--quiet");
    arguments.push_back(input);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    process.out = std::tmpfile();
    process.err = std::tmpfile();
    if (!process.out || !process.err) {
        error = std::string("cannot make a temporary file for an input's output: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    process.pid = fork();
    if (process.pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        return false;
    }
    if (process.pid == 0) {
        dup2(fileno(process.out), STDOUT_FILENO);
        dup2(fileno(process.err), STDERR_FILENO);
        execv("/proc/self/exe", argv.data());
        std::fprintf(stderr, "kaopt: cannot run kaopt for %s: %s\n", input.c_str(), std::strerror(errno));
        _exit(127);
    }
    return true;
}

// The entry an input's process wrote to its report (removed then), or null when it wrote none.
nlohmann::json processReport(const std::string& path)
{
    if (path.empty()) return nullptr;
    const auto written = nlohmann::json::parse(std::ifstream(path), nullptr, false);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (!written.is_object() || !written.contains("inputs") || !written["inputs"].is_array() ||
        written["inputs"].size() != 1)
        return nullptr;
    return written["inputs"][0];
}

// The report entry of an input that did not run to its end: its status and what kaopt said last.
nlohmann::json unfinishedReport(const std::string& input, const std::string& output)
{
    kaInputRecord record;
    record.input = input;
    record.output = output;
    record.status = kExitBadInput;
    record.error = gLastReport;
    return kaInputReport(record);
}

// Hands a finished input's report and messages on and returns its exit status. A process that
// did not end with one of kaopt's statuses (a crash, or kaopt not started) wrote no summary line:
// it gets one here.
int finishBatchProcess(const kaBatchOptions& options, const std::string& input, BatchProcess& process,
                       nlohmann::json& entry)
{
    const std::string scriptWarning = "kaopt: " + options.run.scriptPath + ":";
    for (std::FILE* stream : {process.out, process.err}) {
        std::rewind(stream);
        char buffer[1 << 16];
        if (stream == process.out) {
            std::printf("==> %s <==\n", input.c_str());
            for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
                std::fwrite(buffer, 1, read, stdout);
            std::fflush(stdout);
            continue;
        }
        while (std::fgets(buffer, sizeof buffer, stream)) {
            const std::string line = buffer;
            if (line.rfind(scriptWarning, 0) == 0 && line.find(": WARNING: ") != std::string::npos)
                warnOnce(line.substr(7, line.size() - 8));
            else
                std::fputs(buffer, stderr);
        }
    }
    std::fclose(process.out);
    std::fclose(process.err);
    entry = processReport(process.reportPath);
    if (WIFEXITED(process.raw) && WEXITSTATUS(process.raw) <= kExitLoss) return WEXITSTATUS(process.raw);
    report(input + ": not saved (" +
           (WIFSIGNALED(process.raw) ? "ended by signal " + std::to_string(WTERMSIG(process.raw))
                                     : "exit status " + std::to_string(WEXITSTATUS(process.raw))) +
           ")");
    if (entry.is_null()) entry = unfinishedReport(input, kaBatchOutputPath(options, input));
    return kExitBadInput;
}

// Runs the inputs in up to options.jobs processes at once; their outputs are handed on in the
// inputs' order, so a batch prints the same whatever the number of jobs.
void runBatchProcesses(const kaBatchOptions& options, std::vector<int>& statuses,
                       std::vector<nlohmann::json>& entries)
{
    const size_t count = options.inputPaths.size();
    std::vector<BatchProcess> processes(count);
    std::vector<pid_t> running(static_cast<size_t>(options.jobs), 0);
    gRunningInputs = running.data();
    gRunningInputSlots = running.size();
    size_t started = 0, handedOn = 0, active = 0;
    std::string error;
    bool startFailed = false;
    while (handedOn < count) {
        while (!startFailed && active < running.size() && started < count) {
            if (!startBatchProcess(options, options.inputPaths[started], processes[started], error)) {
                report(error);
                startFailed = true;
                break;
            }
            *std::find(running.begin(), running.end(), 0) = processes[started].pid;
            ++started;
            ++active;
        }
        if (active == 0) break;
        int raw = 0;
        const pid_t ended = waitpid(-1, &raw, 0);
        if (ended < 0) {
            if (errno == EINTR) continue;
            report(std::string("waiting for an input's process failed: ") + std::strerror(errno));
            break;
        }
        auto process = std::find_if(processes.begin(), processes.end(),
                                    [&](const BatchProcess& candidate) { return candidate.pid == ended; });
        if (process == processes.end()) continue;
        process->finished = true;
        process->raw = raw;
        *std::find(running.begin(), running.end(), ended) = 0;
        --active;
        for (; handedOn < count && processes[handedOn].finished; ++handedOn)
            statuses[handedOn] =
                finishBatchProcess(options, options.inputPaths[handedOn], processes[handedOn], entries[handedOn]);
    }
    gRunningInputs = nullptr;
    gRunningInputSlots = 0;
    for (; handedOn < count; ++handedOn) {
        for (std::FILE* stream : {processes[handedOn].out, processes[handedOn].err})
            if (stream) std::fclose(stream);
        report(options.inputPaths[handedOn] + ": not saved (not run)");
    }
}

} // namespace

std::string kaBatchOutputPath(const kaBatchOptions& options, const std::string& input)
{
    const std::filesystem::path path(input);
    const std::string extension = options.format.empty() ? path.extension().string() : "." + options.format;
    return (std::filesystem::path(options.outputFolder) / path.stem()).string() + extension;
}

bool kaCheckBatchOutputs(const kaBatchOptions& options, std::string& error)
{
    std::map<std::string, std::string> inputOf;
    for (const std::string& input : options.inputPaths) {
        std::error_code failure;
        if (std::filesystem::is_directory(input, failure)) {
            error = input + ": is a folder, not a scene file";
            return false;
        }
        const std::string output = kaBatchOutputPath(options, input);
        if (!kaCheckSceneFormat(output, error)) return false;
        auto [place, added] = inputOf.emplace(output, input);
        if (!added) {
            error = place->second + " and " + input + " would both be saved as " + output;
            return false;
        }
    }
    return true;
}

namespace {

// One input's run, kept in record; with options.summary, its line.
int runInput(const kaRunOptions& options, kaInputRecord& record)
{
    const auto started = std::chrono::steady_clock::now();
    // Whatever was said before this input belongs to no run of it.
    kaTakeWarnings();
    record.input = options.useExample ? "(example)" : options.inputPath;
    record.output = options.outputPath;
    record.status = runScript(options, record);
    record.takeWarnings();
    record.seconds = secondsSince(started);
    if (record.status != kExitSuccess) record.error = gLastReport;
    if (options.summary) {
        std::fflush(stdout);
        if (record.status != kExitSuccess)
            report(record.input + ": not saved (exit status " + std::to_string(record.status) + "), " +
                   seconds(started));
        else
            report(record.input + (options.outputPath.empty() ? "" : " -> " + options.outputPath) + ": " +
                   counted(record.after->vertices, "vertex", "vertices") + ", " +
                   counted(record.after->images, "image", "images") + ", " +
                   std::to_string(record.before->fileBytes) + " -> " + std::to_string(record.after->fileBytes) +
                   " bytes, " + seconds(started));
    }
    std::string error;
    if (options.pagePath.empty() ||
        kaWriteReportFile(options.pagePath, kaReportPage(record, options.scriptPath), error))
        return record.status;
    report(error);
    return std::max(record.status, static_cast<int>(kExitBadInput));
}

// Writes the report of the run's inputs when one was asked for; the status, made at least
// kExitBadInput when the report cannot be written.
int writeReport(const kaRunOptions& options, const nlohmann::json& inputs, int status)
{
    std::string error;
    if (options.reportPath.empty() || kaWriteRunReport(options.reportPath, options.scriptPath, inputs, error))
        return status;
    report(error);
    return std::max(status, static_cast<int>(kExitBadInput));
}

} // namespace

int kaRunCommand(const kaRunOptions& options)
{
    std::string error;
    if (!options.depfilePath.empty()) {
        if (options.outputPath.empty())
            error = "--depfile needs -o: the dependency file is the output's";
        else
            kaDepfileApart(
                options.depfilePath,
                {options.outputPath, options.reportPath, options.pagePath, options.inputPath, options.scriptPath},
                error);
    }
    if (!error.empty()) {
        report(error);
        return kExitBadInput;
    }
    kaInputRecord record;
    const int ran = runInput(options, record);
    const int status = writeReport(options, nlohmann::json::array({kaInputReport(record)}), ran);
    if (status != kExitSuccess || options.depfilePath.empty()) return status;
    // Written last, so that a dependency file stands for a run that succeeded whole.
    std::vector<std::string> targets = record.written;
    for (const std::string& path : {options.reportPath, options.pagePath})
        if (!path.empty()) targets.push_back(path);
    if (kaWriteDepfile(options.depfilePath, targets, kaFileCommit::inputPaths(), error)) return kExitSuccess;
    report(error);
    return kExitBadInput;
}

namespace {

// The batch: every input run and handed on; entries receives each input's report entry.
int runBatch(const kaBatchOptions& options, std::vector<nlohmann::json>& entries)
{
    const auto started = std::chrono::steady_clock::now();
    if (options.inputPaths.empty()) {
        report("--out-dir needs input files");
        return kExitBadInput;
    }
    std::string error;
    if (!kaCheckBatchOutputs(options, error)) {
        report(error);
        return kExitBadInput;
    }
    std::error_code failure;
    // The folders of the outputs and of the pages beside the index.
    for (const std::filesystem::path& folder :
         {std::filesystem::path(options.outputFolder), std::filesystem::path(options.run.pagePath).parent_path()}) {
        if (folder.empty()) continue;
        std::filesystem::create_directories(folder, failure);
        if (failure) {
            report(folder.string() + ": cannot make the folder: " + failure.message());
            return kExitBadInput;
        }
    }
    // A script that cannot run is refused once, not once per input.
    kaScript script;
    if (!loadScript(options.run, script) || !loadPlugin(options.run.pluginPath)) return kExitBadInput;
    {
        auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
        optInterface->setRegistry(kaSmartPointer<kaRegistry>::adopt(kaRegistry::_instantiate()));
        std::vector<PreparedPass> passes;
        if (!preparePasses(script, optInterface, passes)) return kExitBadInput;
    }

    std::vector<int> statuses(options.inputPaths.size(), kExitBadInput);
    if (options.jobs > 1) {
        runBatchProcesses(options, statuses, entries);
    } else {
        for (size_t i = 0; i < options.inputPaths.size(); ++i) {
            kaRunOptions run = options.run;
            run.inputPath = options.inputPaths[i];
            run.outputPath = kaBatchOutputPath(options, run.inputPath);
            if (!run.pagePath.empty()) run.pagePath = kaReportPagePath(options.run.pagePath, run.outputPath);
            run.summary = true;
            run.quiet = true;
            std::printf("==> %s <==\n", run.inputPath.c_str());
            kaInputRecord record;
            statuses[i] = runInput(run, record);
            entries[i] = kaInputReport(record);
            std::fflush(stdout);
        }
    }
    int saved = 0;
    uintmax_t bytesBefore = 0, bytesAfter = 0;
    for (size_t i = 0; i < statuses.size(); ++i) {
        if (statuses[i] != kExitSuccess) continue;
        ++saved;
        bytesBefore += kaSceneFileBytes(options.inputPaths[i]);
        bytesAfter += kaSceneFileBytes(kaBatchOutputPath(options, options.inputPaths[i]));
    }
    const int worst = *std::max_element(statuses.begin(), statuses.end());
    report(counted(static_cast<int64_t>(statuses.size()), "input", "inputs") + ": " + std::to_string(saved) + " saved (" +
           std::to_string(bytesBefore) + " -> " + std::to_string(bytesAfter) + " bytes), " +
           std::to_string(statuses.size() - saved) + " not saved, " + seconds(started) + "; exit status " +
           std::to_string(worst));
    return worst;
}

} // namespace

int kaBatchCommand(const kaBatchOptions& options)
{
    std::vector<nlohmann::json> entries(options.inputPaths.size());
    const int status = runBatch(options, entries);
    // Inputs that never ran (the batch was refused, or a process could not be started) have
    // entries too, with what kaopt said last.
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].is_null())
            entries[i] = unfinishedReport(options.inputPaths[i], kaBatchOutputPath(options, options.inputPaths[i]));
    const int reported = writeReport(options.run, entries, status);
    if (options.run.pagePath.empty()) return reported;
    // Inputs whose run ended before writing a page have a row without a link.
    std::vector<std::string> pages;
    for (const std::string& input : options.inputPaths) {
        const std::filesystem::path page = kaReportPagePath(options.run.pagePath, kaBatchOutputPath(options, input));
        std::error_code failure;
        pages.push_back(std::filesystem::exists(page, failure) ? page.filename().string() : "");
    }
    std::string error;
    if (kaWriteReportFile(options.run.pagePath, kaReportIndex(options.run.scriptPath, entries, pages), error))
        return reported;
    report(error);
    return std::max(reported, static_cast<int>(kExitBadInput));
}

void kaInstallSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void kaKeepRunningWithoutStandardOutput() { std::signal(SIGPIPE, SIG_IGN); }

int kaFinishStandardOutput(int status, bool ranPasses)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    report(std::string("cannot write to standard output") + (errno ? std::string(" (") + std::strerror(errno) + ")" : "") +
           (ranPasses ? ": what the passes printed is incomplete; the saved scene is not affected" : ""));
    return std::max(status, static_cast<int>(kExitBadInput));
}

int kaListCommand(const std::string& pluginPath)
{
    if (!loadPlugin(pluginPath)) return kExitBadInput;
    // A copy: telling passes apart may register the framework's base kinds, which grows the list.
    const std::vector<kaMetaObject*> classes = kaMetaObject::getRegisteredClasses();
    for (kaMetaObject* meta : classes)
        if (isPassClass(meta)) std::printf("%-36s %s\n", meta->getName(), meta->getSummary());
    return kExitSuccess;
}

namespace {

bool passPage(const kaMetaObject& meta, std::string& page)
{
    std::string error;
    const char* doc = gPassDocumentation ? gPassDocumentation(meta.getName()) : nullptr;
    if (kaPassPage(meta, doc, page, error)) return true;
    report(error);
    return false;
}

// The page of every pass a script can name, as FOLDER/CLASS.md, written together or not at all.
int writePassPages(const std::string& folder)
{
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    kaFileCommit files;
    std::string page, error;
    for (const std::string& name : passClassNames()) {
        if (!passPage(*kaMetaObject::findClass(name.c_str()), page)) return kExitBadInput;
        if (!files.write((std::filesystem::path(folder) / (name + ".md")).string(), page.data(), page.size(), error)) {
            report(error);
            return kExitBadInput;
        }
    }
    if (files.commit(error)) return kExitSuccess;
    report(error);
    return kExitBadInput;
}

void printFields(const kaMetaObject& meta)
{
    std::printf("%s (base %s)\n", meta.getName(), meta.getBase()->getName());
    if (*meta.getSummary()) std::printf("  %s\n", meta.getSummary());
    if (meta.getMetaFieldCount() == 0) {
        std::printf("  no fields\n");
        return;
    }
    std::printf("  %-22s %-28s %s\n", "field", "type", "default");
    for (int i = 0; i < meta.getMetaFieldCount(); ++i) {
        kaMetaField* field = meta.getIndexedMetaField(i);
        std::printf("  %-22s %-28s %s\n", field->getName(), field->getTypeName().c_str(),
                    field->getDefaultText().c_str());
        if (*field->getDescription()) std::printf("  %-22s %s\n", "", field->getDescription());
        if (field->getKind() == kaFieldKind::Enum)
            if (kaMetaEnum* metaEnum = static_cast<kaEnumMetaField*>(field)->getMetaEnum()) {
                std::printf("  %-22s values:", "");
                for (int v = 0; v < metaEnum->getCount(); ++v)
                    std::printf(" %s=%d", metaEnum->getValueName(v), metaEnum->getValue(v));
                std::printf("\n");
            }
    }
}

} // namespace

int kaDescribeCommand(const kaDescribeOptions& options)
{
    if (!loadPlugin(options.pluginPath)) return kExitBadInput;
    if (!options.pageFolder.empty()) return writePassPages(options.pageFolder);
    kaMetaObject* meta = kaMetaObject::findClass(options.className.c_str());
    if (!isAnyPassClass(meta)) {
        report("unknown pass class '" + options.className + "'" + kaDidYouMean(options.className, passClassNames()));
        return kExitBadInput;
    }
    if (!options.markdown) {
        printFields(*meta);
        return kExitSuccess;
    }
    std::string page;
    if (!passPage(*meta, page)) return kExitBadInput;
    std::fputs(page.c_str(), stdout);
    return kExitSuccess;
}

void kaAllowOutsideReferences() { kaSetOutsideReferencesAllowed(true); }

int kaInfoCommand(const std::string& path, bool json)
{
    kaSmartPointer<kaInfoList> infos;
    kaSmartPointer<kaFileInfo> file;
    std::string error;
    if (!kaReadScene(path, infos, file, error)) {
        report(error);
        return kExitBadInput;
    }
    const std::string dump = kaDumpScene(path, infos, file, json ? kaDumpFormat::Json : kaDumpFormat::Text);
    std::fwrite(dump.data(), 1, dump.size(), stdout);
    return kExitSuccess;
}

int kaConvertCommand(const std::string& inputPath, const std::string& outputPath)
{
    std::string error;
    if (!kaCheckSceneFormat(outputPath, error)) {
        report(error);
        return kExitBadInput;
    }
    kaSmartPointer<kaInfoList> infos;
    kaSmartPointer<kaFileInfo> file;
    if (!kaReadScene(inputPath, infos, file, error)) {
        report(error);
        return kExitBadInput;
    }
    // Saved as a run saves: objects the input keeps in files of their own go to files beside the
    // output, and none of them may replace another or the input.
    auto optInterface = kaSmartPointer<kaOptInterface>::adopt(kaOptInterface::_instantiate());
    optInterface->setFile(file);
    const std::string folder = kaFolderOf(outputPath);
    optInterface->setFilePath(folder.c_str());
    kaFileCommit files;
    files.keepFilesDistinct();
    optInterface->setFileCommit(&files);
    if (!optInterface->makeFolders(folder)) {
        report(outputPath + ": " + optInterface->getFileError());
        return kExitBadInput;
    }
    if (!optInterface->writeScene(outputPath.c_str(), infos, error) || !files.commit(error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

int kaMakeExampleCommand(const std::string& outputPath)
{
    std::string error;
    if (!kaWriteScene(outputPath, kaMakeExampleScene(), {}, error)) {
        report(error);
        return kExitBadInput;
    }
    return kExitSuccess;
}

} // namespace Lode::Tools
