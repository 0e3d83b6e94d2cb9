// The options the firmware may learn about and switch at start-up, one bit each. The same
// bits travel both ways in the command-line configuration exchange.
#pragma once

#include <cstdint>
#include <span>

#include "config/ConfigStore.h"

namespace nox::config {

namespace default_mask {
inline constexpr uint32_t kMainBios = 0x0001;
inline constexpr uint32_t kBootBlock = 0x0002;
inline constexpr uint32_t kNvram = 0x0004;
inline constexpr uint32_t kNcb = 0x0008;  // all NCBs; switching it off also drops one NCB
inline constexpr uint32_t kEc = 0x0010;
inline constexpr uint32_t kSilent = 0x0020;
inline constexpr uint32_t kReboot = 0x0040;
inline constexpr uint32_t kNoRomIdCheck = 0x0080;
inline constexpr uint32_t kShowSystemRomId = 0x0100;
inline constexpr uint32_t kEcIfNewer = 0x0200;
inline constexpr uint32_t kShutdown = 0x0400;
inline constexpr uint32_t kRomHole = 0x1000;
inline constexpr uint32_t kOption50 = 0x4000;  // id 50 has no record in the built-in table

// Every bit that names an option the built-in table declares.
inline constexpr uint32_t kDeclared = 0x17FF;
}  // namespace default_mask

struct DefaultMaskBit {
  uint32_t bit;
  uint32_t option;
};

// The bits in the order the firmware's answer is applied.
std::span<const DefaultMaskBit> DefaultMaskTable();

// The bits of the options now selected.
uint32_t DefaultOptionMask(const ConfigStore& store);

// Applies a firmware answer: first selects the options of `switchOn`, then deselects those
// of `switchOff`, so an option named in both ends up off.
void ApplyDefaultOptionAnswer(ConfigStore& store, uint32_t switchOn, uint32_t switchOff);

}  // namespace nox::config
