#include "platform/sim/FlashCommands.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/Bytes.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SecureFlash.h"
#include "platform/sim/SmiHandler.h"

namespace nox::sim {
namespace {

using core::LoadLe32;
using core::LoadLe64;
using core::StoreLe16;
using core::StoreLe32;

// The request of the flash commands at the start of the shared block.
constexpr size_t kDataAddressOffset = 0;
constexpr size_t kFlashAddressOffset = 8;
constexpr size_t kLengthOffset = 12;
constexpr size_t kStatusOffset = 16;
constexpr size_t kDataOffset = 17;
constexpr size_t kSignatureOffset = 1041;
constexpr size_t kPieceSize = 1024;
constexpr uint8_t kStatusPending = 255;
constexpr uint8_t kStatusFailed = 1;
constexpr uint32_t kSectorSize = 4096;

bool Intersects(uint32_t aStart, uint32_t aLength, uint32_t bStart, uint32_t bLength) {
  const uint64_t aEnd = uint64_t{aStart} + aLength;
  const uint64_t bEnd = uint64_t{bStart} + bLength;
  return aLength != 0 && bLength != 0 && aStart < bEnd && bStart < aEnd;
}

// The "$NOX" signature and the data address are how the handler recognises a flash request
// in the block; without them it does not touch the block at all.
const char* RequestMisuse(std::span<const uint8_t> block, uint32_t blockPhysical) {
  if (!core::InRange(block.size(), kSignatureOffset, 4)) return "shared block too small";
  if (std::memcmp(block.data() + kSignatureOffset, "$NOX", 4) != 0) return "no \"$NOX\" signature at 1041";
  if (LoadLe64(block.data() + kDataAddressOffset) != uint64_t{blockPhysical} + kDataOffset) {
    return "data address is not the shared block + 17";
  }
  return nullptr;
}

}  // namespace

void FlashCommands::Serve(uint8_t command, uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical) {
  SmiRecord r;
  r.number = number;
  r.timeMs = machine_.Now();
  r.command = command;
  r.op = SmiOpName(command);
  switch (command) {
    case smi::kEnable: Enable(r, block); break;
    case smi::kDisable: enabled_ = false; break;
    case smi::kFlashInfo: Information(r, block, blockPhysical); break;
    default: Request(r, block, blockPhysical); break;
  }
  machine_.GetJournal().RecordSmi(r);
}

void FlashCommands::Enable(SmiRecord& r, std::span<uint8_t> block) {
  const Profile& p = machine_.GetProfile();
  const uint8_t answer = p.faults.writeProtected ? 1 : p.enableAnswer;
  if (p.faults.writeProtected) r.fault = "write-protected";
  // The caller clears the status byte and the firmware writes only a refusal into it; a
  // firmware that writes its success as well would hide a caller that forgot the clear.
  if (answer != 0 || !p.enableSilentOnSuccess) {
    if (core::InRange(block.size(), kStatusOffset, 1)) {
      block[kStatusOffset] = answer;
      r.status = answer;
    } else {
      r.misuse = "shared block too small";
    }
  }
  enabled_ = answer != 1 && answer != 2 && answer != 3;
}

void FlashCommands::Request(SmiRecord& r, std::span<uint8_t> block, uint32_t blockPhysical) {
  const Profile& p = machine_.GetProfile();
  MachineState& state = machine_.MutableState();
  r.misuse = RequestMisuse(block, blockPhysical);
  if (r.misuse != nullptr) return;
  uint8_t* b = block.data();
  r.address = LoadLe32(b + kFlashAddressOffset);
  r.length = LoadLe32(b + kLengthOffset);
  uint8_t& status = b[kStatusOffset];
  const auto answer = [&](uint8_t value) {
    status = value;
    r.status = value;
  };
  if (status != kStatusPending) {
    r.misuse = "status byte was not 255 on entry";
    answer(kStatusFailed);
    return;
  }
  // Between an ME begin and its end the firmware takes chip addresses; otherwise addresses in
  // the block table's space, which begins at the chip's FirmwareBase. Faults are placed on the
  // chip, where flash.bin, dump and diff show them.
  const std::optional<MeWindow>& window = state.meWindow;
  r.chip = window.has_value();
  const uint64_t chip = uint64_t{r.address} + (window ? 0 : FirmwareBase(p));
  for (size_t i = 0; i < p.faults.stuck.size(); ++i) {
    const StuckFault& f = p.faults.stuck[i];
    if (state.stuckUsed.size() <= i) state.stuckUsed.resize(i + 1, 0);
    if (state.stuckUsed[i] >= f.attempts) continue;
    if (f.fromSmi != 0 && r.number < f.fromSmi) continue;
    if (f.address && *f.address != chip) continue;
    ++state.stuckUsed[i];
    r.fault = "status left at 255";
    r.status = status;
    return;
  }
  if (p.timing.realMicrosPerRequest != 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(p.timing.realMicrosPerRequest));
  }
  const bool piece = r.command != smi::kErase;
  if (piece ? r.length != kPieceSize
            : (r.length == 0 || r.length % kSectorSize != 0 || r.address % kSectorSize != 0)) {
    r.misuse = piece ? "length is not 1024" : "erase range is not whole 4 KiB sectors";
    answer(kStatusFailed);
    return;
  }
  const uint64_t space = window ? ChipSize(p) : p.flash.size;
  if (r.address > space || r.length > space - r.address) {
    r.misuse = "range outside the flash part";
    answer(kStatusFailed);
    return;
  }
  // The chip's regions in front of the block table (descriptor, other firmware) are not the
  // handler's to serve; a utility that reaches there has taken an offset for an address.
  if (r.address < p.flash.base) {
    r.misuse = "range below the block table's first address";
    answer(kStatusFailed);
    return;
  }
  if (r.command != smi::kRead) {
    if (p.faults.writeProtected) {
      r.fault = "write-protected";
      answer(kStatusFailed);
      return;
    }
    if (!enabled_) {
      r.misuse = "flash writes are not enabled";
      answer(kStatusFailed);
      return;
    }
  }
  const FlashOp op = r.command == smi::kRead ? FlashOp::Read : r.command == smi::kErase ? FlashOp::Erase : FlashOp::Write;
  if (op != FlashOp::Read && window && (r.address < window->start || uint64_t{r.address} + r.length > window->end)) {
    r.refused = "outside the range the ME begin request unlocked";
    answer(kStatusFailed);
    return;
  }
  // A secure-flash firmware writes nothing but the image it verified, inside a session.
  if (op != FlashOp::Read && machine_.Secure().Capable()) {
    r.refused = machine_.Secure().Refusal(op == FlashOp::Erase, r.address, r.length, block.subspan(kDataOffset, kPieceSize));
    if (r.refused != nullptr) {
      answer(kStatusFailed);
      return;
    }
  }
  const uint32_t at = static_cast<uint32_t>(chip);
  for (const RangeFault& f : p.faults.fail) {
    if (f.op == op && Intersects(at, r.length, f.start, f.length)) {
      r.fault = "failing range";
      answer(kStatusFailed);
      return;
    }
  }
  std::span<uint8_t> data = block.subspan(kDataOffset, kPieceSize);
  switch (op) {
    case FlashOp::Read: machine_.Flash().Read(at, data); break;
    case FlashOp::Erase: machine_.Flash().Erase(at, r.length); break;
    case FlashOp::Write: {
      machine_.Flash().Program(at, data);
      for (size_t i = 0; i < p.faults.bitFlips.size(); ++i) {
        const BitFlipFault& f = p.faults.bitFlips[i];
        if (state.bitFlipsUsed.size() <= i) state.bitFlipsUsed.resize(i + 1, 0);
        if (state.bitFlipsUsed[i] >= f.writes || !Intersects(at, r.length, f.start, f.length)) continue;
        ++state.bitFlipsUsed[i];
        // Flip a bit of the first byte of the request that lies in the range; the write
        // still reports success, as a marginal cell would.
        const uint32_t flipped = std::max(at, f.start);
        uint8_t byte = 0;
        machine_.Flash().Read(flipped, {&byte, 1});
        machine_.Flash().Poke(flipped, static_cast<uint8_t>(byte ^ f.mask));
        r.fault = "bit flip";
      }
      break;
    }
  }
  answer(p.successStatus);
}

void FlashCommands::Information(SmiRecord& r, std::span<uint8_t> block, uint32_t blockPhysical) {
  const FlashProfile& f = machine_.GetProfile().flash;
  r.misuse = RequestMisuse(block, blockPhysical);
  const size_t header = f.replyVersion <= 10 ? 8 : 16;
  const size_t count = f.blocks.size();
  if (r.misuse == nullptr && !core::InRange(block.size(), 0, header + count * 9)) {
    r.misuse = "block table does not fit the shared block";
  }
  if (r.misuse != nullptr) return;
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

}  // namespace nox::sim
