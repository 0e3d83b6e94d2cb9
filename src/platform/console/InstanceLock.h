// Named locks that stand in for the Windows mutexes: a lock file held with flock for the
// life of the process. The lock dies with the process, so a crashed run leaves none behind.
#pragma once

#include <filesystem>
#include <string>

namespace nox::console {

// Takes the lock `name` in `directory`; false when another process holds it.
bool TakeInstanceLock(const std::filesystem::path& directory, const std::string& name);
// Whether another process holds the lock `name` in `directory` now (nothing is taken).
bool InstanceLockHeld(const std::filesystem::path& directory, const std::string& name);

}  // namespace nox::console
