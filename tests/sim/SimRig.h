// A simulated machine with a shared block allocated through its driver end, and helpers
// that write requests into the block the way the utility's firmware layer must: every
// offset here is taken from the wire format, not from the handler's own constants, so a
// wrong offset on either side shows up as a failing test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/Bytes.h"
#include "platform/sim/DriverEnd.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"

namespace nox::sim::test {

using nlohmann::json;

struct PowerLost : std::runtime_error {
  explicit PowerLost(int c) : std::runtime_error("power lost"), code(c) {}
  int code;
};

inline Profile Preset(const char* name) { return MakePreset(name).value(); }

// legacy-8m on a chip that holds 64 KiB of other regions in front of the firmware: the block
// table starts at 0x10000, its first block handed to those regions.
inline Profile BasedPreset() {
  Profile p = Preset("legacy-8m");
  p.flash.base = 0x10000;
  p.flash.blocks.erase(p.flash.blocks.begin());
  return p;
}

// Offset of the first `n`-byte `tag` in `bytes`, or -1.
inline long FindTag(std::span<const uint8_t> bytes, const char* tag, size_t n = 4) {
  for (size_t i = 0; i + n <= bytes.size(); ++i) {
    if (std::memcmp(bytes.data() + i, tag, n) == 0) return static_cast<long>(i);
  }
  return -1;
}

// Passes when `line` carries every field of `fields` with the same value.
inline ::testing::AssertionResult Carries(const json& line, const json& fields) {
  for (const auto& [key, value] : fields.items()) {
    if (!line.contains(key) || line[key] != value) return ::testing::AssertionFailure() << line.dump();
  }
  return ::testing::AssertionSuccess();
}

// The driver answers a 32-bit program address that the caller sign-extends.
inline uint64_t SignExtended(uint32_t program) {
  return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(program)));
}

class Rig {
 public:
  explicit Rig(const Profile& profile, uint32_t blockSize = 65536) : Rig(InMemory(profile), blockSize) {}
  explicit Rig(std::unique_ptr<Machine> m, uint32_t blockSize = 65536) : machine(std::move(m)) {
    machine->SetExitHook([](int code) { throw PowerLost(code); });
    Allocate(blockSize);
  }
  static std::unique_ptr<Machine> InMemory(const Profile& profile) {
    std::string error;
    auto m = Machine::InMemory(profile, error);
    if (!m) throw std::runtime_error(error);
    return m;
  }

  // A served request returns the whole record, a refused one nothing.
  bool Control(uint32_t code, std::span<uint8_t> rec) {
    uint32_t got = 99;
    const bool served = machine->Driver().Control(code, rec, got);
    EXPECT_EQ(got, served ? rec.size() : 0u) << "bytes returned for " << std::hex << code;
    return served;
  }

  void Allocate(uint32_t size) {
    std::array<uint8_t, 20> rec{};
    core::StoreLe32(rec.data(), size);
    if (!Control(0xFA002EE0, rec)) throw std::runtime_error("allocate");
    program32 = core::LoadLe32(rec.data() + 4);
    physical = core::LoadLe32(rec.data() + 8);
    block = machine->Driver().Memory(SignExtended(program32), size);
    if (block.size() != size) throw std::runtime_error("block does not resolve");
    std::fill(block.begin(), block.end(), uint8_t{0});
  }
  // Gives the block back and takes a new one, as the utility does when it needs another size.
  void Reallocate(uint32_t size = 65536) {
    std::array<uint8_t, 8> rec{};
    if (!Control(0xFA002EE4, rec)) throw std::runtime_error("release");
    Allocate(size);
  }
  // Maps a segment as the utility does, the F segment when it looks for "$ASF"; the view's
  // program address.
  uint64_t MapSegment(uint32_t segment = 0xF0000) {
    std::array<uint8_t, 24> rec{};
    core::StoreLe32(rec.data() + 8, 65535);
    core::StoreLe32(rec.data() + 12, segment);
    if (!Control(0xFA002EE8, rec)) throw std::runtime_error("map");
    return core::LoadLe64(rec.data() + 16);
  }

  // Writes `command` to `port` with the shared block's address in EBX.
  bool Raise(uint8_t command, uint16_t port = 0xB2, uint32_t ebx = 0xFFFFFFFF) {
    std::array<uint8_t, 22> rec{};
    core::StoreLe32(rec.data() + 0, port);
    core::StoreLe32(rec.data() + 4, 1);
    rec[12] = command;
    core::StoreLe32(rec.data() + 16, ebx == 0xFFFFFFFF ? physical : ebx);
    return Control(0xFA002EFC, rec);
  }

  uint16_t U16(size_t at) const { return core::LoadLe16(block.data() + at); }
  void Put16(size_t at, uint16_t v) { core::StoreLe16(block.data() + at, v); }
  void Put32(size_t at, uint32_t v) { core::StoreLe32(block.data() + at, v); }

  // A flash command as the utility sends it: data address, flash address, length, status
  // 255, "$NOX" at 1041.
  void PutRequest(uint32_t address, uint32_t length) {
    core::StoreLe64(block.data() + 0, uint64_t{physical} + 17);
    Put32(8, address);
    Put32(12, length);
    block[16] = 255;
    std::memcpy(block.data() + 1041, "$NOX", 4);
  }
  // The status byte of the handler's answer.
  uint8_t Request(uint8_t command, uint32_t address, uint32_t length = 1024) {
    PutRequest(address, length);
    Raise(command);
    return block[16];
  }
  uint8_t Enable() {
    block[16] = 0;
    Raise(32);
    return block[16];
  }

  std::vector<json> Entries() { return machine->GetJournal().Entries(); }
  std::vector<json> SmiLines() {
    auto lines = Entries();
    std::erase_if(lines, [](const json& e) { return !e.contains("smi"); });
    return lines;
  }
  json LastSmi() { return SmiLines().empty() ? json() : SmiLines().back(); }

  std::unique_ptr<Machine> machine;
  uint32_t physical = 0;
  uint32_t program32 = 0;
  std::span<uint8_t> block;
};

// OFBD blocks built from the header layout: signature, version, total size, class, flags,
// first operation at 18, the value 2, then the operation header, `first` in the record's
// first byte, and the end marker.
inline void PutOfbd(Rig& rig, uint32_t opClass, uint8_t type, uint16_t recordSize, uint8_t first = 0) {
  std::memcpy(rig.block.data(), "OFBD", 4);
  const uint16_t total = static_cast<uint16_t>(18 + 4 + recordSize + 4);
  rig.Put16(4, 0);
  rig.Put16(6, total);
  rig.Put32(8, opClass);
  rig.Put16(12, 0);
  rig.Put16(14, 18);
  rig.Put16(16, 2);
  rig.block[18] = type;
  rig.block[19] = 1;
  rig.Put16(20, recordSize);
  rig.block[22] = first;
  rig.Put32(total - 4, 0xFFFF55AA);
}

// Secure-flash requests: a 'p' block of sub-function `sub` in an emptied block, its data
// behind the record at 28.
constexpr size_t kBehind = 28;
inline void PutSecure(Rig& rig, uint8_t sub) {
  std::fill(rig.block.begin(), rig.block.end(), uint8_t{0});
  PutOfbd(rig, 0x40, 'p', 2, sub);
}
// One image piece: its own physical address, offset, length and status 1, the bytes behind.
inline void PutPiece(Rig& rig, uint32_t offset, std::span<const uint8_t> bytes) {
  PutSecure(rig, 2);
  core::StoreLe64(rig.block.data() + kBehind, uint64_t{rig.physical} + kBehind + 17);
  rig.Put32(kBehind + 8, offset);
  rig.Put32(kBehind + 12, static_cast<uint32_t>(bytes.size()));
  rig.block[kBehind + 16] = 1;
  std::copy(bytes.begin(), bytes.end(), rig.block.begin() + kBehind + 17);
}
// The flash policy: type, region bits, recovery name, image size, status byte 29 set to 1.
inline void PutPolicy(Rig& rig, uint8_t type, uint32_t regions, size_t size, const std::string& name = "") {
  PutSecure(rig, 8);
  rig.block[kBehind] = type;
  rig.Put32(kBehind + 1, regions);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 16), rig.block.begin() + kBehind + 5);
  rig.Put32(kBehind + 21, static_cast<uint32_t>(size));
  rig.block[kBehind + 29] = 1;
}

}  // namespace nox::sim::test
