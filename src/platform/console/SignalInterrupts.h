// Requests to stop the terminal build: SIGINT (Ctrl+C), SIGTERM and SIGHUP (the terminal
// closed). Their handlers only note the first signal; the program acts on it where it
// waits or between the regions of a flash.
#pragma once

#include <signal.h>
#include <cstdint>

#include "os/OsServices.h"

namespace nox::console {

class SignalInterrupts final : public os::InterruptSource {
 public:
  // Installs the handlers for the lifetime of the object (one per process). They are
  // installed without SA_RESTART, so that a wait for input is broken by the signal.
  SignalInterrupts();
  ~SignalInterrupts() override;
  SignalInterrupts(const SignalInterrupts&) = delete;
  SignalInterrupts& operator=(const SignalInterrupts&) = delete;

  // 128 + the signal number, as a shell reports a program a signal ended.
  uint32_t Requested() const override;

 private:
  struct sigaction saved_[3];
};

}  // namespace nox::console
