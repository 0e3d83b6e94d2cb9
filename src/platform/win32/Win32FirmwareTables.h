// Firmware tables and the UEFI probe on Windows.
#pragma once

#include "os/FirmwareTables.h"

namespace nox::win32 {

class Win32FirmwareTables final : public os::FirmwareTables {
 public:
  bool HasTableService() override;
  uint32_t ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) override;
  bool EnableSystemEnvironmentPrivilege() override;
  uint32_t ProbeFirmwareVariable() override;
};

}  // namespace nox::win32
