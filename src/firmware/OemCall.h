// Platform questions asked of the firmware: a 36-byte record (class, select, four inputs,
// four outputs) at the start of the shared block, raised with SMI command 13. A call the
// firmware does not answer leaves the preset outputs in place, which each call's success
// test reads as "no".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "firmware/SmiFlash.h"

namespace nox::firmware {

struct OemCallRecord {
  uint16_t callClass = 0;
  uint16_t select = 0;
  std::array<uint32_t, 4> inputs{};
  std::array<uint32_t, 4> outputs{};  // output 0 is the status

  static constexpr size_t kSize = 36;
  void WriteTo(std::span<uint8_t, kSize> out) const;
  static OemCallRecord ReadFrom(std::span<const uint8_t, kSize> in);
};

class OemCalls {
 public:
  static constexpr size_t kArea1 = 1024;
  static constexpr size_t kArea2 = 2048;
  // The identity area runs 4 KiB from the first data area, over the second one.
  static constexpr size_t kIdentityAreaSize = 4096;

  explicit OemCalls(SmiFlash& smi) : smi_(smi) {}

  // Clears the record, fills it, raises 13 and reads the record back. None when there is
  // no shared block to place it in.
  std::optional<OemCallRecord> OemCall(uint16_t callClass, uint16_t select, std::array<uint32_t, 4> inputs,
                                       std::array<uint32_t, 4> presets);

  // 99/15: the identity area (4 KiB from buffer + 1024) and the model name area (buffer +
  // 2048), when the firmware answered.
  struct IdentityAreas {
    std::span<const uint8_t> identity;
    std::span<const uint8_t> modelName;
  };
  std::optional<IdentityAreas> ReadIdentity();
  // 99/17: platform status word and update-permission byte.
  struct PlatformStatus {
    uint16_t ecbFlags = 0;
    uint8_t updatePermission = 0;
  };
  std::optional<PlatformStatus> ReadPlatformStatus();
  // 99/31: the index of the system name.
  std::optional<uint8_t> ReadSystemNameIndex();
  // 99/40: whether the firmware protects this version from being flashed.
  bool VersionProtected(uint32_t extendedId, std::array<char, 3> version);
  // 10/0, 10/3, 10/4: administrator password.
  bool AdministratorPasswordSet();
  std::optional<uint8_t> MaximumPasswordLength();
  bool SubmitAdministratorPassword(std::string_view password);
  // 1/0 with inputs 0x8005 and 1; the firmware's answer is not read.
  void SignalSl();

 private:
  std::array<uint32_t, 4> AreaInputs() const;

  SmiFlash& smi_;
};

}  // namespace nox::firmware
