// The text helpers that the host and the passes share.
#pragma once

#include <cstdarg>
#include <string>

namespace Lode::Core {

// printf-style formatting into a string of any length.
std::string kaFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string kaFormatV(const char* format, va_list args);

} // namespace Lode::Core
