#include "platform/console/InstanceLock.h"

#include <fcntl.h>
#include <cctype>
#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

namespace nox::console {

namespace {

std::filesystem::path LockFile(const std::filesystem::path& directory, const std::string& name) {
  std::string file;
  for (char c : name) file += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
  return directory / (".lock-" + file);
}

}  // namespace

bool InstanceLockHeld(const std::filesystem::path& directory, const std::string& name) {
  const int fd = ::open(LockFile(directory, name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;  // never taken here
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

bool TakeInstanceLock(const std::filesystem::path& directory, const std::string& name) {
  const int fd = ::open(LockFile(directory, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open: the lock lasts as long as the process
}

}  // namespace nox::console
