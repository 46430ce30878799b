// Helpers shared by the test suites: running the real kaopt binary, scratch folders, the sample
// models and the Khronos glTF validator.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kaTest {
// A finished kaopt run: its exit status (-1 when it did not exit), the raw status as waitpid gives
// it (runs started with startKaopt only) and both output streams.
struct kaRunResult {
    int status = -1;
    std::string out;
    std::string err;
    int raw = -1;
};
using kaChildRun = kaRunResult;

inline std::string readText(const std::filesystem::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void writeText(const std::filesystem::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Object addresses differ from run to run.
inline std::string withoutAddresses(const std::string& text)
{
    return std::regex_replace(text, std::regex("0x[0-9a-f]{8}"), "0x<addr>");
}

// A fresh folder for one test, removed when the test ends.
class kaScratchDir {
public:
    kaScratchDir() : _path(std::filesystem::temp_directory_path() / "kaopt-test-XXXXXX") { _path = mkdtemp(_path.string().data()); }
    ~kaScratchDir() { std::filesystem::remove_all(_path); }
    const std::filesystem::path& path() const { return _path; }
    std::filesystem::path operator/(const std::string& name) const { return _path / name; }

private:
    std::filesystem::path _path;
};

// Runs the shell command with its output streams captured; its exit status and both streams.
inline kaRunResult runCommand(const std::string& command)
{
    kaScratchDir scratch;
    const int raw = std::system((command + " >" + (scratch / "out").string() + " 2>" + (scratch / "err").string()).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(scratch / "out"), readText(scratch / "err")};
}

// Runs the built kaopt with the arguments (a shell word list).
inline kaRunResult runKaopt(const std::string& arguments) { return runCommand(std::string(KA_BINARY_DIR) + "/kaopt " + arguments + " </dev/null"); }

// Starts kaopt (or the program in argv[0] when it is not empty) with its output streams in logs
// and no input; prepare runs in the child just before exec.
inline pid_t startKaopt(std::vector<std::string> argv, const std::filesystem::path& logs,
                        const std::function<void()>& prepare = {})
{
    if (argv[0].empty()) argv[0] = std::string(KA_BINARY_DIR) + "/kaopt";
    const pid_t pid = fork();
    if (pid != 0) return pid;
    ::dup2(::open((logs / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open((logs / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    if (prepare) prepare();
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::perror(args[0]);
    ::_exit(127);
}

inline kaChildRun finish(pid_t pid, const std::filesystem::path& logs)
{
    kaChildRun run;
    ::waitpid(pid, &run.raw, 0);
    return {WIFEXITED(run.raw) ? WEXITSTATUS(run.raw) : -1, readText(logs / "out"), readText(logs / "err"), run.raw};
}

// The sample models and the validator.
const std::filesystem::path kaSamples = std::filesystem::path(KA_ASSETS_DIR) / "gltf";

// Every .gltf and .glb one folder below the samples, sorted; none when the samples are absent.
inline std::vector<std::filesystem::path> sampleModels()
{
    std::vector<std::filesystem::path> models;
    if (!std::filesystem::is_directory(kaSamples)) return models;
    for (const auto& folder : std::filesystem::directory_iterator(kaSamples))
        if (folder.is_directory())
            for (const auto& file : std::filesystem::directory_iterator(folder.path()))
                if (file.path().extension() == ".gltf" || file.path().extension() == ".glb")
                    models.push_back(file.path());
    std::sort(models.begin(), models.end());
    return models;
}

// The validator's report: "errors=E ..." and one "SEVERITY CODE ..." line per issue.
struct kaValidation {
    bool ran = false;
    int errors = -1;
    std::set<std::string> errorCodes;
    std::set<std::string> messages;  // "SEVERITY CODE" of every issue
    std::string text;
};

inline kaValidation validate(const std::filesystem::path& file)
{
    kaValidation result;
    const kaRunResult run = runCommand("node " + std::string(KA_SOURCE_DIR) + "/tests/validate_gltf.js '" + file.string() + "'");
    result.text = run.out + run.err;
    if (run.status != 0 && run.status != 1) return result;
    result.ran = std::sscanf(run.out.c_str(), "errors=%d", &result.errors) == 1;
    std::istringstream lines(run.out);
    std::string severity, code, rest;
    std::getline(lines, rest);  // the counts
    while (lines >> severity >> code && std::getline(lines, rest)) {
        if (severity == "error") result.errorCodes.insert(code);
        result.messages.insert(severity + " " + code);
    }
    return result;
}

inline bool validatorAvailable()
{
    return std::system("node --version >/dev/null 2>&1") == 0 &&
           std::filesystem::exists(std::filesystem::path(KA_SOURCE_DIR) / "tests/node_modules/gltf-validator");
}
} // namespace kaTest
