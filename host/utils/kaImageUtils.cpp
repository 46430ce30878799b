#include "host/utils/kaImageUtils.h"

#include "host/core/kaText.h"

#include <string>

namespace Lode::Utils {

std::string kaImageUtils::listedName(std::string_view line)
{
    // Names are stored as C strings: a stray NUL byte ends the name.
    const std::string name = Lode::Core::kaTrim(line.substr(0, line.find('\0')));
    return name.empty() || name[0] == '#' ? std::string() : name;
}

int kaImageUtils::parseText(std::string_view text, Lode::Core::kaStringObjList* names)
{
    int added = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string name = listedName(text.substr(0, end));
        if (!name.empty()) {
            names->appendString(name.c_str());
            ++added;
        }
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return added;
}

int kaImageUtils::parseTextFile(Lode::Core::kaFile* file, Lode::Core::kaStringObjList* names)
{
    int added = 0;
    std::string line;
    while (file && file->readLine(line)) added += parseText(line, names);
    return added;
}

const char* kaImageUtils::getFileName(const char* path)
{
    if (!path) return "";
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '/' || *c == '\\') name = c + 1;
    return name;
}

} // namespace Lode::Utils
