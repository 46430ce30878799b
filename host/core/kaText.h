// The text helpers that the host and the passes share.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace Lode::Core {

// printf-style formatting into a string of any length.
std::string kaFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string kaFormatV(const char* format, va_list args);

// The text without the blanks, tabs and line breaks at its ends.
std::string kaTrim(std::string_view text);
// The parts between the separators, each trimmed; a blank text has no parts, while an empty
// part between two separators is kept.
std::vector<std::string> kaSplit(std::string_view text, char separator);
// The text without one pair of double quotes around it; other text as it is.
std::string kaUnquote(std::string_view text);
// The shortest decimal that reads back as the same value (0.1f as "0.1", 1.0 as "1").
std::string kaFormatFloat(float value);
std::string kaFormatFloat(double value);

// The candidate closest to word by edit distance (letter case ignored), or "" when none is
// close enough to be a likely misspelling: at most a third of the word's length, and at least 1.
std::string kaNearestName(const std::string& word, const std::vector<std::string>& candidates);
// "; did you mean NAME?" for the nearest candidate, or "" when none is close.
std::string kaDidYouMean(const std::string& word, const std::vector<std::string>& candidates);

} // namespace Lode::Core
