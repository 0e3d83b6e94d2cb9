// Every pause the utility makes goes through this port: real builds wait, the simulated
// machine advances its virtual clock, so tests never sleep.
#pragma once

#include <cstdint>

namespace nox::os {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void SleepMs(uint32_t milliseconds) = 0;
  // Milliseconds since some fixed point; only differences mean anything.
  virtual uint64_t NowMs() = 0;
};

}  // namespace nox::os
