// Fuzz target of the image list reader of the mipmap pass: any bytes (CRLF line ends, stray NUL
// bytes, non-UTF-8 names, very long lines) give a list whose entries are trimmed, non-empty,
// not comments, and fewer than the lines read.
#include "host/utils/kaImageUtils.h"

#include <cstring>
#include <string_view>

using namespace Lode::Core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto names = kaSmartPointer<kaStringObjList>::adopt(kaStringObjList::_instantiate());
    const int added = Lode::Utils::kaImageUtils::parseText(text, names);
    if (added != names->getCount()) __builtin_trap();
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (static_cast<size_t>(added) > lines) __builtin_trap();
    for (int i = 0; i < added; ++i) {
        const char* name = names->get(i)->getString();
        const size_t length = std::strlen(name);
        if (length == 0 || name[0] == '#' || name[0] == ' ' || name[length - 1] == ' ' || name[length - 1] == '\r')
            __builtin_trap();
        Lode::Utils::kaImageUtils::getFileName(name);
    }
    return 0;
}
