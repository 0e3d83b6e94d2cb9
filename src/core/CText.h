// Zero-terminated text inside byte buffers that came from outside (firmware records,
// image files, package modules). Nothing here reads past the buffer, whether or not a
// terminating zero is present.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nox::core {

// The text at `offset`, up to the first zero, the end of the buffer, or `maxLength`
// characters, whichever comes first. An offset outside the buffer yields empty text.
std::string_view BoundedCString(std::span<const uint8_t> bytes, size_t offset,
                                size_t maxLength = static_cast<size_t>(-1));

// Same for a char buffer (fixed-size text fields).
std::string_view BoundedCString(std::span<const char> chars);

// Copies `text` into a fixed field of `field.size()` bytes, cut so that a terminating zero
// always fits, and zero-fills the rest. Returns false when the text had to be cut.
bool CopyCString(std::span<char> field, std::string_view text);

// ASCII case changes (A-Z / a-z only), as option matching and tags use them.
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);
inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The C library's decimal reading (atoi): leading white space, an optional sign, then the
// leading digits; no digits give 0. Saturates instead of overflowing.
int64_t CDecimal(std::string_view text);

}  // namespace nox::core
