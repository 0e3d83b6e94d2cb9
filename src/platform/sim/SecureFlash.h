// The firmware's secure-flash side: the image memory the utility uploads pieces into, the
// session that lets it write that image and nothing else, and the capsule or recovery update
// armed for the next boot.
//
// On disk, in the machine directory: secure-flash.json (which bytes of the image memory were
// uploaded, the open session, the pending update), image-memory.bin (the image memory up to
// the last uploaded byte) and pending-capsule.bin (the image proper of a pending capsule).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/Profile.h"

namespace nox::sim {

class Machine;

// Which blocks a policy's region bits cover: bit 0 the boot block, bit 1 the main BIOS and
// the non-critical blocks, bit 2 the NVRAM, bit 3 the EC.
bool RegionBitsCover(uint32_t regions, uint8_t blockType);
// "boot block, main BIOS" for the journal and for people.
std::string RegionBitNames(uint32_t regions);

class SecureFlash {
 public:
  explicit SecureFlash(Machine& machine) : machine_(machine) {}

  bool Capable() const;
  uint32_t Capacity() const;

  // A well-formed 'p' block that this firmware's state makes misuse (a piece outside the
  // image memory); null when there is none.
  const char* Misuse(std::span<const uint8_t> block, nlohmann::json& detail) const;
  // Serves a well-formed 'p' block of a capable machine; returns the answer flags.
  uint16_t Serve(std::span<uint8_t> block, nlohmann::json& detail);

  // Why an erase or a write is refused on a capable machine; null when it may go ahead.
  const char* Refusal(bool erase, uint32_t address, uint32_t length, std::span<const uint8_t> data) const;

  // Where the utility runs from: the recovery file is looked up in its working directory,
  // then in its program's directory. An empty working directory means the process's own.
  void SetUtilityPaths(std::filesystem::path program, std::filesystem::path workingDirectory);

  // The power went: firmware memory is gone, an armed update stays.
  void PowerLost();
  // Applies the pending update to the flash part (journaled), then forgets the update, the
  // image memory and the session. Returns what the boot did, for people.
  std::string Boot();
  // The block table's part as the next boot would leave it when an update is pending and
  // can be applied; nothing when the boot would leave the part as it is.
  std::optional<std::vector<uint8_t>> PartAfterBoot(std::span<const uint8_t> part) const;

  bool SessionOpen() const { return session_.has_value(); }
  uint64_t BytesHeld() const;
  nlohmann::json Summary() const;

  bool Load(const std::filesystem::path& dir, std::string& error);
  bool Save(const std::filesystem::path& dir, std::string& error);

 private:
  struct Session {
    uint8_t type = 0;
    uint32_t regions = 0;
    uint32_t headerLength = 0;
    uint32_t imageSize = 0;
  };
  struct Pending {
    std::string kind;  // "capsule" or "recovery"
    uint32_t regions = 0;
    std::string name;                       // recovery file
    std::vector<std::string> directories;   // where it was looked up
  };

  uint8_t Piece(uint8_t* data, nlohmann::json& detail);
  uint8_t StartSession(uint8_t* policy, std::string& reason, nlohmann::json& detail);
  uint8_t Verify(uint32_t policySize, std::string& reason) const;
  uint32_t HeldHeaderLength() const;
  bool Uploaded(uint64_t start, uint64_t end) const;
  void Hold(uint32_t start, uint32_t end);
  void ForgetMemory();
  std::string Apply(const char* kind, std::span<const uint8_t> image, uint32_t regions, const nlohmann::json& extra);
  std::string BootRecovery(const Pending& pending);
  // The image proper of the recovery file, when it is found and passes the firmware's check.
  std::optional<std::vector<uint8_t>> RecoveryImage(const Pending& pending, std::filesystem::path& found,
                                                    std::string& reason) const;

  Machine& machine_;
  std::vector<uint8_t> memory_;
  std::map<uint32_t, uint32_t> held_;   // uploaded ranges [start, end), merged
  std::optional<Session> session_;
  std::optional<Pending> pending_;
  std::vector<uint8_t> pendingImage_;
  std::filesystem::path program_;
  std::filesystem::path workingDirectory_;
  bool dirty_ = false;
  bool memoryDirty_ = false;
  bool pendingDirty_ = false;
  bool onDisk_ = false;  // state files exist from an earlier run
};

}  // namespace nox::sim
