// One simulated machine: its flash part, the firmware's legacy segments E0000h/F0000h, the
// shared block the driver hands out, the SMI handler, a virtual clock and the journal.
//
// On disk a machine is a directory: machine.json (the profile), flash.bin (the flash part),
// state.json (SMI count, clock, refresh and fault counters, erase counters, the range an ME
// begin request unlocked, the block digests noted at the last power-on), ec.bin (the
// embedded controller's own flash, when it has one) and journal.jsonl. A machine opened to
// change it holds the directory's lock, and every erase, program and journal line reaches its
// file as it happens, as on a real part: a process killed at any moment leaves flash.bin and
// the journal agreeing with each other. state.json and the firmware's memory are written on
// Persist(), on destruction, and before the power-loss fault ends the process.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/BootVerdict.h"
#include "platform/sim/FlashPart.h"
#include "platform/sim/Journal.h"
#include "platform/sim/MachineLock.h"
#include "platform/sim/Profile.h"

namespace nox::sim {

class DriverEnd;
class EcFlash;
class PartFile;
class SecureFlash;
class SmiHandler;

// The process exit code when the power-loss fault strikes.
inline constexpr int kPowerLossExitCode = 86;
// The exit code of a run that would have ended with 0 but could not save its machine.
inline constexpr int kSaveFailedExitCode = 87;

inline constexpr uint32_t kSegmentBase = 0xE0000;        // E and F segments, 128 KiB
inline constexpr uint32_t kSegmentSize = 0x20000;

// The range of the chip an ME begin request unlocked, until its end request locks it again.
struct MeWindow {
  uint8_t selector = 0;   // the begin request's: 1 ignition, 4 entire
  uint32_t start = 0;
  uint32_t end = 0;       // one past the last byte
};

// Counters that outlive a process.
struct MachineState {
  uint64_t smiCount = 0;
  uint64_t clockMs = 0;
  uint32_t refreshCount = 0;
  uint32_t ofbdPasswordFailures = 0;   // wrong firmware-password submissions so far
  std::vector<uint32_t> stuckUsed;     // per faults.stuck entry
  std::vector<uint32_t> bitFlipsUsed;  // per faults.bitFlips entry
  // Empty while the machine runs; "reboot" or "power-off" once the utility took it down, or
  // "power-loss", until its next power-on.
  std::string down;
  std::optional<MeWindow> meWindow;
  // Per block of the table: the digest noted when the machine last booted it.
  BootDigests bootDigests;
};

class Machine {
 public:
  // A machine that lives in memory only (tests, benchmarks of the handler alone). The flash
  // holds the running image, as for a new directory.
  static std::unique_ptr<Machine> InMemory(const Profile& profile, std::string& error);
  // Makes DIR (which must not hold a machine yet) from a profile.
  static std::unique_ptr<Machine> Create(const std::filesystem::path& dir, const Profile& profile,
                                         std::string& error, const MachineLock::WhenBusy& whenBusy = {});
  // kLook shares the lock with other lookers and never writes; kChange holds it alone and
  // needs every file writable. A directory another process holds is waited for only when
  // `whenBusy` says so. Every file of the machine must be a regular file of the right form.
  enum class Access { kLook, kChange };
  static std::unique_ptr<Machine> Open(const std::filesystem::path& dir, std::string& error,
                                       Access access = Access::kChange, const MachineLock::WhenBusy& whenBusy = {});

  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const Profile& GetProfile() const { return profile_; }
  const std::filesystem::path& Directory() const { return dir_; }
  // The whole chip; on a machine with an ME region the block table's part starts at me.span.
  FlashPart& Flash() { return flash_; }
  const FlashPart& Flash() const { return flash_; }
  // The part the block table describes, flash.size bytes from FirmwareBase().
  std::span<const uint8_t> FirmwarePart() const;
  Journal& GetJournal() { return journal_; }
  const MachineState& State() const { return state_; }
  DriverEnd& Driver() { return *driver_; }
  SecureFlash& Secure() { return *secure_; }
  const SecureFlash& Secure() const { return *secure_; }
  EcFlash& Ec() { return *ec_; }
  const EcFlash& Ec() const { return *ec_; }

  // Where the utility running against this machine was started from, and its working
  // directory (empty: the process's own at the time it matters): a recovery update names a
  // file the firmware looks up there.
  void SetUtilityPaths(const std::filesystem::path& program, const std::filesystem::path& workingDirectory = {});

  // The utility asked for a restart or power-off: the machine goes down (journaled as
  // `event`) and nothing is applied until it boots.
  void GoDown(std::string_view event);
  bool Down() const { return !state_.down.empty(); }
  // Power-on: applies a pending secure-flash update, forgets firmware memory, notes the
  // digests of what it boots, and runs the identity the flash part now holds. Returns what it
  // applied, for people.
  std::string Boot();
  // What the next power-on would do with the part as it is (a pending secure-flash update
  // applied first); nothing on the machine changes.
  BootOutlook NextBoot() const;
  SmiHandler& Handler() { return *handler_; }

  // The legacy segments as physical memory 0xE0000..0xFFFFF.
  std::span<uint8_t> Segments() { return segments_; }
  // The E0000h or F0000h segment, 65536 bytes each.
  std::span<uint8_t> ESegment() { return std::span<uint8_t>(segments_).first(0x10000); }
  std::span<uint8_t> FSegment() { return std::span<uint8_t>(segments_).subspan(0x10000); }

  // The shared block the driver allocated (empty when none is held), its physical address
  // and the 32-bit program address the driver hands out for it (top bit set). Every
  // allocation gets addresses of its own; a released block's are not handed out again soon.
  std::span<uint8_t> SharedBlock() { return sharedBlock_; }
  uint32_t SharedBlockPhysical() const { return sharedBlock_.empty() ? 0 : blockPhysical_; }
  uint32_t SharedBlockProgram() const { return sharedBlock_.empty() ? 0 : blockProgram_; }
  bool AllocateSharedBlock(uint32_t size);
  void ReleaseSharedBlock();

  // The driver mapped [physical, physical + length) for the utility.
  void NoteMapping(uint32_t physical, uint32_t length);

  // ACPI FADT ("FACP") as the operating system's firmware-table service returns it; empty
  // when the profile has none.
  std::vector<uint8_t> FadtTable() const;
  bool IsUefi() const { return profile_.uefi; }

  // Virtual clock: pauses advance it instead of sleeping.
  uint64_t Now() const { return state_.clockMs; }
  void Advance(uint64_t ms) { state_.clockMs += ms; }
  // A pause the utility makes: the clock jumps and the journal says so; nobody sleeps.
  void Pause(uint64_t ms);

  // Operating-system effects that have no host meaning (keep-awake, input blocked, restart
  // requested, ...), recorded for the tests to see.
  void RecordEffect(std::string_view what, const nlohmann::json& detail = nlohmann::json::object());

  // A byte written to the port the handler listens on runs the handler on the shared block
  // whose physical address the utility announced: in the "$ASF" address slot for the
  // commands it raises through the slot, else in EBX. Other ports are journaled.
  void PortWrite(uint16_t port, uint8_t value, uint32_t ebx);

  // Writes state.json and the firmware's memory, and tells of any write of the part or the
  // journal that failed on the way ("FILE: cannot be written: REASON"). A no-op for in-memory
  // machines and those opened to look.
  bool Persist(std::string& error);
  // Persist() before the process ends; a failure is told on stderr, naming the file.
  bool PersistAtExit();
  // Writes ec.bin now (after the EC flash was rewritten); a failure is kept for Persist().
  void StoreEcFlash();

  // Ends the process when the power-loss fault strikes. Tests replace it with one that
  // throws; the default is std::_Exit.
  using ExitHook = std::function<void(int)>;
  void SetExitHook(ExitHook hook) { exitHook_ = std::move(hook); }

  // Called by the handler after every SMI it served.
  void AfterSmi();
  MachineState& MutableState() { return state_; }

  // Rewrites the status word of "ECB1" (after refreshes).
  void WriteEcb1(uint16_t flags);

 private:
  Machine(std::filesystem::path dir, Profile profile);
  void BuildSegments();
  bool LoadState(std::string& error);
  // From now on the part and the journal are written as they change.
  bool StartWriting(std::string& error);
  void StoreFlash(uint32_t address, std::span<const uint8_t> bytes);
  void NoteSaveFailure(const std::string& error) {
    if (saveFailure_.empty()) saveFailure_ = error;
  }
  bool SlotInForce() const;
  bool SecureFlashBlockAt(uint32_t physical) const;
  const char* Misplaced(uint32_t announced, bool inSlot) const;

  std::unique_ptr<MachineLock> lock_;
  std::filesystem::path dir_;
  Profile profile_;
  FlashPart flash_;
  Journal journal_;
  MachineState state_;
  std::array<uint8_t, kSegmentSize> segments_{};
  std::vector<uint8_t> sharedBlock_;
  uint32_t blockPhysical_ = 0;
  uint32_t blockProgram_ = 0;
  uint32_t allocations_ = 0;
  std::vector<uint32_t> released_;   // physical addresses of blocks released so far
  uint32_t asfRecordMaps_ = 0;       // mappings that showed the utility the "$ASF" record
  std::unique_ptr<SmiHandler> handler_;
  std::unique_ptr<DriverEnd> driver_;
  std::unique_ptr<SecureFlash> secure_;
  std::unique_ptr<EcFlash> ec_;
  bool profileChanged_ = false;  // the running identity changed at a boot
  ExitHook exitHook_;
  std::string savedState_;  // state.json as last written or read
  bool writable_ = false;   // opened to change it, every file in order
  std::unique_ptr<PartFile> part_;      // flash.bin, kept current
  std::string saveFailure_;             // the first write on the way that failed
};

}  // namespace nox::sim
