// flash.bin kept current while a machine runs: every change of the part is copied into it as
// it happens, so that a process killed at any moment leaves what a real part would hold.
// POSIX maps the file shared (a change is in the page cache the moment it is made, with no
// call per request); elsewhere each changed range is written and flushed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>

namespace nox::sim {

class PartFile {
 public:
  // The file of `size` bytes at PATH, opened to be written in place; null with `error`
  // ("PATH: cannot be written: REASON") when it cannot be.
  static std::unique_ptr<PartFile> Open(const std::filesystem::path& path, size_t size, std::string& error);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // False with the reason when the bytes did not reach the file.
  bool Write(size_t offset, std::span<const uint8_t> bytes, std::string& why);
  // The file's bytes as memory when it is mapped (a change there is a change of the file);
  // empty otherwise.
  std::span<uint8_t> View() const { return view_ != nullptr ? std::span<uint8_t>(view_, size_) : std::span<uint8_t>(); }

 private:
  PartFile() = default;
  uint8_t* view_ = nullptr;  // the shared mapping, where there is one
  size_t size_ = 0;
  std::fstream stream_;      // otherwise
};

}  // namespace nox::sim
