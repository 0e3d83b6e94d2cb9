// The seam between the driver loader and whatever serves its requests: the Windows service
// control manager with the kernel driver, or the simulated machine's driver end. Each
// operation is one system call of the Windows sequence, so the loader's logic (which
// service calls, in which order, which file when) is portable and testable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace nox::firmware {

// An opaque handle of the port; 0 is "no handle".
using PortHandle = uint64_t;

class DriverPort {
 public:
  virtual ~DriverPort() = default;

  // --- platform facts -------------------------------------------------------------------
  // True for the NT family (platform id 2); false for Windows 9x.
  virtual bool PlatformIsNt() = 0;
  virtual uint32_t MajorVersion() = 0;
  // Full path of the running executable (at most 260 characters), or none.
  virtual std::optional<std::string> OwnExecutablePath() = 0;
  // The current directory with a trailing separator, for the Windows 9x driver file.
  virtual std::string CurrentDirectoryPrefix() = 0;

  // --- files ------------------------------------------------------------------------------
  // Writes `bytes` as the whole file, replacing an existing one.
  virtual bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;

  // --- service control manager ----------------------------------------------------------
  virtual PortHandle OpenServiceManager(uint32_t access) = 0;
  virtual PortHandle CreateKernelService(PortHandle manager, const std::string& name,
                                         const std::string& imagePath) = 0;
  virtual PortHandle OpenNamedService(PortHandle manager, const std::string& name, uint32_t access) = 0;
  // False with `lastError` set when the service did not start.
  virtual bool StartNamedService(PortHandle service, uint32_t& lastError) = 0;
  virtual bool StopService(PortHandle service) = 0;
  virtual bool DeleteNamedService(PortHandle service) = 0;
  virtual void CloseServiceHandle(PortHandle handle) = 0;

  // --- device -----------------------------------------------------------------------------
  virtual PortHandle OpenDevice(const std::string& path, uint32_t access, uint32_t share,
                                uint32_t disposition, uint32_t flags) = 0;
  virtual bool CloseDevice(PortHandle device) = 0;
  // One request: `record` is both the input and the output buffer.
  virtual bool Control(PortHandle device, uint32_t code, std::span<uint8_t> record,
                       uint32_t& bytesReturned) = 0;

  // The memory behind a program address the driver handed out (shared block, mapping);
  // empty when the address does not resolve for that length.
  virtual std::span<uint8_t> Memory(uint64_t programAddress, size_t length) = 0;
};

}  // namespace nox::firmware
