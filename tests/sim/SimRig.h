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

struct PowerLost : std::runtime_error {
  explicit PowerLost(int c) : std::runtime_error("power lost"), code(c) {}
  int code;
};

inline Profile Preset(const char* name) {
  auto p = MakePreset(name);
  if (!p) throw std::logic_error("no preset");
  return *p;
}

class Rig {
 public:
  explicit Rig(const Profile& profile, uint32_t blockSize = 65536) {
    std::string error;
    machine = Machine::InMemory(profile, error);
    if (!machine) throw std::runtime_error(error);
    machine->SetExitHook([](int code) { throw PowerLost(code); });
    Allocate(blockSize);
  }

  void Allocate(uint32_t size) {
    std::array<uint8_t, 20> rec{};
    core::StoreLe32(rec.data(), size);
    uint32_t got = 0;
    if (!machine->Driver().Control(0xFA002EE0, rec, got)) throw std::runtime_error("allocate");
    // The program address is 32 bits that the caller sign-extends.
    const int32_t program = static_cast<int32_t>(core::LoadLe32(rec.data() + 4));
    physical = core::LoadLe32(rec.data() + 8);
    block = machine->Driver().Memory(static_cast<uint64_t>(static_cast<int64_t>(program)), size);
    if (block.size() != size) throw std::runtime_error("block does not resolve");
    std::fill(block.begin(), block.end(), uint8_t{0});
  }

  // Writes `command` to `port` with the shared block's address in EBX.
  bool Raise(uint8_t command, uint16_t port = 0xB2, uint32_t ebx = 0xFFFFFFFF) {
    std::array<uint8_t, 22> rec{};
    core::StoreLe32(rec.data() + 0, port);
    core::StoreLe32(rec.data() + 4, 1);
    rec[12] = command;
    core::StoreLe32(rec.data() + 16, ebx == 0xFFFFFFFF ? physical : ebx);
    uint32_t got = 0;
    return machine->Driver().Control(0xFA002EFC, rec, got);
  }

  // A flash command as the utility sends it: data address, flash address, length, status
  // 255, "$NOX" at 1041.
  void PutRequest(uint32_t address, uint32_t length) {
    core::StoreLe64(block.data() + 0, uint64_t{physical} + 17);
    core::StoreLe32(block.data() + 8, address);
    core::StoreLe32(block.data() + 12, length);
    block[16] = 255;
    std::memcpy(block.data() + 1041, "$NOX", 4);
  }
  uint8_t Status() const { return block[16]; }
  std::span<uint8_t> Data() { return block.subspan(17, 1024); }

  uint8_t Read(uint32_t address) {
    PutRequest(address, 1024);
    Raise(33);
    return Status();
  }
  uint8_t Erase(uint32_t address, uint32_t length) {
    PutRequest(address, length);
    Raise(34);
    return Status();
  }
  uint8_t Write(uint32_t address, uint8_t fill) {
    PutRequest(address, 1024);
    std::memset(block.data() + 17, fill, 1024);
    Raise(35);
    return Status();
  }
  uint8_t Enable() {
    block[16] = 0;
    Raise(32);
    return Status();
  }

  // The journal's SMI lines only.
  std::vector<nlohmann::json> SmiLines() {
    std::vector<nlohmann::json> out;
    for (auto& e : machine->GetJournal().Entries()) {
      if (e.contains("smi")) out.push_back(e);
    }
    return out;
  }
  nlohmann::json LastSmi() {
    auto lines = SmiLines();
    return lines.empty() ? nlohmann::json() : lines.back();
  }

  std::unique_ptr<Machine> machine;
  uint32_t physical = 0;
  std::span<uint8_t> block;
};

}  // namespace nox::sim::test
