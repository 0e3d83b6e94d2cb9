#include "platform/win32/Win32OsServices.h"
#include "platform/win32/WindowsVersion.h"

#include <shellapi.h>

#include <cstring>
#include <optional>
#include <string>

#include "core/Format.h"
#include "package/OwnFilePath.h"

namespace nox::win32 {
namespace {

// Newer power interface.
using PowerGetActiveSchemeFn = DWORD(WINAPI*)(HKEY, GUID**);
using PowerSetActiveSchemeFn = DWORD(WINAPI*)(HKEY, const GUID*);
using PowerWriteValueFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, DWORD);
using PowerReadValueFn = DWORD(WINAPI*)(HKEY, const GUID*, const GUID*, const GUID*, LPDWORD);
// Older power interface; the policies are handled as the byte blocks the system fills.
using GetActivePwrSchemeFn = BOOLEAN(WINAPI*)(PUINT);
using SetActivePwrSchemeFn = BOOLEAN(WINAPI*)(UINT, void*, void*);
using GetCurrentPowerPoliciesFn = BOOLEAN(WINAPI*)(void*, void*);

constexpr const char* kNewerNames[] = {"PowerGetActiveScheme",   "PowerSetActiveScheme",  "PowerWriteACValueIndex",
                                       "PowerWriteDCValueIndex", "PowerReadACValueIndex", "PowerReadDCValueIndex"};
constexpr const char* kOlderNames[] = {"GetActivePwrScheme", "SetActivePwrScheme", "GetCurrentPowerPolicies"};

constexpr GUID kSystemButtonSubgroup = {0x4F971E89, 0xEEBD, 0x4455, {0xA8, 0xDE, 0x9E, 0x59, 0x04, 0x0E, 0x73, 0x47}};
constexpr GUID kPowerButtonAction = {0x7648EFA3, 0xDD9C, 0x4E3E, {0xB5, 0x66, 0x50, 0xF9, 0x29, 0x38, 0x62, 0x80}};

constexpr size_t kGlobalPolicySize = 1216;
constexpr size_t kSchemePolicySize = 1168;
constexpr const char* kLockPolicyKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr const char* kLockPolicyValue = "DisableLockWorkstation";
constexpr const char* kGuardClass = "NOXWIN BackGround Detector Window";
constexpr UINT kPowerBroadcast = 0x218;
constexpr WPARAM kQuerySuspend = 0;
constexpr LRESULT kDenyQuery = 0x424D5144;
constexpr UINT kScreenSaverRunning = 97;

template <typename Fn>
Fn As(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

std::string SystemDirectory() {
  char dir[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(dir, MAX_PATH);
  std::string out(dir, n < MAX_PATH ? n : 0);
  if (!out.empty() && out.back() != '\\') out += '\\';
  return out;
}

// Starts `line` (with `application`, or searched for when that is null), waits for it to end
// and gives its exit code; none when it could not be started.
std::optional<int> RunAndWait(const char* application, std::string line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(application, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return std::nullopt;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

LRESULT CALLBACK GuardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPowerBroadcast && wParam == kQuerySuspend) return kDenyQuery;
  return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI SuspendGuardThread(LPVOID) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = GuardProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kGuardClass;
  RegisterClassA(&wc);  // already registered by an earlier guard: fine
  HWND window = CreateWindowExA(0, kGuardClass, kGuardClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) {
    MessageBoxA(nullptr, "Could not Create the NOXWIN BackGround Detector Window", "Failed", MB_ICONERROR);
    return 0;
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

Win32OsServices::~Win32OsServices() { ReleasePowerLibrary(); }

bool Win32OsServices::CreateInstanceMutex(const std::string& name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  // The handle is kept for the life of the process: the mutex marks the running instance.
  return mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

void Win32OsServices::BringOtherInstanceToFront() {
  HWND window = FindWindowA(nullptr, "NOXWINGUI");
  if (!window) return;
  HWND popup = GetLastActivePopup(window);
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(popup ? popup : window);
}

void Win32OsServices::BindToFirstProcessor() {
  using SetAffinityFn = BOOL(WINAPI*)(HANDLE, DWORD_PTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  if (auto call = As<SetAffinityFn>(GetProcAddress(kernel, "SetProcessAffinityMask"))) call(GetCurrentProcess(), 1);
}

std::optional<std::string> Win32OsServices::LoadStringResource(uint32_t id) {
  HMODULE self = GetModuleHandleA(nullptr);
  if (!self) return std::nullopt;
  char text[260] = {};
  const int n = LoadStringA(self, id, text, sizeof text);
  if (n <= 0) return std::nullopt;
  return std::string(text, static_cast<size_t>(n));
}

os::OsVersionInfo Win32OsServices::OsVersion() {
  const OSVERSIONINFOA info = WindowsVersion();
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

uint32_t Win32OsServices::InitOsServices() {
  HANDLE services = CreateMutexA(nullptr, TRUE, os::kServicesMutex);
  if (services == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return os::kErrAlreadyRunning;
  majorVersion_ = WindowsVersion().dwMajorVersion;
  LoadPowerLibrary();
  HKEY key = nullptr;
  preinstallation_ =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Control\\MININT", 0, KEY_READ, &key) == ERROR_SUCCESS;
  if (key) RegCloseKey(key);
  return 0;
}

bool Win32OsServices::LoadPowerLibrary() {
  power_ = LoadLibraryA((SystemDirectory() + "Powrprof.DLL").c_str());
  if (!power_) {
    Say("- LoadLibrary failure\n");
    return false;
  }
  const bool newer = majorVersion_ > 5;
  const size_t count = newer ? std::size(kNewerNames) : std::size(kOlderNames);
  for (size_t i = 0; i < count; ++i) {
    const char* name = newer ? kNewerNames[i] : kOlderNames[i];
    fn_[i] = GetProcAddress(power_, name);
    if (!fn_[i]) {
      Say(core::Format("- GetProcAddress \"%s\" failure\n", name));
      return false;
    }
  }
  return true;
}

bool Win32OsServices::SavePowerButtons() {
  if (!power_) return false;
  if (majorVersion_ > 5) {
    if (!fn_[0] || As<PowerGetActiveSchemeFn>(fn_[0])(nullptr, &activeScheme_) != ERROR_SUCCESS) {
      Say("- PowerGetActiveScheme failure\n");
      return false;
    }
    if (!fn_[4] || As<PowerReadValueFn>(fn_[4])(nullptr, activeScheme_, &kSystemButtonSubgroup, &kPowerButtonAction,
                                               &savedAc_) != ERROR_SUCCESS) {
      Say("- PowerReadACValueIndex data failure\n");
      return false;
    }
    if (!fn_[5] || As<PowerReadValueFn>(fn_[5])(nullptr, activeScheme_, &kSystemButtonSubgroup, &kPowerButtonAction,
                                               &savedDc_) != ERROR_SUCCESS) {
      Say("- PowerReadDCValueIndex data failure\n");
      return false;
    }
    return WriteButtonActions(0, 0);  // 0: the buttons do nothing
  }
  if (!fn_[0] || !As<GetActivePwrSchemeFn>(fn_[0])(&schemeNumber_)) {
    Say("- GetActivePwrScheme data failure\n");
    return false;
  }
  std::vector<uint8_t> global(kGlobalPolicySize, 0);
  std::vector<uint8_t> scheme(kSchemePolicySize, 0);
  savedGlobal_.assign(kGlobalPolicySize, 0);
  savedScheme_.assign(kSchemePolicySize, 0);
  const auto getPolicies = As<GetCurrentPowerPoliciesFn>(fn_[2]);
  if (!getPolicies || !getPolicies(global.data(), scheme.data()) ||
      !getPolicies(savedGlobal_.data(), savedScheme_.data())) {
    Say("- GetCurrentPowerPolicies data failure\n");
    savedGlobal_.clear();
    savedScheme_.clear();
    return false;
  }
  // Power and sleep buttons, on AC and on battery: the four action entries after the
  // revision field, each {action, flags, event code}.
  for (size_t i = 0; i < 4; ++i) {
    uint8_t* entry = &global[4 + 12 * i];
    const DWORD values[3] = {0, 0x20000000, 4};
    std::memcpy(entry, values, sizeof values);
  }
  if (!As<SetActivePwrSchemeFn>(fn_[1])(schemeNumber_, global.data(), scheme.data())) {
    Say("- SetActivePwrScheme failure\n");
    return false;
  }
  return true;
}

bool Win32OsServices::WriteButtonActions(DWORD ac, DWORD dc) {
  if (As<PowerWriteValueFn>(fn_[2])(nullptr, activeScheme_, &kSystemButtonSubgroup, &kPowerButtonAction, ac) !=
      ERROR_SUCCESS) {
    Say("- Power Write ACValueIndex data failure\n");
    return false;
  }
  if (As<PowerWriteValueFn>(fn_[3])(nullptr, activeScheme_, &kSystemButtonSubgroup, &kPowerButtonAction, dc) !=
      ERROR_SUCCESS) {
    Say("- Power Write DCValueIndex data failure\n");
    return false;
  }
  if (As<PowerSetActiveSchemeFn>(fn_[1])(nullptr, activeScheme_) != ERROR_SUCCESS) {
    Say("- PowerSetActiveScheme failure\n");
    return false;
  }
  return true;
}

bool Win32OsServices::RestorePowerButtons() {
  if (!powerPolicyChanged_) return false;
  powerPolicyChanged_ = false;
  return WritePowerButtonsBack();
}

bool Win32OsServices::WritePowerButtonsBack() {
  if (!power_) return false;
  if (majorVersion_ > 5) {
    // The marker value means the save never got as far as reading them.
    if (savedAc_ == 255 || savedDc_ == 255) return false;
    return WriteButtonActions(savedAc_, savedDc_);
  }
  if (savedGlobal_.empty() || !fn_[1] ||
      !As<SetActivePwrSchemeFn>(fn_[1])(schemeNumber_, savedGlobal_.data(), savedScheme_.data())) {
    Say("- Restore the Power Button action failure\n");
    return false;
  }
  return true;
}

void Win32OsServices::ReleasePowerLibrary() {
  savedGlobal_.clear();
  savedScheme_.clear();
  if (activeScheme_) {
    LocalFree(activeScheme_);
    activeScheme_ = nullptr;
  }
  if (power_) {
    FreeLibrary(power_);
    power_ = nullptr;
  }
}

void Win32OsServices::SetFlashProtection(bool on) {
  if (on) {
    DisableWorkstationLock();
    if (majorVersion_ < 6) StartSuspendGuard();
    if (!powerPolicyChanged_) powerPolicyChanged_ = SavePowerButtons();
    return;
  }
  RestoreWorkstationLock();
  if (powerPolicyChanged_) {
    if (guardThread_) {
      CloseHandle(guardThread_);
      guardThread_ = nullptr;
    }
    powerPolicyChanged_ = false;
    WritePowerButtonsBack();
  }
}

void Win32OsServices::StartSuspendGuard() {
  HANDLE thread = CreateThread(nullptr, 0, SuspendGuardThread, nullptr, 0, nullptr);
  if (!thread) {
    Say("\nERROR: Could not Create the Thread handler\n");
    return;
  }
  if (guardThread_) CloseHandle(guardThread_);
  guardThread_ = thread;
}

void Win32OsServices::DisableWorkstationLock() {
  if (lockChanged_) return;
  HKEY key = nullptr;
  const DWORD one = 1;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kLockPolicyKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, kLockPolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (read != ERROR_SUCCESS || value == 0) {
      lockSaved_ = 0;
      lockChanged_ = true;
      RegSetValueExA(key, kLockPolicyValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
  } else if (RegCreateKeyExA(HKEY_CURRENT_USER, kLockPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, kLockPolicyValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    lockChanged_ = true;
    lockSaved_ = 0;
  }
  if (key) RegCloseKey(key);
}

void Win32OsServices::RestoreWorkstationLock() {
  if (!lockChanged_) return;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kLockPolicyKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegSetValueExA(key, kLockPolicyValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&lockSaved_),
                   sizeof lockSaved_);
    RegCloseKey(key);
  }
  lockChanged_ = false;
}

void Win32OsServices::KeepAwake(bool on) {
  if (!on) {
    SetThreadExecutionState(ES_CONTINUOUS);
    return;
  }
  SetThreadExecutionState(majorVersion_ > 5 ? 0x80000043 : 0x80000003);
}

void Win32OsServices::BlockUserInput(bool block) {
  BlockInput(block ? TRUE : FALSE);
  BOOL previous = FALSE;
  SystemParametersInfoA(kScreenSaverRunning, block ? TRUE : FALSE, &previous, 0);
}

int Win32OsServices::Shutdown(bool restart) {
  const bool nt = WindowsVersion().dwPlatformId == VER_PLATFORM_WIN32_NT;
  if (nt) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return 0;
    TOKEN_PRIVILEGES privileges{};
    if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
      CloseHandle(token);
      return 0;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    ExitWindowsEx(restart ? 6 : 5, 0);
    CloseHandle(token);
  }
  if (preinstallation_) {
    if (HMODULE ntdll = LoadLibraryA((SystemDirectory() + "NTDLL.DLL").c_str())) {
      using NtShutdownSystemFn = LONG(WINAPI*)(int);
      if (auto call = As<NtShutdownSystemFn>(GetProcAddress(ntdll, "NtShutdownSystem"))) call(restart ? 1 : 2);
      FreeLibrary(ntdll);
    }
  }
  if (!nt) {
    char windows[MAX_PATH + 1] = {};
    const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    std::string exe(windows, n < MAX_PATH ? n : 0);
    if (!exe.empty() && exe.back() != '\\') exe += '\\';
    exe += "RUNDLL32.EXE";
    ShellExecuteA(nullptr, "open", exe.c_str(),
                  restart ? "shell32.dll,SHExitWindowsEx 2" : "shell32.dll,SHExitWindowsEx 1", nullptr, SW_HIDE);
  }
  return 1;
}

std::optional<std::string> Win32OsServices::CurrentDirectory(uint32_t& error) {
  char dir[package::kMaxCurrentDirectory + 1] = {};
  const DWORD n = GetCurrentDirectoryA(package::kMaxCurrentDirectory, dir);
  if (n == 0) {
    error = GetLastError();
    return std::nullopt;
  }
  // Too long for the buffer: the call answers with the size it needs and sets no error.
  if (n >= package::kMaxCurrentDirectory) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return std::nullopt;
  }
  return std::string(dir, n);
}

std::optional<std::string> Win32OsServices::TempDirectory() {
  char dir[MAX_PATH + 1] = {};
  // Too long for the buffer: the call answers with the size it needs.
  const DWORD n = GetTempPathA(sizeof dir, dir);
  if (n == 0 || n > os::kMaxTempDirectory) return std::nullopt;
  std::string out(dir, n);
  if (out.back() != '\\' && out.back() != '/') out += '\\';
  if (out.size() > os::kMaxTempDirectory) return std::nullopt;
  return out;
}

int Win32OsServices::RunCommand(const std::string& command) {
  // cmd.exe takes off the first and the last quote of what follows "/c" when it holds more
  // than two quotes: one more pair around the line keeps it as it stands.
  const std::string tail = " /c \"" + command + "\"";
  char comspec[MAX_PATH + 1] = {};
  const DWORD n = GetEnvironmentVariableA("COMSPEC", comspec, sizeof comspec);
  std::optional<int> status;
  if (n > 0 && n < sizeof comspec) status = RunAndWait(comspec, std::string(1, '"').append(comspec, n) + '"' + tail);
  if (!status) status = RunAndWait(nullptr, "cmd.exe" + tail);
  return status.value_or(-1);
}

bool Win32OsServices::MoveFileReplacing(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool Win32OsServices::RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32OsServices::CanOpenForReading(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

void Win32OsServices::ExitProcess(uint32_t code) {
  std::fflush(nullptr);
  ::ExitProcess(code);
}

}  // namespace nox::win32
