// Cost of one firmware request on the simulated machine, through the driver end as the
// utility reaches it: port-write record -> handler -> NOR flash -> journal line. The
// machine lives in a temporary directory so the journal really reaches its file.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <filesystem>

#include "core/Bytes.h"
#include "platform/sim/DriverEnd.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"

namespace {

using namespace nox::sim;
namespace fs = std::filesystem;

struct Bench {
  Bench() {
    dir = fs::temp_directory_path() / "noxsim-bench";
    fs::remove_all(dir);
    std::string error;
    machine = Machine::Create(dir, *MakePreset("legacy-8m"), error);
    std::array<uint8_t, 20> alloc{};
    nox::core::StoreLe32(alloc.data(), 65536);
    uint32_t got = 0;
    machine->Driver().Control(DriverEnd::kAllocate, alloc, got);
    physical = nox::core::LoadLe32(alloc.data() + 8);
    // The program address is 32 bits that the caller sign-extends.
    const int32_t program = static_cast<int32_t>(nox::core::LoadLe32(alloc.data() + 4));
    block = machine->Driver().Memory(static_cast<uint64_t>(static_cast<int64_t>(program)), 65536);
    // Keep the "$ASF" slot current, as the utility does before each command.
    nox::core::StoreLe32(machine->FSegment().data() + 0x120 + 16, physical);
    std::memset(block.data(), 0, block.size());
    nox::core::StoreLe32(port.data(), 0xB2);
    nox::core::StoreLe32(port.data() + 4, 1);
    nox::core::StoreLe32(port.data() + 16, physical);
    Raise(32);
    nox::core::StoreLe64(block.data(), uint64_t{physical} + 17);
    std::memcpy(block.data() + 1041, "$NOX", 4);
  }
  ~Bench() {
    machine.reset();
    fs::remove_all(dir);
  }
  void Raise(uint8_t command) {
    port[12] = command;
    uint32_t got = 0;
    machine->Driver().Control(DriverEnd::kWritePort, port, got);
  }

  fs::path dir;
  std::unique_ptr<Machine> machine;
  std::span<uint8_t> block;
  uint32_t physical = 0;
  std::array<uint8_t, 22> port{};
};

// The utility's part of a write: status, address, length and 1 KiB of data into the block.
void FillWrite(Bench& b, uint32_t address, const uint8_t* data) {
  nox::core::StoreLe32(b.block.data() + 8, address);
  nox::core::StoreLe32(b.block.data() + 12, 1024);
  b.block[16] = 255;
  std::memcpy(b.block.data() + 17, data, 1024);
}

void BM_CopyOnly(benchmark::State& state) {
  Bench b;
  std::array<uint8_t, 1024> data{};
  uint32_t address = 0x60000;
  for (auto _ : state) {
    FillWrite(b, address, data.data());
    benchmark::DoNotOptimize(b.block.data());
    address = address + 1024 < 0x7E0000 ? address + 1024 : 0x60000;
  }
}
BENCHMARK(BM_CopyOnly);

void BM_WriteRequest1KiB(benchmark::State& state) {
  Bench b;
  std::array<uint8_t, 1024> data{};
  data.fill(0x5A);
  uint32_t address = 0x60000;
  for (auto _ : state) {
    FillWrite(b, address, data.data());
    b.Raise(35);
    benchmark::DoNotOptimize(b.block[16]);
    address = address + 1024 < 0x7E0000 ? address + 1024 : 0x60000;
  }
  if (b.block[16] != 0) state.SkipWithError("write was refused");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteRequest1KiB);

void BM_ReadRequest1KiB(benchmark::State& state) {
  Bench b;
  uint32_t address = 0x60000;
  for (auto _ : state) {
    nox::core::StoreLe32(b.block.data() + 8, address);
    nox::core::StoreLe32(b.block.data() + 12, 1024);
    b.block[16] = 255;
    b.Raise(33);
    benchmark::DoNotOptimize(b.block[17]);
    address = address + 1024 < 0x7E0000 ? address + 1024 : 0x60000;
  }
  if (b.block[16] != 0) state.SkipWithError("read was refused");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadRequest1KiB);

}  // namespace

BENCHMARK_MAIN();
