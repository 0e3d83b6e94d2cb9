// The simulated machine's driver end and SMI handler fed arbitrary request records and
// shared-block contents: nothing may read or write outside the block, the segments or the
// flash part, whatever the bytes say.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/DriverEnd.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"

using namespace nox::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Profile profile = [] {
    Profile p = *MakePreset("legacy-8m");
    p.flash.size = 0x100000;  // small part, same records
    p.flash.blocks = {{0x00000, 0x10000, 0x80}, {0x10000, 0x10000, 3}, {0x20000, 0xC0000, 1},
                      {0xE0000, 0x20000, 0}};
    p.ecb.ecBlockStart = 0x10000;
    p.ecb.ecBlockSize = 0x10000;
    p.ofbdVersion = 0x210;
    p.oem = MakePreset("uefi-16m")->oem;
    p.oem.password = "pw";
    return p;
  }();
  std::string error;
  auto machine = Machine::InMemory(profile, error);
  if (!machine) return 0;
  machine->SetExitHook([](int) {});
  size_t at = 0;
  while (at + 2 <= size) {
    const uint8_t selector = data[at];
    const size_t length = data[at + 1];
    at += 2;
    const size_t take = std::min(length, size - at);
    std::vector<uint8_t> record(data + at, data + at + take);
    at += take;
    uint32_t returned = 0;
    switch (selector % 6) {
      case 0: machine->Driver().Control(DriverEnd::kAllocate, record, returned); break;
      case 1: machine->Driver().Control(DriverEnd::kRelease, record, returned); break;
      case 2: machine->Driver().Control(DriverEnd::kMap, record, returned); break;
      case 3: machine->Driver().Control(DriverEnd::kWritePort, record, returned); break;
      case 4: {
        // Block contents: the bytes at a chosen offset, then an SMI at the handler's port.
        auto block = machine->SharedBlock();
        if (block.empty() || record.size() < 3) break;
        const size_t offset = (record[0] | (record[1] << 8)) % block.size();
        const size_t n = std::min(record.size() - 3, block.size() - offset);
        std::memcpy(block.data() + offset, record.data() + 3, n);
        machine->PortWrite(HandlerPort(profile), record[2], machine->SharedBlockPhysical());
        break;
      }
      default: {
        uint64_t address = 0;
        std::memcpy(&address, record.data(), std::min<size_t>(8, record.size()));
        auto view = machine->Driver().Memory(address, length * 97);
        if (!view.empty()) view[view.size() - 1] ^= 1;
        break;
      }
    }
  }
  return 0;
}
