#include "platform/sim/HostFiles.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace nox::sim {

namespace fs = std::filesystem;

std::string LastSystemError(const char* fallback) {
  const int code = errno;
  return code != 0 ? std::generic_category().message(code) : std::string(fallback);
}

bool Missing(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::not_found;
}

std::string NotAFile(const fs::path& path, bool mayBeMissing) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  switch (status.type()) {
    case fs::file_type::regular: return {};
    case fs::file_type::not_found:
      return mayBeMissing && Missing(path) ? std::string() : std::make_error_code(std::errc::no_such_file_or_directory).message();
    case fs::file_type::directory: return std::make_error_code(std::errc::is_a_directory).message();
    case fs::file_type::none: return ec ? ec.message() : "cannot be examined";
    default: return "not a regular file";
  }
}

bool ReadFile(const fs::path& path, std::vector<uint8_t>& out, std::string* why) {
  std::string problem = NotAFile(path, false);
  if (problem.empty()) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (ec) {
      problem = ec.message();
    } else if (!in) {
      problem = LastSystemError("cannot be opened");
    } else {
      try {
        out.resize(static_cast<size_t>(size));
      } catch (const std::exception&) {  // bad_alloc, or a size past what a vector holds
        problem = std::make_error_code(std::errc::not_enough_memory).message();
      }
      if (problem.empty() && !in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()))) {
        problem = LastSystemError("shorter than its size");
      }
    }
  }
  if (why != nullptr) *why = problem;
  return problem.empty();
}

bool WriteFile(const fs::path& path, std::span<const uint8_t> bytes, std::string* why) {
  std::string problem = NotAFile(path, true);
  if (problem.empty()) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    if (!out) problem = LastSystemError("cannot be written");
  }
  if (why != nullptr) *why = problem;
  return problem.empty();
}

std::string NotWritableDirectory(const fs::path& dir) {
#ifdef _WIN32
  (void)dir;  // the machine's lock file, made there first, tells
  return {};
#else
  return ::access(dir.c_str(), W_OK) == 0 ? std::string() : LastSystemError("cannot be written");
#endif
}

std::string CannotRead(const fs::path& path, const std::string& why) { return path.string() + ": cannot be read: " + why; }

std::string CannotWrite(const fs::path& path, const std::string& why) {
  return path.string() + ": cannot be written: " + why;
}

}  // namespace nox::sim
