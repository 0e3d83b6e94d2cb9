// Requests to stop the Windows build in its text mode: the console's control events (Ctrl+C,
// Ctrl+Break, the console window closed). The handler, which the system runs on a thread of
// its own, only notes the first event; the program acts on it where it waits or between the
// regions of a flash.
#pragma once

#include <windows.h>

#include <cstdint>

#include "os/OsServices.h"

namespace nox::win32 {

class ConsoleCtrlInterrupts final : public os::InterruptSource {
 public:
  // Adds the handler for the lifetime of the object (one per process).
  ConsoleCtrlInterrupts();
  ~ConsoleCtrlInterrupts() override;
  ConsoleCtrlInterrupts(const ConsoleCtrlInterrupts&) = delete;
  ConsoleCtrlInterrupts& operator=(const ConsoleCtrlInterrupts&) = delete;

  // STATUS_CONTROL_C_EXIT, the code Windows gives a console program its events ended.
  uint32_t Requested() const override;
};

}  // namespace nox::win32
