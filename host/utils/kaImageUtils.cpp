#include "host/utils/kaImageUtils.h"

#include <cstring>
#include <string>

namespace Lode::Utils {

std::string_view kaImageUtils::listedName(std::string_view line)
{
    const char* const blanks = " \t\r\v\f";
    const size_t begin = line.find_first_not_of(blanks);
    if (begin == std::string_view::npos || line[begin] == '#') return {};
    const size_t end = line.find_last_not_of(blanks);
    return line.substr(begin, end - begin + 1);
}

int kaImageUtils::parseText(std::string_view text, Lode::Core::kaStringObjList* names)
{
    int added = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        // Names are stored as C strings: a stray NUL byte ends the name.
        const std::string_view line = listedName(text.substr(0, end));
        const std::string name(line.substr(0, line.find('\0')));
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
