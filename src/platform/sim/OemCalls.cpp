#include "platform/sim/OemCalls.h"

#include <algorithm>
#include <array>
#include <string>

#include <nlohmann/json.hpp>

#include "core/Bytes.h"
#include "core/CText.h"
#include "platform/sim/Machine.h"
#include "platform/sim/RomImage.h"
#include "platform/sim/SmiHandler.h"

namespace nox::sim {
namespace {

using core::LoadLe16;
using core::LoadLe32;
using core::StoreLe32;
using Words = std::array<uint32_t, 4>;

constexpr size_t kRecordSize = 36;
constexpr size_t kArea1 = 1024;  // the data areas of the calls that take them
constexpr size_t kArea2 = 2048;
constexpr size_t kAreaSize = 1024;
constexpr size_t kIdentityAreaSize = 4096;  // from the first data area, over the second
constexpr size_t kNameFieldSize = 20;

enum class Inputs { kNone, kDataAreas, kVersion, kSl };

struct Call {
  uint16_t callClass;
  uint16_t select;
  Inputs inputs;
};
// The calls whose inputs the calling convention fixes.
constexpr Call kCalls[] = {{99, 15, Inputs::kDataAreas}, {99, 17, Inputs::kDataAreas}, {99, 31, Inputs::kNone},
                           {99, 40, Inputs::kVersion},   {10, 0, Inputs::kDataAreas},  {10, 3, Inputs::kDataAreas},
                           {10, 4, Inputs::kDataAreas},  {1, 0, Inputs::kSl}};

const char* InputMisuse(const Call& call, const Words& in, size_t blockSize, uint32_t physical) {
  switch (call.inputs) {
    case Inputs::kNone:
      return in == Words{} ? nullptr : "inputs are not 0";
    case Inputs::kDataAreas: {
      if (in[0] != uint64_t{physical} + kArea1 || in[1] != uint64_t{physical} + kArea2) {
        return "inputs 0 and 1 are not the data areas at shared block + 1024 and + 2048";
      }
      if (in[2] != 0 || in[3] != 0) return "inputs 2 and 3 are not 0";
      const size_t end = call.select == 15 && call.callClass == 99 ? kArea1 + kIdentityAreaSize : kArea2 + kAreaSize;
      return blockSize >= end ? nullptr : "shared block too small for the data areas";
    }
    case Inputs::kVersion:
      // The extended ID of the image and its three version characters.
      if (in[0] > 0xFFFF) return "input 0 is not a 16-bit extended ID";
      return std::all_of(in.begin() + 1, in.end(), [](uint32_t c) { return c <= 0xFF; })
                 ? nullptr
                 : "inputs 1 to 3 are not one version character each";
    case Inputs::kSl:
      return in == Words{0x8005, 1, 0, 0} ? nullptr : "inputs are not 0x8005 and 1";
  }
  return nullptr;
}

}  // namespace

uint16_t OemCalls::PlatformFlags() const {
  const Ecb1Profile& e = machine_.GetProfile().ecb1;
  if (e.refreshesUntilChange != 0 && machine_.State().refreshCount >= e.refreshesUntilChange) return e.flagsAfter;
  return e.flags;
}

void OemCalls::Refresh(uint64_t number) {
  ++machine_.MutableState().refreshCount;
  const uint16_t flags = PlatformFlags();
  if (machine_.GetProfile().ecb1.present) machine_.WriteEcb1(flags);
  machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kRefreshEcb, "refresh-ecb", {{"flags", flags}});
}

void OemCalls::Serve(uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical) {
  const OemProfile& oem = machine_.GetProfile().oem;
  nlohmann::json detail = nlohmann::json::object();
  const auto record = [&] {
    machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOemCall, "oem", detail);
  };
  if (!core::InRange(block.size(), 0, kRecordSize)) {
    detail["misuse"] = "shared block too small";
    record();
    return;
  }
  uint8_t* b = block.data();
  const uint16_t cls = LoadLe16(b);
  const uint16_t sel = LoadLe16(b + 2);
  Words in{}, preset{};
  for (size_t i = 0; i < 4; ++i) {
    in[i] = LoadLe32(b + 4 + 4 * i);
    preset[i] = LoadLe32(b + 20 + 4 * i);
  }
  detail["class"] = cls;
  detail["select"] = sel;
  detail["in"] = in;
  detail["preset"] = preset;
  const Call* call = std::find_if(std::begin(kCalls), std::end(kCalls),
                                  [&](const Call& c) { return c.callClass == cls && c.select == sel; });
  if (call != std::end(kCalls)) {
    if (const char* misuse = InputMisuse(*call, in, block.size(), blockPhysical)) {
      detail["misuse"] = misuse;
      detail["answered"] = false;
      record();
      return;
    }
  }
  const auto setOut = [&](size_t i, uint32_t v) { StoreLe32(b + 20 + 4 * i, v); };
  bool answered = true;
  if (cls == 99 && sel == 15 && oem.identity) {
    const Profile& p = machine_.GetProfile();
    const std::vector<uint8_t> blocks = RunningIdentityBlocks(p.identity);
    std::span<uint8_t> identity = block.subspan(kArea1, kIdentityAreaSize);
    std::fill(identity.begin(), identity.end(), uint8_t{0});
    std::copy_n(blocks.begin(), std::min(blocks.size(), identity.size()), identity.begin());
    std::span<uint8_t> name = block.subspan(kArea2, kNameFieldSize);
    std::fill(name.begin(), name.end(), uint8_t{0});
    std::copy_n(p.identity.systemName.begin(), std::min(p.identity.systemName.size(), name.size() - 1), name.begin());
    setOut(0, 0);
  } else if (cls == 99 && sel == 17 && oem.platformFlags) {
    ++machine_.MutableState().refreshCount;
    setOut(0, 0);
    setOut(1, PlatformFlags());
    setOut(2, oem.updatePermission);
  } else if (cls == 99 && sel == 31 && oem.nameIndex >= 0) {
    setOut(0, 0);
    setOut(1, static_cast<uint32_t>(oem.nameIndex));
  } else if (cls == 99 && sel == 40 && oem.protectionCheck) {
    std::string version;
    for (size_t i = 1; i <= 3; ++i) version += static_cast<char>(in[i]);
    const bool isProtected =
        std::find(oem.protectedVersions.begin(), oem.protectedVersions.end(), version) != oem.protectedVersions.end();
    setOut(0, isProtected ? 1 : 0);
    detail["protected"] = isProtected;
  } else if (cls == 10 && oem.adminPassword && sel == 0) {
    setOut(0, oem.password.empty() ? 1 : 0);
  } else if (cls == 10 && oem.adminPassword && sel == 3) {
    setOut(0, 0);
    setOut(1, uint32_t{oem.passwordMaxLength} << 8);
  } else if (cls == 10 && oem.adminPassword && sel == 4) {
    const bool accepted = !oem.password.empty() && core::BoundedCString(block, kArea1, kAreaSize) == oem.password;
    setOut(0, accepted ? 0 : 1);
    detail["accepted"] = accepted;
  } else {
    answered = false;
  }
  detail["answered"] = answered;
  if (answered) detail["out"] = Words{LoadLe32(b + 20), LoadLe32(b + 24), LoadLe32(b + 28), LoadLe32(b + 32)};
  record();
}

}  // namespace nox::sim
