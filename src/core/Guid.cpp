#include "core/Guid.h"

#include <cstdlib>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::core {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at `pos`, or fails.
std::optional<uint32_t> HexField(std::string_view text, size_t pos, size_t digits) {
  uint32_t value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = HexDigit(text[pos + i]);
    if (d < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  return value;
}

}  // namespace

std::optional<Guid> Guid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') {
    return std::nullopt;
  }
  Guid g;
  const auto d1 = HexField(text, 0, 8);
  const auto d2 = HexField(text, 9, 4);
  const auto d3 = HexField(text, 14, 4);
  if (!d1 || !d2 || !d3) return std::nullopt;
  g.data1 = *d1;
  g.data2 = static_cast<uint16_t>(*d2);
  g.data3 = static_cast<uint16_t>(*d3);
  static constexpr size_t kByteAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    const auto b = HexField(text, kByteAt[i], 2);
    if (!b) return std::nullopt;
    g.data4[i] = static_cast<uint8_t>(*b);
  }
  return g;
}

std::optional<Guid> Guid::FromBytes(std::span<const uint8_t> bytes) {
  if (bytes.size() < kSize) return std::nullopt;
  Guid g;
  g.data1 = LoadLe32(bytes.data());
  g.data2 = LoadLe16(bytes.data() + 4);
  g.data3 = LoadLe16(bytes.data() + 6);
  for (size_t i = 0; i < 8; ++i) g.data4[i] = bytes[8 + i];
  return g;
}

void Guid::WriteTo(std::span<uint8_t, kSize> out) const {
  StoreLe32(out.data(), data1);
  StoreLe16(out.data() + 4, data2);
  StoreLe16(out.data() + 6, data3);
  for (size_t i = 0; i < 8; ++i) out[8 + i] = data4[i];
}

std::array<uint8_t, Guid::kSize> Guid::ToBytes() const {
  std::array<uint8_t, kSize> out{};
  WriteTo(out);
  return out;
}

std::string Guid::ToRegistryString() const {
  return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
}

std::string Guid::ToCompactString() const {
  return Format("%08x-%04x-%04x-%02x%02x%02x%02x%02x%02x%02x%02x", data1, data2, data3, data4[0],
                data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
}

Guid GuidLiteral(std::string_view text) {
  const auto g = Guid::Parse(text);
  if (!g) std::abort();  // a malformed literal in our own tables is a programming error
  return *g;
}

}  // namespace nox::core
