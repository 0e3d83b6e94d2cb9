// The operating-system services on Windows: mutexes, power buttons through Powrprof (two
// interfaces by OS version), execution state, input blocking, the lock-workstation policy,
// the suspend guard of older systems, restart and power-off; temporary files and outside
// programs through the command processor.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "os/OsServices.h"
#include "platform/win32/Win32FirmwareTables.h"

namespace nox::win32 {

class Win32OsServices final : public os::OsServices {
 public:
  ~Win32OsServices() override;

  bool CreateInstanceMutex(const std::string& name) override;
  void BringOtherInstanceToFront() override;
  void BindToFirstProcessor() override;
  std::optional<std::string> LoadStringResource(uint32_t id) override;
  uint32_t InitOsServices() override;
  uint32_t OsMajorVersion() override { return majorVersion_; }
  os::OsVersionInfo OsVersion() override;
  void SetFlashProtection(bool on) override;
  void KeepAwake(bool on) override;
  void BlockUserInput(bool block) override;
  bool RestorePowerButtons() override;
  void ReleasePowerLibrary() override;
  int RestartMachine() override { return Shutdown(true); }
  int PowerOffMachine() override { return Shutdown(false); }
  std::optional<std::string> CurrentDirectory(uint32_t& error) override;
  std::optional<std::string> TempDirectory() override;
  os::CommandShell Shell() const override { return os::CommandShell::kCmd; }
  int RunCommand(const std::string& command) override;
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool CanOpenForReading(const std::string& path) override;
  [[noreturn]] void ExitProcess(uint32_t code) override;

  void SleepMs(uint32_t milliseconds) override { Sleep(milliseconds); }
  uint64_t NowMs() override { return GetTickCount64(); }

  bool HasTableService() override { return tables_.HasTableService(); }
  uint32_t ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) override {
    return tables_.ReadTable(provider, tableId, buffer);
  }
  bool EnableSystemEnvironmentPrivilege() override { return tables_.EnableSystemEnvironmentPrivilege(); }
  uint32_t ProbeFirmwareVariable() override { return tables_.ProbeFirmwareVariable(); }

 private:
  bool LoadPowerLibrary();
  bool SavePowerButtons();
  bool WritePowerButtonsBack();
  bool WriteButtonActions(DWORD ac, DWORD dc);
  void DisableWorkstationLock();
  void RestoreWorkstationLock();
  void StartSuspendGuard();
  int Shutdown(bool restart);

  Win32FirmwareTables tables_;
  uint32_t majorVersion_ = 0;
  bool preinstallation_ = false;
  HMODULE power_ = nullptr;
  FARPROC fn_[6] = {};
  DWORD savedAc_ = 255;
  DWORD savedDc_ = 255;
  GUID* activeScheme_ = nullptr;
  UINT schemeNumber_ = 0;
  std::vector<uint8_t> savedGlobal_;
  std::vector<uint8_t> savedScheme_;
  bool powerPolicyChanged_ = false;
  bool lockChanged_ = false;
  DWORD lockSaved_ = 0;
  HANDLE guardThread_ = nullptr;
};

}  // namespace nox::win32
