// A GUID as firmware stores it: the first three fields little-endian, the last eight bytes
// as they stand ("mixed-endian"). Held here in field form so that comparisons, printing and
// parsing do not depend on the host's byte order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nox::core {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  static constexpr size_t kSize = 16;

  // Accepts "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", optionally in braces, either case.
  static std::optional<Guid> Parse(std::string_view text);

  // From / to the 16-byte firmware layout. FromBytes needs at least 16 bytes.
  static std::optional<Guid> FromBytes(std::span<const uint8_t> bytes);
  std::array<uint8_t, kSize> ToBytes() const;
  void WriteTo(std::span<uint8_t, kSize> out) const;

  // "{7A9354D9-0468-444A-81CE-0BF617D890DF}": the registry form, upper case, in braces.
  std::string ToRegistryString() const;
  // "7a9354d9-0468-444a-81ce0bf617d890df"-style lower-case text without braces and with
  // the last eight bytes run together, as the firmware information shows it.
  std::string ToCompactString() const;

  friend bool operator==(const Guid&, const Guid&) = default;
  friend auto operator<=>(const Guid&, const Guid&) = default;
};

// Parses a GUID literal known to be valid; for tables of well-known names.
Guid GuidLiteral(std::string_view text);

}  // namespace nox::core
