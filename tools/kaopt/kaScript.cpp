#include "tools/kaopt/kaScript.h"

#include "host/core/kaFile.h"
#include "host/core/kaText.h"

namespace Lode::Tools {

using Lode::Core::kaTrim;

namespace {

// Cuts a comment that starts with # or ; outside double quotes.
std::string stripComment(const std::string& line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (!quoted && (line[i] == '#' || line[i] == ';')) return line.substr(0, i);
    }
    return line;
}

// Editors on Windows save "Unicode" text as UTF-16: a byte order mark, or ASCII with a zero byte
// beside every character.
bool looksLikeUtf16(const std::string& text)
{
    if (text.rfind("\xFF\xFE", 0) == 0 || text.rfind("\xFE\xFF", 0) == 0) return true;
    return text.size() >= 2 && (text[0] == '\0') != (text[1] == '\0');
}

} // namespace

bool kaParseScript(const std::string& path, const std::string& text, kaScript& script, std::string& error)
{
    script.path = path;
    script.passes.clear();
    // Editors on some systems begin UTF-8 text with a byte order mark; it is not part of line 1.
    const std::string byteOrderMark = "\xEF\xBB\xBF";
    size_t start = text.compare(0, byteOrderMark.size(), byteOrderMark) == 0 ? byteOrderMark.size() : 0;
    int lineNumber = 0;
    auto fail = [&](const std::string& reason) {
        error = path + ":" + std::to_string(lineNumber) + ": " + reason;
        return false;
    };
    if (looksLikeUtf16(text)) {
        lineNumber = 1;
        return fail("the script looks like UTF-16 text; save it as UTF-8");
    }
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        ++lineNumber;
        if (raw.find('\0') != std::string::npos) return fail("the script is not a text file");
        std::string line = kaTrim(stripComment(raw));
        if (line.empty()) continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail("a section header must end with ']'");
            std::string name = kaTrim(line.substr(1, line.size() - 2));
            if (name.empty()) return fail("a section header must name a pass class");
            script.passes.push_back({name, lineNumber, {}});
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) return fail("expected 'key = value' or '[PassClass]', found '" + line + "'");
        if (script.passes.empty()) return fail("a setting must follow a '[PassClass]' section header");
        std::string key = kaTrim(line.substr(0, equals));
        if (key.empty()) return fail("a setting needs a key before '='");
        script.passes.back().settings.push_back({key, kaTrim(line.substr(equals + 1)), lineNumber});
    }
    return true;
}

bool kaLoadScript(const std::string& path, kaScript& script, std::string& error)
{
    std::string text;
    if (!Core::kaFile::readAll(path.c_str(), text, error)) {
        error = "cannot read script " + error;
        return false;
    }
    return kaParseScript(path, text, script, error);
}

} // namespace Lode::Tools
