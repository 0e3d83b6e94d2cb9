#include "platform/sim/SimOsServices.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/Format.h"
#include "package/OwnFilePath.h"
#include "platform/sim/Machine.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace nox::sim {

namespace {
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorNoAccess = 998;
}  // namespace

SimOsServices::SimOsServices(Machine& machine, std::function<bool(const std::string&)> createMutex,
                             SystemEnd systemEnd)
    : machine_(machine), createMutex_(std::move(createMutex)), systemEnd_(std::move(systemEnd)) {
  if (!systemEnd_) systemEnd_ = [this](uint32_t code) { ExitProcess(code); };
}

bool SimOsServices::CreateInstanceMutex(const std::string& name) { return !createMutex_ || createMutex_(name); }

uint32_t SimOsServices::InitOsServices() {
  if (!CreateInstanceMutex(os::kServicesMutex)) return os::kErrAlreadyRunning;
  // A machine the last run took down is switched on before this run can touch it, so that an
  // update it had pending is never applied over this run's writes.
  if (machine_.Down()) machine_.Boot();
  machine_.RecordEffect("os-init", {{"major", 10}});
  return 0;
}

void SimOsServices::SetFlashProtection(bool on) {
  if (on) {
    if (!lockChanged_) machine_.RecordEffect("lock-workstation", {{"disabled", true}});
    lockChanged_ = true;
    if (!powerButtonsChanged_) machine_.RecordEffect("power-buttons", {{"saved", true}});
    powerButtonsChanged_ = true;
    return;
  }
  if (lockChanged_) machine_.RecordEffect("lock-workstation", {{"disabled", false}});
  lockChanged_ = false;
  RestorePowerButtons();
}

void SimOsServices::KeepAwake(bool on) {
  machine_.RecordEffect("keep-awake", {{"on", on}, {"state", on ? "0x80000043" : "0x80000000"}});
}

void SimOsServices::BlockUserInput(bool block) { machine_.RecordEffect("input", {{"blocked", block}}); }

bool SimOsServices::RestorePowerButtons() {
  if (!powerButtonsChanged_) return false;
  powerButtonsChanged_ = false;
  machine_.RecordEffect("power-buttons", {{"saved", false}});
  return true;
}

void SimOsServices::ReleasePowerLibrary() {}

int SimOsServices::RestartMachine() {
  machine_.RecordEffect("restart-requested");
  machine_.GoDown("reboot");
  systemEnd_(0);
  return 1;
}

int SimOsServices::PowerOffMachine() {
  machine_.RecordEffect("power-off-requested");
  machine_.GoDown("power-off");
  systemEnd_(0);
  return 1;
}

std::optional<std::string> SimOsServices::CurrentDirectory(uint32_t& error) {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  // The host's own code: errno on POSIX, the Windows error under Wine.
  if (!ec && dir.size() > package::kMaxCurrentDirectory) ec = std::make_error_code(std::errc::result_out_of_range);
  if (ec) {
    error = static_cast<uint32_t>(ec.value());
    return std::nullopt;
  }
  return dir;
}

std::optional<std::string> SimOsServices::TempDirectory() {
#ifdef _WIN32
  // Under Windows the host's own answer (TMP, TEMP, ...), as the Windows services give it.
  const char separator = '\\';
  std::string dir;
  try {
    std::error_code ec;
    dir = std::filesystem::temp_directory_path(ec).string();
    if (ec) return std::nullopt;
  } catch (const std::exception&) {  // a name the ANSI code page cannot hold
    return std::nullopt;
  }
#else
  const char separator = '/';
  const char* env = std::getenv("TMPDIR");
  std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
#endif
  if (dir.empty()) return std::nullopt;
  if (dir.back() != separator) dir += separator;
  if (dir.size() > os::kMaxTempDirectory) return std::nullopt;
  return dir;
}

os::CommandShell SimOsServices::Shell() const {
#ifdef _WIN32
  return os::CommandShell::kCmd;
#else
  return os::CommandShell::kPosixSh;
#endif
}

int SimOsServices::RunCommand(const std::string& command) {
  std::fflush(nullptr);  // what this program printed comes before what the command prints
#ifdef _WIN32
  // The C library hands the line to "%COMSPEC% /c", which takes off the first and the last
  // quote of a line holding more than two: one more pair keeps the line as it stands.
  const int status = std::system(("\"" + command + "\"").c_str());
#else
  const int raw = std::system(command.c_str());
  const int status = raw == -1 ? -1 : WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  machine_.RecordEffect("command", {{"line", command}, {"status", status}});
  return status;
}

bool SimOsServices::MoveFileReplacing(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  // Another volume (a temporary directory on its own file system): copy, then take the
  // original away.
  if (!fs::is_regular_file(from, ec) || !fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
    return false;
  }
  fs::remove(from, ec);
  return true;
}

bool SimOsServices::RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool SimOsServices::CanOpenForReading(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f != nullptr) std::fclose(f);
  return f != nullptr;
}

void SimOsServices::ExitProcess(uint32_t code) {
  // A run that would have ended well must not look so when its machine kept nothing of it;
  // any other outcome keeps its own code, the failure is told all the same.
  if (!machine_.PersistAtExit() && code == 0) code = kSaveFailedExitCode;
  std::fflush(nullptr);
  std::exit(static_cast<int>(code));
}

void SimOsServices::SleepMs(uint32_t milliseconds) {
  machine_.Advance(milliseconds);
  machine_.RecordEffect("pause", {{"ms", milliseconds}});
}

uint64_t SimOsServices::NowMs() { return machine_.Now(); }

uint32_t SimOsServices::ReadTable(uint32_t provider, uint32_t tableId, std::span<uint8_t> buffer) {
  if (provider != os::kProviderAcpi || tableId != os::kTableFacp) return 0;
  const std::vector<uint8_t> table = machine_.FadtTable();
  if (table.size() <= buffer.size()) std::copy(table.begin(), table.end(), buffer.begin());
  return static_cast<uint32_t>(table.size());
}

uint32_t SimOsServices::ProbeFirmwareVariable() {
  // A legacy BIOS has no variable services at all; UEFI refuses the nameless variable.
  return machine_.IsUefi() ? kErrorNoAccess : kErrorInvalidFunction;
}

}  // namespace nox::sim
