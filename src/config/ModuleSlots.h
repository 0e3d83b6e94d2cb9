// The modules taken from the appended package, each expanded into a buffer of its own.
#pragma once

#include <array>
#include <cstdint>

#include "core/Bytes.h"

namespace nox::config {

enum class ModuleSlotId : uint8_t { kRom, kEc, kMe, kMeTool, kMeToolArgs, kVxd, kW32, kW64 };
inline constexpr size_t kModuleSlotCount = 8;

struct ModuleSlot {
  core::ByteBuffer data;  // owns the expanded content (may be larger than `size`)
  uint32_t size = 0;          // expanded size; 0 for an empty slot

  bool Empty() const { return size == 0 && data.empty(); }
  void Clear() {
    data.clear();
    data.shrink_to_fit();
    size = 0;
  }
};

// Bits of the driver mask: which driver modules were already taken from the package.
namespace driver_bit {
inline constexpr uint8_t kVxd = 1;
inline constexpr uint8_t kW32 = 2;
inline constexpr uint8_t kW64 = 4;
}  // namespace driver_bit

struct ModuleSlots {
  std::array<ModuleSlot, kModuleSlotCount> slots;
  uint8_t driverMask = 0;

  ModuleSlot& operator[](ModuleSlotId id) { return slots[static_cast<size_t>(id)]; }
  const ModuleSlot& operator[](ModuleSlotId id) const { return slots[static_cast<size_t>(id)]; }
  void ClearAll() {
    for (ModuleSlot& s : slots) s.Clear();
    driverMask = 0;
  }
};

}  // namespace nox::config
