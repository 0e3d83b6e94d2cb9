// Whole files of the machine's directory (and the recovery file the firmware reads from the
// host's disk), read and written at once. Only regular files are read or replaced: a FIFO
// would block the program and a directory or a device is not a file of the machine. Every
// failure says why, in the host's words ("Is a directory", "Read-only file system").
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace nox::sim {

// Why PATH cannot be read or replaced as a file of its own; empty when it is a regular file
// or, with `mayBeMissing`, when nothing is there.
std::string NotAFile(const std::filesystem::path& path, bool mayBeMissing);

// Nothing at all is at PATH (not even a broken link).
bool Missing(const std::filesystem::path& path);

// False with the reason in `why` when PATH cannot be read whole.
bool ReadFile(const std::filesystem::path& path, std::vector<uint8_t>& out, std::string* why = nullptr);
bool WriteFile(const std::filesystem::path& path, std::span<const uint8_t> bytes, std::string* why = nullptr);

// "PATH: cannot be read: REASON" and its writing twin, the one line a failure is told in.
std::string CannotRead(const std::filesystem::path& path, const std::string& why);
std::string CannotWrite(const std::filesystem::path& path, const std::string& why);

// Why files cannot be made or replaced in DIR (a read-only directory or file system); empty
// when they can, as far as the host tells before trying.
std::string NotWritableDirectory(const std::filesystem::path& dir);

// The host's text for the last failed C library call (errno), or `fallback` when it left none.
std::string LastSystemError(const char* fallback);

}  // namespace nox::sim
