#include "platform/win32/Win32FirmwareTables.h"

#include <windows.h>

namespace nox::win32 {
namespace {

using GetSystemFirmwareTableFn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);

// Older systems lack the call, so it is looked up at run time.
GetSystemFirmwareTableFn LookUpTableService(HMODULE& library) {
  library = LoadLibraryA("kernel32.dll");
  if (!library) return nullptr;
  return reinterpret_cast<GetSystemFirmwareTableFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetSystemFirmwareTable")));
}

}  // namespace

bool Win32FirmwareTables::HasTableService() {
  HMODULE library = nullptr;
  const bool present = LookUpTableService(library) != nullptr;
  if (library) FreeLibrary(library);
  return present;
}

uint32_t Win32FirmwareTables::ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) {
  HMODULE library = nullptr;
  const auto call = LookUpTableService(library);
  const uint32_t size =
      call ? call(provider, tableId, buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size())) : 0;
  if (library) FreeLibrary(library);
  return size;
}

bool Win32FirmwareTables::EnableSystemEnvironmentPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, "SeSystemEnvironmentPrivilege", &privileges.Privileges[0].Luid) != 0;
  if (ok) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    ok = GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return ok;
}

uint32_t Win32FirmwareTables::ProbeFirmwareVariable() {
  if (GetFirmwareEnvironmentVariableA("", "{00000000-0000-0000-0000-000000000000}", nullptr, 0) != 0) return 0;
  return GetLastError();
}

}  // namespace nox::win32
