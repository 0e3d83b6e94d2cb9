// The one way a run ends once it has started: the session releases what it holds, prints the
// error's message and exits with its code. Parts that may refuse a run take this reference;
// tests implement it by throwing.
#pragma once

#include <cstdint>

namespace nox::core {

class SessionEnd {
 public:
  virtual ~SessionEnd() = default;
  [[noreturn]] virtual void EndSession(uint32_t errorId) = 0;
};

}  // namespace nox::core
