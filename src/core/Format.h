// printf-style formatting into std::string. Message texts of this program are printf
// format strings, so this is the one place that turns them into text.
#pragma once

#include <cstdarg>
#include <string>

namespace nox::core {

#if defined(__GNUC__)
#define NOX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NOX_PRINTF(fmt, args)
#endif

std::string Format(const char* format, ...) NOX_PRINTF(1, 2);
std::string FormatV(const char* format, va_list args);

}  // namespace nox::core
