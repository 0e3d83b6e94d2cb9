// The kernel driver's end of the four requests, served for a simulated machine: the
// request records are parsed byte for byte as the driver would, so a wrong offset in the
// utility's records fails here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nox::sim {

class Machine;

class DriverEnd {
 public:
  static constexpr uint32_t kAllocate = 0xFA002EE0;
  static constexpr uint32_t kRelease = 0xFA002EE4;
  static constexpr uint32_t kMap = 0xFA002EE8;
  static constexpr uint32_t kWritePort = 0xFA002EFC;

  static constexpr size_t kAllocateRecord = 20;
  static constexpr size_t kReleaseRecord = 8;
  static constexpr size_t kMapRecord = 24;
  static constexpr size_t kWritePortRecord = 22;

  static constexpr uint32_t kMaxBlockSize = 65536;
  // Program addresses of mappings: this base plus the physical address.
  static constexpr uint64_t kMapBase = 0x00007F0000000000ull;

  explicit DriverEnd(Machine& machine) : machine_(machine) {}

  // One request: `record` is the input and output buffer. False (with a journal line) when
  // the code is unknown, the record has the wrong length, or the request is refused.
  bool Control(uint32_t controlCode, std::span<uint8_t> record, uint32_t& bytesReturned);

  // The simulated memory behind a program address handed out by allocate or map; empty when
  // [programAddress, +length) is not inside one of them. Allocate hands out 32 bits with the
  // top bit set, as a kernel mapping would: only a caller that sign-extends them, as it
  // must, reaches the block.
  std::span<uint8_t> Memory(uint64_t programAddress, size_t length);

 private:
  bool Allocate(std::span<uint8_t> record);
  bool Release();
  bool Map(std::span<uint8_t> record);
  bool WritePort(std::span<uint8_t> record);
  void Misuse(const char* request, const char* what);
  bool Reserved(const char* request, std::span<const uint8_t> bytes);

  struct Mapping {
    uint32_t physical;
    uint32_t length;
  };

  Machine& machine_;
  std::vector<Mapping> mappings_;
};

}  // namespace nox::sim
