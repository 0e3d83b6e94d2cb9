// What the noxsim commands share: exit codes, the failure line, file access and numbers as
// people type them.
#pragma once

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sim/HostFiles.h"

namespace noxsim {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDifferent = 1;  // diff: the flash and the image differ
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFailed = 3;

inline int Failed(const std::string& what) {
  std::cerr << "noxsim: " << what << "\n";
  return kExitFailed;
}

inline bool WriteBytes(const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline bool ReadBytes(const std::string& path, std::vector<uint8_t>& out) { return nox::sim::ReadFile(path, out); }

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
