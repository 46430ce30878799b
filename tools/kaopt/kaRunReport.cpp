#include "tools/kaopt/kaRunReport.h"

#include <unistd.h>

namespace Lode::Tools {

using Lode::Core::kaWarning;
using Lode::Io::kaSceneCountKey;
using Lode::Io::kaSceneCountKeys;
using Lode::Io::kaSceneCounts;
using Json = nlohmann::json;

namespace {

Json countsOf(const std::optional<kaSceneCounts>& counts)
{
    if (!counts) return nullptr;
    Json json = Json::object();
    for (const kaSceneCountKey& key : kaSceneCountKeys) json[key.name] = (*counts).*key.member;
    return json;
}

} // namespace

bool kaInputRecord::takeWarnings()
{
    for (kaWarning& warning : Lode::Core::kaTakeWarnings()) warnings.push_back(std::move(warning));
    return std::any_of(warnings.begin(), warnings.end(), [](const kaWarning& warning) { return warning.loss; });
}

bool kaInputRecord::countLosses(const std::string& where)
{
    takeWarnings();
    if (before && after)
        for (const std::string& fall : Lode::Io::kaUnexplainedFalls(*before, *after, warnings))
            Lode::Core::kaNoteLoss(where + ": " + fall + ", and no warning said why");
    return takeWarnings();
}

Json kaInputReport(const kaInputRecord& record)
{
    Json passes = Json::array();
    for (const kaPassRecord& pass : record.passes)
        passes.push_back({{"class", pass.className}, {"seconds", pass.seconds}, {"messages", pass.messages}});
    Json warnings = Json::array();
    for (const kaWarning& warning : record.warnings) warnings.push_back({{"text", warning.text}, {"loss", warning.loss}});
    Json entry = {{"input", record.input},
                  {"output", record.output.empty() ? Json(nullptr) : Json(record.output)},
                  {"status", record.status},
                  {"seconds", record.seconds},
                  {"passes", passes},
                  {"warnings", warnings},
                  {"before", countsOf(record.before)},
                  {"after", countsOf(record.after)}};
    if (record.status != 0) entry["error"] = record.error;
    return entry;
}

bool kaWriteRunReport(const std::string& path, const std::string& script, const Json& inputs, std::string& error)
{
    const Json report = {{"kaopt", KA_VERSION}, {"script", script}, {"inputs", inputs}};
    // Paths and pass messages are bytes as they came: what is not UTF-8 is replaced, not refused.
    const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    Lode::Core::kaFileCommit files;
    return files.write(path, text.data(), text.size(), error) && files.commit(error);
}

std::vector<std::string> kaLinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

kaStandardOutputCapture::kaStandardOutputCapture(bool active)
{
    if (!active) return;
    std::fflush(stdout);
    _file = std::tmpfile();
    _saved = _file ? ::dup(STDOUT_FILENO) : -1;
    if (_saved < 0 || ::dup2(::fileno(_file), STDOUT_FILENO) < 0) {
        // Without a place to capture to, standard output stays as it is.
        if (_saved >= 0) ::close(_saved);
        if (_file) std::fclose(_file);
        _saved = -1;
        _file = nullptr;
    }
}

kaStandardOutputCapture::~kaStandardOutputCapture() { finish(); }

std::string kaStandardOutputCapture::finish()
{
    if (!_file) return {};
    std::fflush(stdout);
    ::dup2(_saved, STDOUT_FILENO);
    ::close(_saved);
    std::string text;
    std::rewind(_file);
    char buffer[1 << 16];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, _file)) > 0;) text.append(buffer, read);
    std::fclose(_file);
    _file = nullptr;
    std::fwrite(text.data(), 1, text.size(), stdout);
    return text;
}

} // namespace Lode::Tools
