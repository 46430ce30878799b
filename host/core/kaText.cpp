#include "host/core/kaText.h"

#include <charconv>
#include <cstdio>

namespace Lode::Core {

std::string kaFormatV(const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string kaFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = kaFormatV(format, args);
    va_end(args);
    return text;
}

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

template <class Number> std::string shortest(Number value)
{
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

} // namespace

std::string kaTrim(std::string_view text)
{
    const size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string_view::npos) return {};
    return std::string(text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1));
}

std::vector<std::string> kaSplit(std::string_view text, char separator)
{
    std::vector<std::string> parts;
    if (kaTrim(text).empty()) return parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(kaTrim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::string kaUnquote(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::string kaFormatFloat(float value) { return shortest(value); }
std::string kaFormatFloat(double value) { return shortest(value); }

} // namespace Lode::Core
