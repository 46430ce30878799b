#include "host/core/kaText.h"

#include <algorithm>
#include <cctype>
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

size_t editDistance(const std::string& a, const std::string& b)
{
    // One row of the Levenshtein table at a time.
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
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

std::string kaNearestName(const std::string& word, const std::vector<std::string>& candidates)
{
    const size_t limit = std::max<size_t>(1, word.size() / 3);
    std::string nearest;
    size_t best = limit + 1;
    for (const std::string& candidate : candidates) {
        const size_t distance = editDistance(word, candidate);
        // The first of equally near candidates wins, so the suggestion follows declaration order.
        if (distance < best) {
            best = distance;
            nearest = candidate;
        }
    }
    return nearest;
}

std::string kaDidYouMean(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string nearest = kaNearestName(word, candidates);
    return nearest.empty() ? "" : "; did you mean " + nearest + "?";
}

} // namespace Lode::Core
