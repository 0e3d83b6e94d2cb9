// Reading and checking a profile stop at the first problem, thrown as "<field path>: <reason>"
// and turned into ProfileResult's error by ProfileFromJson; nothing else sees the exception.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/sim/Profile.h"

namespace nox::sim::profile_detail {

struct ProfileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Fail(const std::string& path, const std::string& reason) {
  throw ProfileError(path + ": " + reason);
}

// The machine keeps the whole chip in memory and writes it out on every save.
inline constexpr uint32_t kMaxFlashSize = 256u << 20;

// Checks what cannot be told from one field alone.
void Validate(const Profile& profile);

}  // namespace nox::sim::profile_detail
