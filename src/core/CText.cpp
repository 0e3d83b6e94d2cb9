#include "core/CText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace nox::core {

std::string_view BoundedCString(std::span<const uint8_t> bytes, size_t offset, size_t maxLength) {
  if (offset >= bytes.size()) return {};
  const size_t avail = std::min(bytes.size() - offset, maxLength);
  const auto* start = reinterpret_cast<const char*>(bytes.data() + offset);
  const void* zero = std::memchr(start, 0, avail);
  const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - start) : avail;
  return {start, length};
}

std::string_view BoundedCString(std::span<const char> chars) {
  const void* zero = std::memchr(chars.data(), 0, chars.size());
  const size_t length =
      zero ? static_cast<size_t>(static_cast<const char*>(zero) - chars.data()) : chars.size();
  return {chars.data(), length};
}

bool CopyCString(std::span<char> field, std::string_view text) {
  if (field.empty()) return text.empty();
  const size_t n = std::min(text.size(), field.size() - 1);
  std::copy_n(text.data(), n, field.data());
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(n), field.end(), '\0');
  return n == text.size();
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

int64_t CDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kCeiling = 1'000'000'000'000'000'000;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    value = value > (kCeiling - digit) / 10 ? kCeiling : value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace nox::core
