// The running Windows version: platform id (NT or 9x) and major version.
#pragma once

#include <windows.h>

namespace nox::win32 {

inline OSVERSIONINFOA WindowsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&info);
#pragma GCC diagnostic pop
  return info;
}

}  // namespace nox::win32
