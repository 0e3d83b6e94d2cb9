#include "platform/sim/SmiHandler.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/Bytes.h"
#include "core/CText.h"
#include "platform/sim/Machine.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

using core::LoadLe16;
using core::LoadLe32;
using core::LoadLe64;
using core::StoreLe16;
using core::StoreLe32;

constexpr uint32_t kOfbdEndMarker = 0xFFFF55AA;
constexpr uint32_t kOfbdClassCommandLine = 0x40000000;
constexpr uint32_t kOfbdClassPassword = 0x20000000;
constexpr uint32_t kOfbdClassSetupPreserve = 0x02000000;
constexpr size_t kOfbdRecord = 22;
constexpr size_t kOemRecordSize = 36;
constexpr size_t kIdentityAreaSize = 4096;
constexpr size_t kNameFieldSize = 20;

const char* OpName(uint8_t command) {
  switch (command) {
    case smi::kOemCall: return "oem";
    case smi::kEnable: return "enable";
    case smi::kRead: return "read";
    case smi::kErase: return "erase";
    case smi::kWrite: return "write";
    case smi::kDisable: return "disable";
    case smi::kFlashInfo: return "flash-info";
    case smi::kOfbd: return "ofbd";
    case smi::kRefreshEcb: return "refresh-ecb";
    default: return "unknown";
  }
}

bool Intersects(uint32_t aStart, uint32_t aLength, uint32_t bStart, uint32_t bLength) {
  const uint64_t aEnd = uint64_t{aStart} + aLength;
  const uint64_t bEnd = uint64_t{bStart} + bLength;
  return aLength != 0 && bLength != 0 && aStart < bEnd && bStart < aEnd;
}

// The "$NOX" signature and the data address are how the handler recognises a flash request
// in the block; without them it does not touch the block at all.
const char* FlashRequestMisuse(std::span<const uint8_t> block, uint32_t blockPhysical) {
  if (!core::InRange(block.size(), smi::kSignatureOffset, 4)) return "shared block too small";
  if (std::memcmp(block.data() + smi::kSignatureOffset, "$NOX", 4) != 0) {
    return "no \"$NOX\" signature at 1041";
  }
  if (LoadLe64(block.data() + smi::kDataAddressOffset) != uint64_t{blockPhysical} + smi::kDataOffset) {
    return "data address is not the shared block + 17";
  }
  return nullptr;
}

}  // namespace

uint64_t SmiHandler::NextNumber() { return ++machine_.MutableState().smiCount; }

uint16_t SmiHandler::PlatformFlags() const {
  const Ecb1Profile& e = machine_.GetProfile().ecb1;
  if (e.refreshesUntilChange != 0 && machine_.State().refreshCount >= e.refreshesUntilChange) {
    return e.flagsAfter;
  }
  return e.flags;
}

void SmiHandler::RunWithoutBlock(uint8_t command, const char* misuse) {
  SmiRecord r;
  r.number = NextNumber();
  r.timeMs = machine_.Now();
  r.command = command;
  r.op = OpName(command);
  r.misuse = misuse;
  machine_.GetJournal().RecordSmi(r);
  machine_.AfterSmi();
}

void SmiHandler::Run(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical) {
  switch (command) {
    case smi::kRead:
    case smi::kErase:
    case smi::kWrite: FlashRequest(command, block, blockPhysical); break;
    case smi::kEnable: Enable(block); break;
    case smi::kDisable: {
      enabled_ = false;
      SmiRecord r;
      r.number = NextNumber();
      r.timeMs = machine_.Now();
      r.command = command;
      r.op = OpName(command);
      machine_.GetJournal().RecordSmi(r);
      break;
    }
    case smi::kFlashInfo: FlashInfo(block, blockPhysical); break;
    case smi::kOfbd: Ofbd(block); break;
    case smi::kOemCall: OemCall(block, blockPhysical); break;
    case smi::kRefreshEcb: Refresh(); break;
    default: {
      SmiRecord r;
      r.number = NextNumber();
      r.timeMs = machine_.Now();
      r.command = command;
      r.op = OpName(command);
      r.misuse = "unknown command code";
      machine_.GetJournal().RecordSmi(r);
      break;
    }
  }
  machine_.AfterSmi();
}

void SmiHandler::FlashRequest(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical) {
  const Profile& p = machine_.GetProfile();
  MachineState& state = machine_.MutableState();
  SmiRecord r;
  r.number = NextNumber();
  r.timeMs = machine_.Now();
  r.command = command;
  r.op = OpName(command);
  r.misuse = FlashRequestMisuse(block, blockPhysical);
  if (r.misuse != nullptr) {
    machine_.GetJournal().RecordSmi(r);
    return;
  }
  uint8_t* b = block.data();
  r.address = LoadLe32(b + smi::kFlashAddressOffset);
  r.length = LoadLe32(b + smi::kLengthOffset);
  uint8_t& status = b[smi::kStatusOffset];

  auto answer = [&](uint8_t value) {
    status = value;
    r.status = value;
    machine_.GetJournal().RecordSmi(r);
  };
  if (status != smi::kStatusPending) {
    r.misuse = "status byte was not 255 on entry";
    answer(smi::kStatusFailed);
    return;
  }
  for (size_t i = 0; i < p.faults.stuck.size(); ++i) {
    const StuckFault& f = p.faults.stuck[i];
    if (state.stuckUsed.size() <= i) state.stuckUsed.resize(i + 1, 0);
    if (state.stuckUsed[i] >= f.attempts) continue;
    if (f.fromSmi != 0 && r.number < f.fromSmi) continue;
    if (f.address && *f.address != r.address) continue;
    ++state.stuckUsed[i];
    r.fault = "status left at 255";
    r.status = status;
    machine_.GetJournal().RecordSmi(r);
    return;
  }
  if (p.timing.realMicrosPerRequest != 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(p.timing.realMicrosPerRequest));
  }
  const bool piece = command != smi::kErase;
  if (piece ? r.length != smi::kPieceSize : (r.length == 0 || r.length % 4096 != 0 || r.address % 4096 != 0)) {
    r.misuse = piece ? "length is not 1024" : "erase range is not whole 4 KiB sectors";
    answer(smi::kStatusFailed);
    return;
  }
  if (!machine_.Flash().Contains(r.address, r.length)) {
    r.misuse = "range outside the flash part";
    answer(smi::kStatusFailed);
    return;
  }
  if (command != smi::kRead) {
    if (p.faults.writeProtected) {
      r.fault = "write-protected";
      answer(smi::kStatusFailed);
      return;
    }
    if (!enabled_) {
      r.misuse = "flash writes are not enabled";
      answer(smi::kStatusFailed);
      return;
    }
  }
  const FlashOp op = command == smi::kRead ? FlashOp::Read : command == smi::kErase ? FlashOp::Erase : FlashOp::Write;
  for (const RangeFault& f : p.faults.fail) {
    if (f.op == op && Intersects(r.address, r.length, f.start, f.length)) {
      r.fault = "failing range";
      answer(smi::kStatusFailed);
      return;
    }
  }
  std::span<uint8_t> data = block.subspan(smi::kDataOffset, smi::kPieceSize);
  switch (op) {
    case FlashOp::Read: machine_.Flash().Read(r.address, data); break;
    case FlashOp::Erase: machine_.Flash().Erase(r.address, r.length); break;
    case FlashOp::Write: {
      machine_.Flash().Program(r.address, data);
      for (size_t i = 0; i < p.faults.bitFlips.size(); ++i) {
        const BitFlipFault& f = p.faults.bitFlips[i];
        if (state.bitFlipsUsed.size() <= i) state.bitFlipsUsed.resize(i + 1, 0);
        if (state.bitFlipsUsed[i] >= f.writes || !Intersects(r.address, r.length, f.start, f.length)) continue;
        ++state.bitFlipsUsed[i];
        // Flip a bit of the first byte of the request that lies in the range; the write
        // still reports success, as a marginal cell would.
        const uint32_t at = std::max(r.address, f.start);
        uint8_t byte = 0;
        machine_.Flash().Read(at, {&byte, 1});
        machine_.Flash().Poke(at, static_cast<uint8_t>(byte ^ f.mask));
        r.fault = "bit flip";
      }
      break;
    }
  }
  answer(p.successStatus);
}

void SmiHandler::Enable(std::span<uint8_t> block) {
  const Profile& p = machine_.GetProfile();
  SmiRecord r;
  r.number = NextNumber();
  r.timeMs = machine_.Now();
  r.command = smi::kEnable;
  r.op = OpName(smi::kEnable);
  const uint8_t answer = p.faults.writeProtected ? 1 : p.enableAnswer;
  if (!core::InRange(block.size(), smi::kStatusOffset, 1)) {
    r.misuse = "shared block too small";
  } else {
    block[smi::kStatusOffset] = answer;
    r.status = answer;
    // 1, 2 and 3 are the refusals the utility knows; any other answer enables writes.
    enabled_ = answer == 0 || answer > 3;
    if (p.faults.writeProtected) r.fault = "write-protected";
  }
  machine_.GetJournal().RecordSmi(r);
}

void SmiHandler::FlashInfo(std::span<uint8_t> block, uint32_t blockPhysical) {
  const FlashProfile& f = machine_.GetProfile().flash;
  SmiRecord r;
  r.number = NextNumber();
  r.timeMs = machine_.Now();
  r.command = smi::kFlashInfo;
  r.op = OpName(smi::kFlashInfo);
  r.misuse = FlashRequestMisuse(block, blockPhysical);
  const size_t header = f.replyVersion <= 10 ? 8 : 16;
  const size_t count = f.blocks.size();
  if (r.misuse == nullptr && !core::InRange(block.size(), 0, header + count * 9)) {
    r.misuse = "block table does not fit the shared block";
  }
  if (r.misuse == nullptr) {
    uint8_t* b = block.data();
    StoreLe32(b, 0);
    b[4] = f.refusalMarker;
    b[5] = f.replyVersion;
    StoreLe16(b + 6, static_cast<uint16_t>(count));
    if (header == 16) {
      StoreLe32(b + 8, f.ecVersionOffset);
      StoreLe32(b + 12, f.ecVersionMask);
    }
    uint8_t* e = b + header;
    for (const BlockEntry& entry : f.blocks) {
      StoreLe32(e, entry.start);
      StoreLe32(e + 4, entry.size);
      e[8] = entry.type;
      e += 9;
    }
    r.length = static_cast<uint32_t>(header + count * 9);
  }
  machine_.GetJournal().RecordSmi(r);
}

void SmiHandler::Ofbd(std::span<uint8_t> block) {
  const Profile& p = machine_.GetProfile();
  const uint64_t number = NextNumber();
  nlohmann::json detail = nlohmann::json::object();
  const uint8_t* b = block.data();
  const char* misuse = nullptr;
  if (!core::InRange(block.size(), 0, 26) || std::memcmp(b, "OFBD", 4) != 0) {
    misuse = "no \"OFBD\" block";
  } else if (LoadLe16(b + 6) < 26 || LoadLe16(b + 6) > block.size()) {
    misuse = "total size outside the shared block";
  } else if (LoadLe16(b + 14) != 18 || LoadLe16(b + 16) != 2) {
    misuse = "header fields at 14 and 16 are not 18 and 2";
  }
  if (misuse != nullptr) {
    detail["misuse"] = misuse;
    machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOfbd, "ofbd", detail);
    return;
  }
  const uint16_t total = LoadLe16(b + 6);
  const uint32_t opClass = LoadLe32(b + 8);
  const uint8_t type = b[18];
  uint16_t flags = LoadLe16(b + 12);
  detail["class"] = opClass;
  detail["type"] = type;
  if (opClass == 0 && type == 0) {
    if (total != 26 || LoadLe32(b + 22) != kOfbdEndMarker) {
      detail["misuse"] = "version query is not 26 bytes with its end marker";
      flags = static_cast<uint16_t>(flags & ~1u);
    } else if (p.ofbdVersion != 0) {
      StoreLe16(block.data() + 4, p.ofbdVersion);
      flags |= 1;
      detail["version"] = p.ofbdVersion;
    } else {
      flags = static_cast<uint16_t>(flags & ~1u);
    }
  } else if (opClass == kOfbdClassCommandLine && type == 'Q') {
    flags = CommandLineConfiguration(block, total, flags, detail);
  } else if (opClass == kOfbdClassSetupPreserve && type == 'V' && p.setupPreserve.supported && p.ofbdVersion != 0) {
    flags = SetupPreserve(block, total, flags, detail);
  } else if (opClass == kOfbdClassPassword && type == 'R' && p.ofbdPassword.enabled && p.ofbdVersion != 0) {
    flags = OfbdPassword(block, flags, detail);
  } else {
    // Operations this firmware does not know answer without bit 0.
    flags = static_cast<uint16_t>(flags & ~1u);
    detail["unsupported"] = true;
  }
  StoreLe16(block.data() + 12, flags);
  detail["flags"] = flags;
  machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOfbd, "ofbd", detail);
}

// One 'Q' record of two option masks: the utility sends (switch-off word, selected options);
// a firmware with defaults answers (options to switch off, options to switch on).
uint16_t SmiHandler::CommandLineConfiguration(std::span<uint8_t> block, uint16_t total, uint16_t flags,
                                              nlohmann::json& detail) {
  constexpr size_t kRecord = 22;
  constexpr uint16_t kTotal = 34;
  flags = static_cast<uint16_t>(flags & ~1u);
  uint8_t* b = block.data();
  if (b[19] != 1 || LoadLe16(b + 20) != 8 || total != kTotal || LoadLe32(b + kTotal - 4) != kOfbdEndMarker) {
    detail["misuse"] = "'Q' block is not one 8-byte record with its end marker (34 bytes)";
    return flags;
  }
  detail["offMask"] = LoadLe32(b + kRecord);
  detail["selectedMask"] = LoadLe32(b + kRecord + 4);
  const DefaultsProfile& d = machine_.GetProfile().defaults;
  if (!d.enabled) {
    detail["unsupported"] = true;
    return flags;
  }
  StoreLe32(b + kRecord, d.switchOff);
  StoreLe32(b + kRecord + 4, d.switchOn);
  detail["switchOff"] = d.switchOff;
  detail["switchOn"] = d.switchOn;
  return static_cast<uint16_t>(flags | 1u);
}

// One 2-byte 'V' record: the sub-function (1 query, 2 store, 4 restore) and a zero; the
// answer replaces the second byte with 1 (done), 4 (store failed) or 8 (restore failed).
uint16_t SmiHandler::SetupPreserve(std::span<uint8_t> block, uint16_t total, uint16_t flags, nlohmann::json& detail) {
  constexpr uint16_t kTotal = 28;
  flags = static_cast<uint16_t>(flags & ~1u);
  uint8_t* b = block.data();
  if (b[19] != 1 || LoadLe16(b + 20) != 2 || total != kTotal || LoadLe32(b + kTotal - 4) != kOfbdEndMarker) {
    detail["misuse"] = "'V' block is not one 2-byte record with its end marker (28 bytes)";
    return flags;
  }
  const uint8_t sub = b[kOfbdRecord];
  const SetupPreserveProfile& sp = machine_.GetProfile().setupPreserve;
  uint8_t answer = 1;
  if (sub == 2 && sp.storeFails) answer = 4;
  if (sub == 4 && sp.restoreFails) answer = 8;
  if (sub != 1 && sub != 2 && sub != 4) answer = 2;
  b[kOfbdRecord + 1] = answer;
  detail["subFunction"] = sub;
  detail["answer"] = answer;
  return static_cast<uint16_t>(flags | 1u);
}

uint16_t SmiHandler::OfbdPassword(std::span<uint8_t> block, uint16_t flags, nlohmann::json& detail) {
  const OfbdPasswordProfile& pw = machine_.GetProfile().ofbdPassword;
  uint32_t& failures = machine_.MutableState().ofbdPasswordFailures;
  uint8_t* b = block.data();
  const uint16_t total = LoadLe16(b + 6);
  const uint8_t request = b[kOfbdRecord + 2];
  const auto refuse = [&](const char* misuse) {
    detail["misuse"] = misuse;
    return static_cast<uint16_t>(flags & ~1u);
  };
  if (b[19] != 1 || LoadLe16(b + 20) != 4) return refuse("'R' operation is not one 4-byte record");
  std::string_view text;
  uint8_t state = 0;
  if (request == 1) {
    if (total != 30 || LoadLe32(b + 26) != kOfbdEndMarker) return refuse("password query is not 30 bytes with its end marker");
    state = failures >= pw.maxAttempts ? 0x05 : 0x01;
    text = failures >= pw.maxAttempts ? pw.lockedMessage : pw.prompt;
    detail["request"] = "query";
  } else if (request == 2) {
    // The password stands where the end marker would be, behind the record; the total
    // size counts neither.
    const size_t length = LoadLe16(b + kOfbdRecord);
    if (total != 26) return refuse("password submission is not 26 bytes");
    if (!core::InRange(block.size(), 26, length)) return refuse("password runs past the shared block");
    detail["request"] = "submission";
    if (failures >= pw.maxAttempts) {
      state = 0x05;
      text = pw.lockedMessage;
    } else {
      const std::string_view given(reinterpret_cast<const char*>(b + 26), length);
      if (given == pw.password) {
        failures = 0;
        state = 0x02;
      } else {
        ++failures;
        const bool locked = failures >= pw.maxAttempts;
        state = locked ? 0x05 : 0x01;
        text = locked ? pw.lockedMessage : pw.wrongMessage;
      }
    }
    detail["accepted"] = state == 0x02;  // never the text itself
  } else {
    return refuse("password record byte 2 is neither 1 (query) nor 2 (submission)");
  }
  b[kOfbdRecord + 3] = state;
  detail["state"] = state;
  detail["failures"] = failures;
  flags = static_cast<uint16_t>((flags | 1u) & ~0x10u);
  if (!text.empty() && core::InRange(block.size(), total, text.size() + 1)) {
    std::memcpy(b + total, text.data(), text.size());
    b[total + text.size()] = 0;
    flags |= 0x10;
  }
  return flags;
}

void SmiHandler::OemCall(std::span<uint8_t> block, uint32_t blockPhysical) {
  const Profile& p = machine_.GetProfile();
  const uint64_t number = NextNumber();
  nlohmann::json detail = nlohmann::json::object();
  if (!core::InRange(block.size(), 0, kOemRecordSize)) {
    detail["misuse"] = "shared block too small";
    machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOemCall, "oem", detail);
    return;
  }
  uint8_t* b = block.data();
  const uint16_t cls = LoadLe16(b);
  const uint16_t sel = LoadLe16(b + 2);
  const uint32_t in[4] = {LoadLe32(b + 4), LoadLe32(b + 8), LoadLe32(b + 12), LoadLe32(b + 16)};
  detail["class"] = cls;
  detail["select"] = sel;
  auto setOut = [&](int i, uint32_t v) { StoreLe32(b + 20 + 4 * i, v); };
  // Inputs that carry physical addresses must point into the shared block, past the record.
  auto area = [&](uint32_t physical, size_t length) -> std::span<uint8_t> {
    if (physical < blockPhysical) return {};
    const uint64_t offset = uint64_t{physical} - blockPhysical;
    if (offset < kOemRecordSize || !core::InRange(block.size(), offset, length)) return {};
    return block.subspan(static_cast<size_t>(offset), length);
  };
  bool answered = false;
  if (cls == 99 && sel == 15 && p.oem.identity) {
    const std::vector<uint8_t> blocks = RunningIdentityBlocks(p.identity);
    std::span<uint8_t> identity = area(in[0], kIdentityAreaSize);
    std::span<uint8_t> name = area(in[1], kNameFieldSize);
    if (identity.empty() || name.empty()) {
      detail["misuse"] = "identity or name area outside the shared block";
    } else {
      std::fill(identity.begin(), identity.end(), uint8_t{0});
      std::copy_n(blocks.begin(), std::min(blocks.size(), identity.size()), identity.begin());
      std::fill(name.begin(), name.end(), uint8_t{0});
      std::copy_n(p.identity.systemName.begin(), std::min(p.identity.systemName.size(), name.size() - 1), name.begin());
      setOut(0, 0);
      answered = true;
    }
  } else if (cls == 99 && sel == 17 && p.oem.platformFlags) {
    ++machine_.MutableState().refreshCount;
    setOut(0, 0);
    setOut(1, PlatformFlags());
    setOut(2, p.oem.updatePermission);
    detail["flags"] = PlatformFlags();
    answered = true;
  } else if (cls == 99 && sel == 31 && p.oem.nameIndex >= 0) {
    setOut(0, 0);
    setOut(1, static_cast<uint32_t>(p.oem.nameIndex));
    answered = true;
  } else if (cls == 99 && sel == 40 && p.oem.protectionCheck) {
    std::string version;
    for (int i = 1; i <= 3; ++i) version += static_cast<char>(in[i] & 0xFF);
    const bool isProtected = std::find(p.oem.protectedVersions.begin(), p.oem.protectedVersions.end(),
                                       version) != p.oem.protectedVersions.end();
    setOut(0, isProtected ? 1 : 0);
    detail["version"] = version;
    detail["protected"] = isProtected;
    answered = true;
  } else if (cls == 10 && p.oem.adminPassword && (sel == 0 || sel == 3 || sel == 4)) {
    if (sel == 0) {
      setOut(0, p.oem.password.empty() ? 1 : 0);
      answered = true;
    } else if (sel == 3) {
      setOut(0, 0);
      setOut(1, uint32_t{p.oem.passwordMaxLength} << 8);
      answered = true;
    } else {
      std::span<uint8_t> text = area(in[0], 1);
      if (text.empty()) {
        detail["misuse"] = "password area outside the shared block";
      } else {
        const size_t offset = static_cast<size_t>(text.data() - block.data());
        const std::string_view given = core::BoundedCString(block, offset, 1024);
        const bool accepted = !p.oem.password.empty() && given == p.oem.password;
        setOut(0, accepted ? 0 : 1);
        detail["accepted"] = accepted;
        answered = true;
      }
    }
  }
  detail["answered"] = answered;
  if (answered) detail["out0"] = LoadLe32(b + 20);
  machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOemCall, "oem", detail);
}

void SmiHandler::Refresh() {
  const uint64_t number = NextNumber();
  ++machine_.MutableState().refreshCount;
  const uint16_t flags = PlatformFlags();
  if (machine_.GetProfile().ecb1.present) machine_.WriteEcb1(flags);
  machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kRefreshEcb, "refresh-ecb",
                                        {{"flags", flags}});
}

}  // namespace nox::sim
