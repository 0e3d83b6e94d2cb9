// The flash part's regions as people name them ("main BIOS", "NCB 0x80", ...), taken from
// the machine's own block table, and what a run of the utility asked of each of them, taken
// from the journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/Profile.h"

namespace nox::sim {

// Table entries of one type that lie back to back on the part.
struct Region {
  uint8_t type = 0;
  uint32_t start = 0;
  uint32_t size = 0;
  bool operator==(const Region&) const = default;
};

// "boot block", "main BIOS", "NVRAM", "EC", "NCB 0x80" ... "NCB 0xFF", else "type N".
std::string RegionName(uint8_t type);

// In the table's order, each region where its first entry is listed. Entries that abut merge
// whatever their order in the table: a firmware may list the halves of its main BIOS from the
// top down, and that is still one main BIOS.
std::vector<Region> RegionsOf(std::span<const BlockEntry> blocks);

struct RequestTally {
  uint32_t requests = 0;  // requests that reached into the region, carried out or not
  uint64_t bytes = 0;     // bytes of the region covered by the requests carried out
  bool operator==(const RequestTally&) const = default;
};

struct RegionActivity {
  Region region;
  RequestTally erase, write, read;
  uint32_t notCarriedOut = 0;  // refused as misuse, failed, or left pending by the firmware
  bool Untouched() const { return erase.requests == 0 && write.requests == 0 && read.requests == 0; }
  bool operator==(const RegionActivity&) const = default;
};

// Index of the first journal entry of the utility's last run (every run starts its
// operating-system services before it does anything else); none when no run is in the journal.
std::optional<size_t> LastRunStart(std::span<const nlohmann::json> entries);

// Tallies the erase, write and read requests of `entries` per region. A request that spans
// two regions counts in both, with the bytes that fall in each; one that the firmware did not
// carry out (its status is not `successStatus`) counts as a request but covers nothing.
// Requests to chip addresses (the ME region and the descriptor) count in no region.
std::vector<RegionActivity> SummariseActivity(std::span<const BlockEntry> blocks, uint8_t successStatus,
                                              std::span<const nlohmann::json> entries);

}  // namespace nox::sim
