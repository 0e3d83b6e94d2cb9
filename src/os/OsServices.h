// Everything the utility asks of the operating system: single instance, keeping the machine
// awake and its buttons quiet during a flash, shutting out input, restart and power-off,
// temporary files and outside programs, pauses and the end of the process. Windows does the
// real thing; the simulated machine records each effect that has no meaning on its host in
// its journal and never touches the host with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "os/Clock.h"
#include "os/FirmwareTables.h"

namespace nox::os {

inline constexpr const char* kFirstInstanceMutex = "NOXWINGUI";
inline constexpr const char* kServicesMutex = "NOXWINGUI.{5b5b8120-cd0e-11d9-b61b-0001294c3bd8}";
inline constexpr uint32_t kErrAlreadyRunning = 97;
// The longest temporary directory the program takes, as the Windows path limit allows.
inline constexpr size_t kMaxTempDirectory = 260;

// The command processor a command line goes to, which decides how an argument with blanks
// or special characters has to be quoted to arrive as one.
enum class CommandShell : uint8_t { kCmd, kPosixSh };

// The system's version query: platform (0 Win32s, 1 Windows 9x, 2 NT), major and minor.
struct OsVersionInfo {
  uint32_t platform = 2;
  uint32_t major = 0;
  uint32_t minor = 0;
};

// Where requests to stop the program come from: Ctrl+C, a terminal or console window
// closed, a termination request. The terminal build takes them from signals, the Windows
// console from its control events; each only notes the request, and the program acts on it
// at points of its own choosing.
class InterruptSource {
 public:
  virtual ~InterruptSource() = default;
  // 0 while no request came; else the exit code the system gives a program stopped that way.
  virtual uint32_t Requested() const = 0;
};

class OsServices : public Clock, public FirmwareTables {
 public:
  // Where the console lines of these services go (the power-interface failures, ...): the
  // session's message printer, so that a silent run prints none of them.
  using MessagePrinter = std::function<void(const std::string&)>;
  void SetMessagePrinter(MessagePrinter printer) { printer_ = std::move(printer); }

  // Creates the named mutex; false when it existed already (another instance runs).
  virtual bool CreateInstanceMutex(const std::string& name) = 0;
  // Brings the window of the instance that already runs (or its open pop-up) to the front.
  virtual void BringOtherInstanceToFront() = 0;
  // Binds the process to the first processor, where the system allows it.
  virtual void BindToFirstProcessor() = 0;
  // A string resource of the program's own module, or none.
  virtual std::optional<std::string> LoadStringResource(uint32_t id) = 0;

  // The services mutex, OS version, power library and preinstallation flag: 0, or 97 when
  // another instance holds the mutex (then nothing else is done).
  virtual uint32_t InitOsServices() = 0;
  virtual uint32_t OsMajorVersion() = 0;
  virtual OsVersionInfo OsVersion() = 0;

  // Lock-workstation policy, suspend guard and power buttons for the time of a flash.
  virtual void SetFlashProtection(bool on) = 0;
  virtual void KeepAwake(bool on) = 0;
  virtual void BlockUserInput(bool block) = 0;
  // Puts back the power buttons when a flash changed them and they are still changed;
  // false when there was nothing to restore.
  virtual bool RestorePowerButtons() = 0;
  virtual void ReleasePowerLibrary() = 0;
  // 1 when the request went out, 0 when the shutdown privilege was not obtained.
  virtual int RestartMachine() = 0;
  virtual int PowerOffMachine() = 0;

  // The current directory; none when it cannot be read (or is longer than the program
  // takes), with `error` set to the system's own code for why: GetLastError on Windows,
  // errno on POSIX.
  virtual std::optional<std::string> CurrentDirectory(uint32_t& error) = 0;
  // The directory for temporary files, ending in a separator and at most kMaxTempDirectory
  // characters; none when the system gives none that fits.
  virtual std::optional<std::string> TempDirectory() = 0;

  virtual CommandShell Shell() const = 0;
  // Runs `command` through the command processor and waits for it to end: its exit status,
  // or -1 when no command processor could be started.
  virtual int RunCommand(const std::string& command) = 0;

  // Moves a file, replacing one at `to`, also from one volume to another; false when the
  // file did not move.
  virtual bool MoveFileReplacing(const std::string& from, const std::string& to) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  virtual bool CanOpenForReading(const std::string& path) = 0;

  // Ends the process with `code`. Only a test double returns (by throwing).
  [[noreturn]] virtual void ExitProcess(uint32_t code) = 0;

  // Requests to stop, where the build has a source of them; a build without one is never
  // asked to stop.
  void SetInterruptSource(const InterruptSource* source) { interrupts_ = source; }
  uint32_t InterruptRequested() const { return interrupts_ ? interrupts_->Requested() : 0; }
  // While a flash writes, a request to stop is held: the region being written is finished
  // and the flash run then ends through its failure path. Otherwise the session ends the
  // program at the next point where it waits for the user or calls the firmware.
  void HoldInterrupts(bool hold) { interruptsHeld_ = hold; }
  bool InterruptsHeld() const { return interruptsHeld_; }

 protected:
  void Say(const std::string& line) const {
    if (printer_) printer_(line);
  }

 private:
  MessagePrinter printer_;
  const InterruptSource* interrupts_ = nullptr;
  bool interruptsHeld_ = false;
};

}  // namespace nox::os
