#include "ecme/MeTool.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "core/CText.h"

namespace nox::ecme {
namespace {

using config::ModuleSlot;
using config::ModuleSlotId;

// The slot's content; none when the slot claims more than it holds.
std::optional<std::span<const uint8_t>> Content(const ModuleSlot& slot) {
  if (slot.size > slot.data.size()) return std::nullopt;
  return std::span<const uint8_t>(slot.data.data(), slot.size);
}

// True when `path` now holds exactly `bytes`. A file cut short is taken away again, so that
// the tool is never handed part of an image.
bool WriteWhole(const std::string& path, std::span<const uint8_t> bytes, os::OsServices& os) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) == 0 && written) return true;
  os.RemoveFile(path);
  return false;
}

// A POSIX shell runs only files marked executable; Windows has no such mark and ignores it.
void MarkRunnable(const std::string& path) {
  namespace fs = std::filesystem;
  try {
    std::error_code ec;
    fs::permissions(fs::path(path), fs::perms::owner_exec, fs::perm_options::add, ec);
  } catch (const std::exception&) {  // a name the path type cannot convert: nothing to mark
  }
}

// `arg` as the command processor must see it to hand it on as one argument. A plain path
// stays as it is, so that a usual temporary directory gives the usual command line.
std::string Quoted(os::CommandShell shell, const std::string& arg) {
  if (shell == os::CommandShell::kPosixSh) {
    constexpr const char* kPlain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    if (!arg.empty() && arg.find_first_not_of(kPlain) == std::string::npos) return arg;
    std::string out = "'";
    for (const char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  // Inside quotes cmd.exe takes its operators and separators as text; a Windows path holds
  // no quote of its own.
  if (!arg.empty() && arg.find_first_of(" \t&|<>^(),;=") == std::string::npos) return arg;
  return "\"" + arg + "\"";
}

}  // namespace

MeToolFiles PrepareMeTool(const config::ModuleSlots& modules, os::OsServices& os) {
  const std::string dir = os.TempDirectory().value_or("");
  MeToolFiles files{dir + kMeToolFileName, dir + kMeImageFileName, 0};
  const ModuleSlot& image = modules[ModuleSlotId::kMe];
  const ModuleSlot& tool = modules[ModuleSlotId::kMeTool];
  if (const auto bytes = Content(image); !image.Empty() && bytes && WriteWhole(files.imagePath, *bytes, os)) {
    files.written |= me_written::kImage;
  }
  if (const auto bytes = Content(tool); !tool.Empty() && bytes && WriteWhole(files.toolPath, *bytes, os)) {
    MarkRunnable(files.toolPath);
    files.written |= me_written::kTool;
  }
  return files;
}

void RunMeTool(const MeToolFiles& files, const config::ModuleSlots& modules, os::OsServices& os,
               const ConsolePrinter& print) {
  const auto say = [&](const char* text) {
    if (print) print(text);
  };
  if ((files.written & me_written::kTool) == 0 || !os.CanOpenForReading(files.toolPath)) return say(kMeToolMissing);
  if ((files.written & me_written::kImage) == 0 || !os.CanOpenForReading(files.imagePath)) {
    return say(kMeImageMissing);
  }
  const os::CommandShell shell = os.Shell();
  // A shell looks a bare program name up on the PATH; cmd.exe tries the current directory
  // first, where the plain names lie.
  const bool bare = shell == os::CommandShell::kPosixSh && files.toolPath.find('/') == std::string::npos;
  std::string command = Quoted(shell, bare ? "./" + files.toolPath : files.toolPath) + " -f " +
                        Quoted(shell, files.imagePath);
  const ModuleSlot& args = modules[ModuleSlotId::kMeToolArgs];
  if (!args.Empty()) {
    const auto text = Content(args);
    command += ' ';
    if (text) command += core::BoundedCString(*text, 0);
  }
  os.RunCommand(command);
  os.SleepMs(kMeToolPauseMs);
}

void CleanUpMeTool(const MeToolFiles& files, os::OsServices& os) {
  // Only a new log replaces the kept one: without one the last run's stays readable.
  if (const auto dir = os.TempDirectory()) os.MoveFileReplacing(kMeToolErrorLog, *dir + kMeToolErrorLog);
  if ((files.written & me_written::kImage) != 0) os.RemoveFile(files.imagePath);
  if ((files.written & me_written::kTool) != 0) os.RemoveFile(files.toolPath);
}

}  // namespace nox::ecme
