// One process at a time changes a machine directory: the utility running against it and every
// noxsim command that changes it hold the lock exclusively, commands that only look at it
// share it. The lock belongs to the open file the operating system keeps for the process, so
// it goes when the process ends, killed or not, and never needs clearing by hand.
//
// POSIX: flock on the directory itself (nothing is created; a read-only directory can still be
// looked at). Windows: machine.lock in the directory, opened with a sharing mode that keeps
// writers out (shared) or everybody (exclusive).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace nox::sim {

class MachineLock {
 public:
  enum class Kind { kShared, kExclusive };
  // Called once when another process holds the lock, before waiting for it; false gives up.
  using WhenBusy = std::function<bool()>;

  // The lock of DIR, or null with `error` set: it cannot be taken, or another process holds
  // it and `whenBusy` is empty or gave up.
  static std::unique_ptr<MachineLock> Take(const std::filesystem::path& dir, Kind kind, const WhenBusy& whenBusy,
                                           std::string& error);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

 private:
  explicit MachineLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace nox::sim
