// The records the firmware leaves in its legacy segments E0000h and F0000h ("$ASF" with its
// address slot, the running identity's marker blocks, "$ECB" with its refusal texts, "ECB1"):
// where each one sits and what its bytes are. The machine writes them from here, and a
// profile is checked against the same list, so a record that overlaps another or that the
// utility's signature search would miss is refused before any machine is made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/Profile.h"

namespace nox::sim {

// The utility maps 65535 bytes of each segment, not 65536, and compares signatures at
// offsets 0 to 65530 only.
inline constexpr uint32_t kSegmentViewLength = 65535;
inline constexpr uint32_t kLastSignatureOffset = 65530;

enum class SegmentId { E, F };

struct SegmentRecord {
  SegmentId segment = SegmentId::F;
  uint32_t offset = 0;          // in its segment
  std::vector<uint8_t> bytes;
  const char* what = "";        // for messages
  const char* field = "";       // the profile field that places it
  const char* signature = nullptr;  // what the utility searches for, if it does
  bool addressSlot = false;     // the slot of the "$ASF" record just before it
};

// Every record the profile puts in the segments, in the order they are written. The address
// slot is a record of its own (four zero bytes) so that nothing else may take its bytes.
// `ecb1Flags` is the status word "ECB1" holds now.
std::vector<SegmentRecord> SegmentRecords(const Profile& profile, uint16_t ecb1Flags);

// "" when every record lies inside the mapped view, none overlaps another (the slot may use
// the bytes of its own record that carry no field), and the search finds each signature at
// its record; otherwise "<field>: <reason>".
std::string CheckSegmentRecords(const Profile& profile);

}  // namespace nox::sim
