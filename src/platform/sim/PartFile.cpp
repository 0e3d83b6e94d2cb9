#include "platform/sim/PartFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/sim/HostFiles.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace nox::sim {

std::unique_ptr<PartFile> PartFile::Open(const std::filesystem::path& path, size_t size, std::string& error) {
  std::unique_ptr<PartFile> file(new PartFile());
  errno = 0;
#ifndef _WIN32
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  void* view = fd < 0 || size == 0 ? MAP_FAILED : ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
  const int code = errno;
  if (fd >= 0) ::close(fd);  // the mapping keeps the file
  if (view != MAP_FAILED) {
    file->view_ = static_cast<uint8_t*>(view);
    file->size_ = size;
    return file;
  }
  errno = code;
#else
  (void)size;  // a range outside the part never reaches here: FlashPart checks first
  file->stream_.open(path, std::ios::binary | std::ios::in | std::ios::out);
  if (file->stream_) return file;
#endif
  error = CannotWrite(path, LastSystemError("cannot be opened"));
  return nullptr;
}

PartFile::~PartFile() {
#ifndef _WIN32
  if (view_ != nullptr) ::munmap(view_, size_);
#endif
}

bool PartFile::Write(size_t offset, std::span<const uint8_t> bytes, std::string& why) {
  if (view_ != nullptr) {
    if (offset > size_ || bytes.size() > size_ - offset) {
      why = "outside the file";
      return false;
    }
    std::memcpy(view_ + offset, bytes.data(), bytes.size());
    return true;
  }
  errno = 0;
  stream_.seekp(static_cast<std::streamoff>(offset));
  stream_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  stream_.flush();
  if (stream_) return true;
  why = LastSystemError("cannot be written");
  return false;
}

}  // namespace nox::sim
