// Clearing secrets so that no copy of a password outlives its use: the writes go through a
// volatile pointer, which the compiler may not drop as dead stores.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace nox::policy {

void WipeBytes(std::span<uint8_t> bytes);
// Clears the whole storage of `text` (also what lies between its size and capacity), then
// empties it.
void WipeString(std::string& text);
void WipeString(std::optional<std::string>& text);

}  // namespace nox::policy
