// What the machine would do at its next power-on, judged from what its flash part holds.
//
// At every power-on the machine notes a digest of each block of its boot block and main
// BIOS. At the next power-on each of the two regions is then
//   - as booted: every block equals its noted digest;
//   - whole: structurally sound firmware: every byte that is not 0xFF lies in a firmware
//     volume whose header checksum holds, every file of a file-system volume walks cleanly
//     (header checksum, data checksum where the file carries one, size inside the volume)
//     and the free space after the last file is 0xFF to the volume's end; the main BIOS
//     also holds the platform identity file the machine takes its identity from;
//   - damaged: anything else.
// A damaged boot block does not start; a sound boot block over a damaged main BIOS falls
// back to its recovery; both as booted is the old firmware, anything else the new.
//
// A block table without boot-block entries: the reset vector lives at the top of the part,
// so the boot block is the run of same-type blocks that holds the part's last block (on
// such a part it is usually one volume with the main BIOS, and both are judged over it).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/sim/Profile.h"

namespace nox::sim {

enum class RegionHealth { kAsBooted, kWhole, kDamaged };
enum class Verdict { kOld, kNew, kRecovery, kNoStart };

const char* HealthName(RegionHealth health);   // "as booted", "whole", "damaged"
const char* VerdictName(Verdict verdict);      // "old", "new", "recovery", "no start"
const char* VerdictSentence(Verdict verdict);  // "old firmware boots", ...

// The noted digests, one per block of the profile's table (none for blocks outside the two
// regions or never noted).
using BootDigests = std::vector<std::optional<uint64_t>>;

// 64-bit FNV-1a: enough to tell a block from what it held, cheap on a 16 MiB part.
uint64_t BlockDigest(std::span<const uint8_t> block);

// Indices into the profile's block table of the boot block and of the main BIOS.
std::vector<size_t> BootBlockBlocks(const Profile& profile);
std::vector<size_t> MainBiosBlocks(const Profile& profile);

// Whether the blocks (indices, grouped into runs of neighbours) hold sound firmware; `part`
// is the block table's part.
bool RegionWhole(const Profile& profile, std::span<const uint8_t> part, std::span<const size_t> blocks,
                 bool needIdentity);

struct BootOutlook {
  Verdict verdict = Verdict::kOld;
  RegionHealth bootBlock = RegionHealth::kAsBooted;
  RegionHealth mainBios = RegionHealth::kAsBooted;
};
BootOutlook JudgePart(const Profile& profile, std::span<const uint8_t> part, const BootDigests& noted);

// The digests a power-on notes: those of each region that is sound now; a damaged region
// keeps what was noted when it last booted.
BootDigests NoteAtPowerOn(const Profile& profile, std::span<const uint8_t> part, BootDigests noted);

}  // namespace nox::sim
