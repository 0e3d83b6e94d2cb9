#include "platform/sim/SimDriverPort.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/sim/DriverEnd.h"
#include "platform/sim/Machine.h"

namespace nox::sim {

namespace {
constexpr uint32_t kErrorAlreadyRunning = 1056;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kGenericReadWrite = 0xC0000000;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kAttributeNormal = 128;
}  // namespace

SimDriverPort::SimDriverPort(Machine& machine, std::string exePath, uint32_t majorVersion)
    : machine_(machine), exePath_(std::move(exePath)), majorVersion_(majorVersion) {}

std::string SimDriverPort::CurrentDirectoryPrefix() {
  std::error_code ec;
  const auto dir = std::filesystem::current_path(ec);
  return ec ? std::string() : (dir / "").string();
}

bool SimDriverPort::WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool SimDriverPort::RemoveFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::remove(path, ec);
}

firmware::PortHandle SimDriverPort::OpenServiceManager(uint32_t) {
  const firmware::PortHandle h = next_++;
  managers_[h] = true;
  return h;
}

SimDriverPort::Service* SimDriverPort::ServiceOf(firmware::PortHandle handle) {
  auto it = serviceHandles_.find(handle);
  if (it == serviceHandles_.end()) return nullptr;
  auto s = services_.find(it->second);
  return s == services_.end() ? nullptr : &s->second;
}

firmware::PortHandle SimDriverPort::CreateKernelService(firmware::PortHandle manager, const std::string& name,
                                                        const std::string& imagePath) {
  if (!managers_.count(manager) || services_.count(name)) return 0;
  services_[name] = Service{imagePath};
  machine_.RecordEffect("driver-service", {{"op", "create"}, {"name", name}, {"image", imagePath}});
  return OpenNamedService(manager, name, 0);
}

firmware::PortHandle SimDriverPort::OpenNamedService(firmware::PortHandle manager, const std::string& name,
                                                     uint32_t) {
  auto it = services_.find(name);
  if (!managers_.count(manager) || it == services_.end() || it->second.deleted) return 0;
  const firmware::PortHandle h = next_++;
  serviceHandles_[h] = name;
  ++it->second.handles;
  return h;
}

bool SimDriverPort::StartNamedService(firmware::PortHandle service, uint32_t& lastError) {
  Service* s = ServiceOf(service);
  if (!s) return false;
  if (s->running) {
    lastError = kErrorAlreadyRunning;
    return false;
  }
  // Like the real service manager, the driver loads from its file: no file (or an empty
  // one, which is no driver image), no driver.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(s->imagePath, ec) || std::filesystem::file_size(s->imagePath, ec) == 0) {
    lastError = kErrorFileNotFound;
    machine_.RecordEffect("driver-service", {{"op", "start"}, {"result", "no driver file"}});
    return false;
  }
  s->running = true;
  machine_.RecordEffect("driver-service", {{"op", "start"}, {"result", "running"}});
  return true;
}

bool SimDriverPort::StopService(firmware::PortHandle service) {
  Service* s = ServiceOf(service);
  if (!s || !s->running || device_) return false;  // an open device keeps the driver in use
  s->running = false;
  machine_.RecordEffect("driver-service", {{"op", "stop"}});
  return true;
}

bool SimDriverPort::DeleteNamedService(firmware::PortHandle service) {
  Service* s = ServiceOf(service);
  if (!s || s->deleted) return false;
  s->deleted = true;
  machine_.RecordEffect("driver-service", {{"op", "delete"}});
  return true;
}

void SimDriverPort::CloseServiceHandle(firmware::PortHandle handle) {
  if (managers_.erase(handle)) return;
  auto it = serviceHandles_.find(handle);
  if (it == serviceHandles_.end()) return;
  auto s = services_.find(it->second);
  serviceHandles_.erase(it);
  if (s == services_.end()) return;
  // A deleted service disappears once its last handle is closed and it no longer runs.
  if (--s->second.handles == 0 && s->second.deleted && !s->second.running) services_.erase(s);
}

firmware::PortHandle SimDriverPort::OpenDevice(const std::string& path, uint32_t access, uint32_t share,
                                              uint32_t disposition, uint32_t flags) {
  // Before Windows 5 there is no global namespace; from 5 on a service's device is reached
  // through it.
  const std::string expected = majorVersion_ < 5 ? "\\\\.\\GENERICDRV" : "\\\\.\\Global\\GENERICDRV";
  const char* misuse = path != expected                   ? "no such device path on this Windows version"
                       : access != kGenericReadWrite      ? "access is not GENERIC_READ | GENERIC_WRITE"
                       : share != 0                       ? "the device is opened for sharing"
                       : disposition != kOpenExisting     ? "disposition is not OPEN_EXISTING"
                       : flags != kAttributeNormal        ? "flags are not FILE_ATTRIBUTE_NORMAL"
                                                          : nullptr;
  if (misuse) {
    machine_.RecordEffect("driver", {{"request", "open-device"}, {"path", path}, {"misuse", misuse}});
    return 0;
  }
  auto it = services_.find("GENERICDRV");
  if (device_ || it == services_.end() || !it->second.running) return 0;
  device_ = next_++;
  return device_;
}

bool SimDriverPort::CloseDevice(firmware::PortHandle device) {
  if (device == 0 || device != device_) return false;
  device_ = 0;
  return true;
}

bool SimDriverPort::Control(firmware::PortHandle device, uint32_t code, std::span<uint8_t> record,
                            uint32_t& bytesReturned) {
  bytesReturned = 0;
  if (device == 0 || device != device_) return false;
  return machine_.Driver().Control(code, record, bytesReturned);
}

std::span<uint8_t> SimDriverPort::Memory(uint64_t programAddress, size_t length) {
  return machine_.Driver().Memory(programAddress, length);
}

}  // namespace nox::sim
