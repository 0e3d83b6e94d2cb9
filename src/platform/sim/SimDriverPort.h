// The driver port of the simulated machine. It keeps the service control manager's
// bookkeeping in memory with the same rules Windows applies (a service needs its driver
// file to start, a deleted service lingers while handles are open, the device opens only
// while the driver runs) and hands the driver requests to the machine's driver end.
#pragma once

#include <map>
#include <string>

#include "firmware/DriverPort.h"

namespace nox::sim {

class Machine;

class SimDriverPort final : public firmware::DriverPort {
 public:
  // `exePath` is the path the utility runs from; the driver file is written beside it.
  // `majorVersion` is the Windows version reported, which decides the device's path.
  SimDriverPort(Machine& machine, std::string exePath, uint32_t majorVersion = 10);

  bool PlatformIsNt() override { return true; }
  uint32_t MajorVersion() override { return majorVersion_; }
  std::optional<std::string> OwnExecutablePath() override { return exePath_; }
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

 private:
  struct Service {
    std::string imagePath;
    bool running = false;
    bool deleted = false;
    int handles = 0;
  };
  Service* ServiceOf(firmware::PortHandle handle);

  Machine& machine_;
  std::string exePath_;
  uint32_t majorVersion_;
  std::map<std::string, Service> services_;
  std::map<firmware::PortHandle, std::string> serviceHandles_;
  std::map<firmware::PortHandle, bool> managers_;
  firmware::PortHandle device_ = 0;
  firmware::PortHandle next_ = 0x100;
};

}  // namespace nox::sim
