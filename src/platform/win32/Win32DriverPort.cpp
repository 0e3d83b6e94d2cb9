#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/WindowsVersion.h"

#include <windows.h>

#include <cstdio>

namespace nox::win32 {
namespace {

SC_HANDLE Sc(firmware::PortHandle h) { return reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(h)); }
HANDLE Device(firmware::PortHandle h) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(h)); }
firmware::PortHandle ToPort(const void* h) { return static_cast<firmware::PortHandle>(reinterpret_cast<uintptr_t>(h)); }

}  // namespace

bool Win32DriverPort::PlatformIsNt() { return WindowsVersion().dwPlatformId == VER_PLATFORM_WIN32_NT; }

uint32_t Win32DriverPort::MajorVersion() { return WindowsVersion().dwMajorVersion; }

std::optional<std::string> Win32DriverPort::OwnExecutablePath() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return std::string(path, length);
}

std::string Win32DriverPort::CurrentDirectoryPrefix() {
  char dir[MAX_PATH + 1] = {};
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, dir);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string prefix(dir, length);
  if (prefix.back() != '\\') prefix += '\\';
  return prefix;
}

bool Win32DriverPort::WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool Win32DriverPort::RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

firmware::PortHandle Win32DriverPort::OpenServiceManager(uint32_t access) {
  return ToPort(OpenSCManagerA(nullptr, nullptr, access));
}

firmware::PortHandle Win32DriverPort::CreateKernelService(firmware::PortHandle manager, const std::string& name,
                                                          const std::string& imagePath) {
  return ToPort(CreateServiceA(Sc(manager), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                               SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr, nullptr,
                               nullptr, nullptr, nullptr));
}

firmware::PortHandle Win32DriverPort::OpenNamedService(firmware::PortHandle manager, const std::string& name,
                                                       uint32_t access) {
  return ToPort(OpenServiceA(Sc(manager), name.c_str(), access));
}

bool Win32DriverPort::StartNamedService(firmware::PortHandle service, uint32_t& lastError) {
  if (StartServiceA(Sc(service), 0, nullptr)) return true;
  lastError = GetLastError();
  return lastError == ERROR_SERVICE_ALREADY_RUNNING;
}

bool Win32DriverPort::StopService(firmware::PortHandle service) {
  SERVICE_STATUS status{};
  return ControlService(Sc(service), SERVICE_CONTROL_STOP, &status) != 0;
}

bool Win32DriverPort::DeleteNamedService(firmware::PortHandle service) { return DeleteService(Sc(service)) != 0; }

void Win32DriverPort::CloseServiceHandle(firmware::PortHandle handle) { ::CloseServiceHandle(Sc(handle)); }

firmware::PortHandle Win32DriverPort::OpenDevice(const std::string& path, uint32_t access, uint32_t share,
                                                 uint32_t disposition, uint32_t flags) {
  const HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
  return h == INVALID_HANDLE_VALUE ? 0 : ToPort(h);
}

bool Win32DriverPort::CloseDevice(firmware::PortHandle device) { return CloseHandle(Device(device)) != 0; }

bool Win32DriverPort::Control(firmware::PortHandle device, uint32_t code, std::span<uint8_t> record,
                              uint32_t& bytesReturned) {
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(Device(device), code, record.data(), static_cast<DWORD>(record.size()), record.data(),
                                  static_cast<DWORD>(record.size()), &returned, nullptr);
  bytesReturned = returned;
  return ok != 0;
}

std::span<uint8_t> Win32DriverPort::Memory(uint64_t programAddress, size_t length) {
  // The driver mapped this range into our address space; the address is ours to use.
  return {reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(programAddress)), length};
}

}  // namespace nox::win32
