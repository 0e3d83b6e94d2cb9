// What Wine can run of the Windows operating-system services: the two mutexes, the version,
// and the lock-workstation policy value written and put back around a flash.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/Win32OsServices.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAIL: %s\n", what);
  }
}

// The policy value, or -1 when it is not there.
long PolicyValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return -1;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG rc = RegQueryValueExA(key, "DisableLockWorkstation", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? static_cast<long>(value) : -1;
}

}  // namespace

int main() {
  nox::win32::Win32OsServices os;
  Check(os.CreateInstanceMutex("NOXWINGUI-smoke"), "the first instance mutex is created");
  Check(!os.CreateInstanceMutex("NOXWINGUI-smoke"), "a second one is refused");
  Check(os.InitOsServices() == 0, "the services start");
  Check(os.OsMajorVersion() >= 5, "the version is known");
  Check(os.InitOsServices() == 97, "a second start of the services is refused");

  os.SetFlashProtection(true);
  Check(PolicyValue() == 1, "locking the workstation is off during the flash");
  os.SetFlashProtection(false);
  Check(PolicyValue() == 0, "and put back afterwards");
  os.KeepAwake(true);
  os.KeepAwake(false);
  std::printf("win32 services: %d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
