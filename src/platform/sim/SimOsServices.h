// Operating-system services for a run against the simulated machine. Effects that only
// mean something on Windows (keep-awake, input blocking, power buttons, the lock policy,
// restart and power-off) are recorded in the machine's journal and never reach the host;
// pauses advance the machine's virtual clock. Files, the temporary directory and outside
// programs are the host's own (the POSIX shell, or cmd.exe under Windows); a command is also
// journaled. A restart or power-off takes the running program down with the machine, as the
// operating system would: it ends with exit code 0, and the machine stays down until
// `noxsim reboot` or the next run switches it on.
#pragma once

#include <functional>
#include <string>

#include "os/OsServices.h"

namespace nox::sim {

class Machine;

class SimOsServices : public os::OsServices {
 public:
  // How the program ends when its machine restarts or powers off.
  using SystemEnd = std::function<void(uint32_t exitCode)>;

  // `createMutex` makes a host-wide named lock (false when another process holds it).
  // Without `systemEnd` the machine is saved and the process exits.
  SimOsServices(Machine& machine, std::function<bool(const std::string&)> createMutex, SystemEnd systemEnd = {});

  bool CreateInstanceMutex(const std::string& name) override;
  void BringOtherInstanceToFront() override {}
  void BindToFirstProcessor() override {}
  std::optional<std::string> LoadStringResource(uint32_t) override { return std::nullopt; }
  uint32_t InitOsServices() override;
  // The simulated machine runs a current NT system.
  uint32_t OsMajorVersion() override { return 10; }
  os::OsVersionInfo OsVersion() override { return {2, 10, 0}; }
  void SetFlashProtection(bool on) override;
  void KeepAwake(bool on) override;
  void BlockUserInput(bool block) override;
  bool RestorePowerButtons() override;
  void ReleasePowerLibrary() override;
  int RestartMachine() override;
  int PowerOffMachine() override;
  std::optional<std::string> CurrentDirectory(uint32_t& error) override;
  std::optional<std::string> TempDirectory() override;
  os::CommandShell Shell() const override;
  int RunCommand(const std::string& command) override;
  bool MoveFileReplacing(const std::string& from, const std::string& to) override;
  bool RemoveFile(const std::string& path) override;
  bool CanOpenForReading(const std::string& path) override;
  [[noreturn]] void ExitProcess(uint32_t code) override;

  void SleepMs(uint32_t milliseconds) override;
  uint64_t NowMs() override;

  bool HasTableService() override { return true; }
  uint32_t ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) override;
  bool EnableSystemEnvironmentPrivilege() override { return true; }
  uint32_t ProbeFirmwareVariable() override;

 private:
  Machine& machine_;
  std::function<bool(const std::string&)> createMutex_;
  SystemEnd systemEnd_;
  bool powerButtonsChanged_ = false;
  bool lockChanged_ = false;
};

}  // namespace nox::sim
