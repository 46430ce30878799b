#include "tools/kaopt/kaDepfile.h"

#include "host/core/kaFileCommit.h"
#include "host/io/kaDirectory.h"

#include <filesystem>

namespace Lode::Tools {

namespace {

// A path as both readers take it back. Paths are kept in the form they were given in, made
// lexically plain ("a/./b" is "a/b") as Ninja makes the paths it compares.
bool escapedPath(const std::string& path, std::string& escaped, std::string& error)
{
    escaped.clear();
    for (char c : std::filesystem::path(path).lexically_normal().generic_string()) {
        if (c == '\n' || c == '\r') {
            error = path + ": a file name with a line break cannot be written in a dependency file";
            return false;
        }
        if (c == ' ' || c == '#') escaped += '\\';
        if (c == '$') escaped += '$';
        escaped += c;
    }
    return true;
}

} // namespace

bool kaDepfileText(const std::vector<std::string>& targets, const std::vector<std::string>& prerequisites,
                   std::string& text, std::string& error)
{
    std::string escaped;
    text.clear();
    for (size_t i = 0; i < targets.size(); ++i) {
        if (!escapedPath(targets[i], escaped, error)) return false;
        text += (i == 0 ? "" : " ") + escaped;
    }
    text += ":";
    for (const std::string& prerequisite : prerequisites) {
        if (!escapedPath(prerequisite, escaped, error)) return false;
        text += " \\\n  " + escaped;
    }
    text += "\n";
    return true;
}

bool kaDepfileApart(const std::string& path, const std::vector<std::string>& files, std::string& error)
{
    const std::string where = Core::kaAbsolutePath(path);
    for (const std::string& file : files)
        if (!file.empty() && Core::kaAbsolutePath(file) == where) {
            error = path + ": the dependency file would replace " + file + ", which the run reads or writes";
            return false;
        }
    return true;
}

bool kaWriteDepfile(const std::string& path, const std::vector<std::string>& targets,
                    const std::vector<std::string>& prerequisites, std::string& error)
{
    std::string text;
    if (!kaDepfileApart(path, targets, error) || !kaDepfileText(targets, prerequisites, text, error)) return false;
    // Nor may it replace what the run read.
    Core::kaFileCommit files;
    files.keepFilesDistinct();
    return files.write(path, text.data(), text.size(), error) && files.commit(error);
}

} // namespace Lode::Tools
