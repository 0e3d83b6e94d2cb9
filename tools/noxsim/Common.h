// What the noxsim commands share: exit codes, the failure line, file access and numbers as
// people type them.
#pragma once

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/HostFiles.h"
#include "platform/sim/Machine.h"

namespace noxsim {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDifferent = 1;  // diff: the flash and the image differ
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFailed = 3;

inline int Failed(const std::string& what) {
  std::cerr << "noxsim: " << what << "\n";
  return kExitFailed;
}

// An output may be a device or a pipe (-o /dev/stdout); `error` names the file and the reason.
inline bool WriteBytes(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (out) return true;
  error = nox::sim::CannotWrite(path, nox::sim::LastSystemError("cannot be opened"));
  return false;
}

// An input must be a regular file: a directory, a FIFO or a device is refused before it blocks
// or never ends.
inline bool ReadBytes(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  std::string why;
  if (nox::sim::ReadFile(path, out, &why)) return true;
  error = nox::sim::CannotRead(path, why);
  return false;
}

// Every command opens its machine through here: one that only looks shares the directory
// with others that look, one that changes it has it alone. Another process's hold is waited
// for, said once so that nobody wonders why nothing happens.
inline bool SayWaiting(const std::string& dir) {
  std::cerr << "noxsim: waiting for " << dir << " (in use)\n";
  return true;
}
inline std::unique_ptr<nox::sim::Machine> OpenMachine(const std::string& dir, std::string& error,
                                                      nox::sim::Machine::Access access) {
  return nox::sim::Machine::Open(dir, error, access, [&] { return SayWaiting(dir); });
}

inline std::optional<uint64_t> Number(const std::string& text, uint64_t max) {
  try {
    size_t used = 0;
    const uint64_t v = std::stoull(text, &used, 0);
    if (used != text.size() || v > max || text[0] == '-') return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace noxsim
