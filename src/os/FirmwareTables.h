// What the operating system tells about the firmware: its ACPI tables and whether it boots
// through UEFI. Windows asks GetSystemFirmwareTable and the firmware variable services; the
// simulated machine answers from its profile.
#pragma once

#include <cstdint>
#include <span>

namespace nox::os {

// The ACPI provider and the FADT ("FACP", as its signature lies in memory).
inline constexpr uint32_t kProviderAcpi = 0x41435049;
inline constexpr uint32_t kTableFacp = 0x50434146;

class FirmwareTables {
 public:
  virtual ~FirmwareTables() = default;

  // False when the operating system has no firmware table service at all.
  virtual bool HasTableService() = 0;
  // The size of the table `tableId` of `provider`; copies it into `buffer` when it fits.
  // 0 when there is no such table.
  virtual uint32_t ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) = 0;

  // Enables the privilege needed to read firmware variables; false when that failed.
  virtual bool EnableSystemEnvironmentPrivilege() = 0;
  // Reads the variable with the empty name in the all-zero namespace into no buffer:
  // 0 when the call succeeded, otherwise the system error code.
  virtual uint32_t ProbeFirmwareVariable() = 0;
};

}  // namespace nox::os
