#include "platform/sim/MachineLock.h"

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace nox::sim {

namespace {

enum class Attempt { kTaken, kBusy, kFailed };

#ifdef _WIN32
// A sharing violation is the only answer that means "someone else has it".
Attempt Try(const std::filesystem::path& dir, MachineLock::Kind kind, int& fd, std::string& error) {
  const bool exclusive = kind == MachineLock::Kind::kExclusive;
  const std::string path = (dir / "machine.lock").string();
  const int flags = (exclusive ? _O_RDWR : _O_RDONLY) | _O_CREAT | _O_BINARY | _O_NOINHERIT;
  const errno_t code = _sopen_s(&fd, path.c_str(), flags, exclusive ? _SH_DENYRW : _SH_DENYWR, _S_IREAD | _S_IWRITE);
  if (code == 0) return Attempt::kTaken;
  std::error_code ec;
  if (code == EACCES && std::filesystem::is_directory(dir, ec)) return Attempt::kBusy;
  error = path + ": cannot be opened: " + std::generic_category().message(code);
  return Attempt::kFailed;
}

void Release(int fd) { _close(fd); }

Attempt Wait(const std::filesystem::path& dir, MachineLock::Kind kind, int& fd, std::string& error) {
  for (;;) {
    const Attempt a = Try(dir, kind, fd, error);
    if (a != Attempt::kBusy) return a;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
#else
int Operation(MachineLock::Kind kind) { return kind == MachineLock::Kind::kExclusive ? LOCK_EX : LOCK_SH; }

Attempt Try(const std::filesystem::path& dir, MachineLock::Kind kind, int& fd, std::string& error) {
  fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = dir.string() + ": cannot be opened: " + std::generic_category().message(errno);
    return Attempt::kFailed;
  }
  if (::flock(fd, Operation(kind) | LOCK_NB) == 0) return Attempt::kTaken;
  const int code = errno;
  if (code == EWOULDBLOCK) return Attempt::kBusy;
  ::close(fd);
  error = dir.string() + ": cannot be locked: " + std::generic_category().message(code);
  return Attempt::kFailed;
}

void Release(int fd) { ::close(fd); }

Attempt Wait(const std::filesystem::path& dir, MachineLock::Kind kind, int& fd, std::string& error) {
  int result = 0;
  do {
    result = ::flock(fd, Operation(kind));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return Attempt::kTaken;
  error = dir.string() + ": cannot be locked: " + std::generic_category().message(errno);
  ::close(fd);
  return Attempt::kFailed;
}
#endif

}  // namespace

std::unique_ptr<MachineLock> MachineLock::Take(const std::filesystem::path& dir, Kind kind, const WhenBusy& whenBusy,
                                               std::string& error) {
  int fd = -1;
  Attempt a = Try(dir, kind, fd, error);
  if (a == Attempt::kBusy) {
    if (!whenBusy || !whenBusy()) {
#ifndef _WIN32
      Release(fd);
#endif
      error = dir.string() + ": in use by another process";
      return nullptr;
    }
    a = Wait(dir, kind, fd, error);
  }
  if (a != Attempt::kTaken) return nullptr;
  return std::unique_ptr<MachineLock>(new MachineLock(fd));
}

MachineLock::~MachineLock() { Release(fd_); }

}  // namespace nox::sim
