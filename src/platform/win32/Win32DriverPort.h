// The driver port on Windows: the service control manager, the driver's device and
// DeviceIoControl, one system call per operation.
#pragma once

#include "firmware/DriverPort.h"

namespace nox::win32 {

class Win32DriverPort final : public firmware::DriverPort {
 public:
  bool PlatformIsNt() override;
  uint32_t MajorVersion() override;
  std::optional<std::string> OwnExecutablePath() override;
  std::string CurrentDirectoryPrefix() override;

  bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) override;
  bool RemoveFile(const std::string& path) override;

  firmware::PortHandle OpenServiceManager(uint32_t access) override;
  firmware::PortHandle CreateKernelService(firmware::PortHandle manager, const std::string& name,
                                           const std::string& imagePath) override;
  firmware::PortHandle OpenNamedService(firmware::PortHandle manager, const std::string& name,
                                        uint32_t access) override;
  bool StartNamedService(firmware::PortHandle service, uint32_t& lastError) override;
  bool StopService(firmware::PortHandle service) override;
  bool DeleteNamedService(firmware::PortHandle service) override;
  void CloseServiceHandle(firmware::PortHandle handle) override;

  firmware::PortHandle OpenDevice(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                                  uint32_t flags) override;
  bool CloseDevice(firmware::PortHandle device) override;
  bool Control(firmware::PortHandle device, uint32_t code, std::span<uint8_t> record,
               uint32_t& bytesReturned) override;
  std::span<uint8_t> Memory(uint64_t programAddress, size_t length) override;
};

}  // namespace nox::win32
