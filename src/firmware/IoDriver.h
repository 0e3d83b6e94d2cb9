// The user-mode side of the kernel I/O driver: writes the driver out of the package,
// installs and opens it, and offers its four requests (allocate and release the shared
// block, map physical memory, write an I/O port).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "config/ModuleSlots.h"
#include "firmware/DriverPort.h"

namespace nox::firmware {

namespace driver {
inline constexpr const char* kServiceName = "GENERICDRV";
inline constexpr uint32_t kManagerAllAccess = 0xF003F;
inline constexpr uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr uint32_t kGenericReadWrite = 0xC0000000;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kAttributeNormal = 128;
inline constexpr uint32_t kDeleteOnClose = 0x04000000;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr int kServiceVanishTries = 4096;

// Control codes: CTL_CODE(0xFA00, 3000 + n, METHOD_BUFFERED, FILE_ANY_ACCESS) on NT.
inline constexpr uint32_t kNtAllocate = 0xFA002EE0;
inline constexpr uint32_t kNtRelease = 0xFA002EE4;
inline constexpr uint32_t kNtMap = 0xFA002EE8;
inline constexpr uint32_t kNtWritePort = 0xFA002EFC;
inline constexpr uint32_t kVxdAllocate = 3;
inline constexpr uint32_t kVxdRelease = 4;
inline constexpr uint32_t kVxdMap = 1;
inline constexpr uint32_t kVxdWritePort = 7;

inline constexpr size_t kAllocateRecordSize = 20;
inline constexpr size_t kReleaseRecordSize = 8;
inline constexpr size_t kMapRecordSize = 24;
inline constexpr size_t kWritePortRecordSize = 22;
}  // namespace driver

struct SharedBlock {
  std::span<uint8_t> memory;  // the block as the program sees it
  uint32_t physical = 0;      // where the firmware finds it
};

class IoDriver {
 public:
  IoDriver(DriverPort& port, const config::ModuleSlots& modules, bool wideBuild = sizeof(void*) == 8);

  bool LoadIoDriver();
  bool UnloadIoDriver();
  bool Loaded() const { return loaded_; }

  std::optional<SharedBlock> AllocSharedBlock(uint32_t size);
  bool ReleaseSharedBlock(uint32_t physical, uint32_t size);
  // The mapping of [physical, physical + length), or an empty span on failure.
  std::span<uint8_t> MapPhysical(uint32_t physical, uint32_t length);
  // Mappings live until the process ends; nothing is sent.
  bool UnmapPhysical(std::span<uint8_t>) { return true; }
  // Writes `value` to `port`. The record carries the current shared block's physical
  // address, which the firmware's handler reads from the interrupted processor's state.
  bool WritePort(uint16_t port, uint32_t width, uint8_t value);

  // Called before every request to the driver: where the session acts on a request to stop
  // the program while nobody is asked anything.
  void SetRequestHook(std::function<void()> hook) { requestHook_ = std::move(hook); }

  // The driver file the last load wrote (and removed again), for diagnostics and tests.
  const std::string& DriverFilePath() const { return driverFile_; }

 private:
  bool LoadNt();
  bool LoadVxd();
  bool StopService(PortHandle manager);
  bool RemoveService(PortHandle manager);
  PortHandle OpenNtDevice();
  uint32_t Code(uint32_t nt, uint32_t vxd) const { return platformIsNt_ ? nt : vxd; }
  bool Request(uint32_t code, std::span<uint8_t> record, uint32_t& bytesReturned);

  DriverPort& port_;
  const config::ModuleSlots& modules_;
  const bool wideBuild_;
  bool loaded_ = false;
  bool platformIsNt_ = true;
  PortHandle device_ = 0;
  uint32_t currentBlockPhysical_ = 0;
  std::string driverFile_;
  std::function<void()> requestHook_;
};

}  // namespace nox::firmware
