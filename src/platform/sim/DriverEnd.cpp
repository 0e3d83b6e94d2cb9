#include "platform/sim/DriverEnd.h"

#include <algorithm>

#include "core/Bytes.h"
#include "core/Format.h"
#include "platform/sim/Machine.h"

namespace nox::sim {

using core::LoadLe32;
using core::StoreLe32;

void DriverEnd::Misuse(const char* request, const char* what) {
  machine_.GetJournal().RecordEvent(machine_.State().smiCount, machine_.Now(), "driver",
                                    {{"request", request}, {"misuse", what}});
}

// Reserved bytes are zero in every record the utility sends; anything else is a record
// built with the wrong layout.
bool DriverEnd::Reserved(const char* request, std::span<const uint8_t> bytes) {
  if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return true;
  Misuse(request, "reserved bytes are not zero");
  return false;
}

bool DriverEnd::Control(uint32_t code, std::span<uint8_t> record, uint32_t& bytesReturned) {
  bytesReturned = 0;
  size_t want = 0;
  const char* name = "";
  switch (code) {
    case kAllocate: want = kAllocateRecord; name = "allocate"; break;
    case kRelease: want = kReleaseRecord; name = "release"; break;
    case kMap: want = kMapRecord; name = "map"; break;
    case kWritePort: want = kWritePortRecord; name = "write-port"; break;
    default:
      machine_.GetJournal().RecordEvent(machine_.State().smiCount, machine_.Now(), "driver",
                                        {{"request", "unknown"}, {"code", code},
                                         {"misuse", "unknown control code"}});
      return false;
  }
  if (record.size() != want) {
    Misuse(name, core::Format("record of %u bytes, expected %u", static_cast<unsigned>(record.size()), static_cast<unsigned>(want)).c_str());
    return false;
  }
  bool ok = false;
  switch (code) {
    case kAllocate: ok = Allocate(record); break;
    case kRelease: ok = Release(); break;
    case kMap: ok = Map(record); break;
    case kWritePort: ok = WritePort(record); break;
  }
  if (ok) bytesReturned = static_cast<uint32_t>(want);
  return ok;
}

bool DriverEnd::Allocate(std::span<uint8_t> record) {
  if (!Reserved("allocate", record.subspan(12, 8))) return false;
  const uint32_t size = LoadLe32(record.data());
  if (size == 0 || size > kMaxBlockSize) {
    Misuse("allocate", "size must be 1 to 65536 bytes");
    return false;
  }
  if (!machine_.SharedBlock().empty()) {
    Misuse("allocate", "a shared block is held already; release it first");
    return false;
  }
  if (machine_.GetProfile().faults.noSharedBlock) {
    machine_.GetJournal().RecordEvent(machine_.State().smiCount, machine_.Now(), "driver",
                                      {{"request", "allocate"}, {"fault", "no memory for the shared block"}});
    return false;
  }
  machine_.AllocateSharedBlock(size);
  StoreLe32(record.data() + 4, machine_.SharedBlockProgram());
  StoreLe32(record.data() + 8, machine_.SharedBlockPhysical());
  machine_.GetJournal().RecordEvent(machine_.State().smiCount, machine_.Now(), "driver",
                                    {{"request", "allocate"}, {"size", size},
                                     {"physical", machine_.SharedBlockPhysical()}});
  return true;
}

bool DriverEnd::Release() {
  if (machine_.SharedBlock().empty()) {
    Misuse("release", "no shared block is held");
    return true;  // the driver releases what it has: nothing
  }
  machine_.ReleaseSharedBlock();
  machine_.GetJournal().RecordEvent(machine_.State().smiCount, machine_.Now(), "driver",
                                    {{"request", "release"}});
  return true;
}

bool DriverEnd::Map(std::span<uint8_t> record) {
  if (!Reserved("map", record.first(8))) return false;
  const uint32_t length = LoadLe32(record.data() + 8);
  const uint32_t physical = LoadLe32(record.data() + 12);
  const uint64_t end = uint64_t{physical} + length;
  if (length == 0 || physical < kSegmentBase || end > uint64_t{kSegmentBase} + kSegmentSize) {
    Misuse("map", "only the firmware segments E0000h-FFFFFh can be mapped");
    return false;
  }
  core::StoreLe64(record.data() + 16, kMapBase + physical);
  machine_.NoteMapping(physical, length);
  const Mapping m{physical, length};
  if (std::none_of(mappings_.begin(), mappings_.end(), [&](const Mapping& x) {
        return x.physical == m.physical && x.length == m.length;
      })) {
    mappings_.push_back(m);
  }
  return true;
}

bool DriverEnd::WritePort(std::span<uint8_t> record) {
  const uint8_t* r = record.data();
  const uint32_t port = LoadLe32(r);
  if (port > 0xFFFF) {
    Misuse("write-port", "port number above 0xFFFF");
    return false;
  }
  if (LoadLe32(r + 4) != 1) {
    Misuse("write-port", "address space at offset 4 is not 1 (I/O space)");
    return false;
  }
  if (LoadLe32(r + 8) != 0) {
    Misuse("write-port", "offset 8 is not zero");
    return false;
  }
  if (!Reserved("write-port", record.subspan(13, 3))) return false;
  const uint8_t value = r[12];
  machine_.PortWrite(static_cast<uint16_t>(port), value, LoadLe32(r + 16));
  core::StoreLe16(record.data() + 20, value);
  return true;
}

std::span<uint8_t> DriverEnd::Memory(uint64_t address, size_t length) {
  std::span<uint8_t> block = machine_.SharedBlock();
  const uint64_t blockProgram =
      static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(machine_.SharedBlockProgram())));
  if (!block.empty() && address >= blockProgram && address - blockProgram <= block.size() &&
      length <= block.size() - (address - blockProgram)) {
    return block.subspan(static_cast<size_t>(address - blockProgram), length);
  }
  if (address < kMapBase) return {};
  const uint64_t physical = address - kMapBase;
  for (const Mapping& m : mappings_) {
    if (physical >= m.physical && physical - m.physical <= m.length &&
        length <= m.length - (physical - m.physical)) {
      return machine_.Segments().subspan(static_cast<size_t>(physical - kSegmentBase), length);
    }
  }
  return {};
}

}  // namespace nox::sim
