#include "platform/sim/OfbdExchange.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/Bytes.h"
#include "platform/sim/EcFlash.h"
#include "platform/sim/Machine.h"
#include "platform/sim/SecureFlash.h"
#include "platform/sim/SmiHandler.h"

namespace nox::sim {
namespace {

using core::LoadLe16;
using core::LoadLe32;
using core::LoadLe64;
using core::StoreLe16;
using core::StoreLe32;
using nlohmann::json;

constexpr size_t kHeaderSize = 18;
constexpr size_t kRecord = 22;  // the record of the block's one operation
constexpr size_t kLargestRecord = 20;
constexpr uint32_t kEndMarker = 0xFFFF55AA;
constexpr uint16_t kHandled = 0x0001;
constexpr uint16_t kTextFollows = 0x0010;

constexpr uint32_t kClassVersion = 0;
constexpr uint32_t kClassSetupPreserve = 0x02000000;
constexpr uint32_t kClassMeRegion = 0x04000000;
constexpr uint32_t kClassEcTransfer = 0x08000000;
constexpr uint32_t kClassPassword = 0x20000000;
constexpr uint32_t kClassCommandLine = 0x40000000;
constexpr uint32_t kClassSecureFlash = 0x40;

struct Operation {
  uint8_t type;
  uint32_t opClass;
};
// The operations that have a class of their own; a block pairs class and type as listed.
constexpr Operation kOperations[] = {{0, kClassVersion},         {'U', kClassMeRegion},    {'T', kClassEcTransfer},
                                     {'V', kClassSetupPreserve}, {'R', kClassPassword},    {'Q', kClassCommandLine},
                                     {'p', kClassSecureFlash}};

size_t RecordSize(uint8_t type) {
  switch (type) {
    case 'P': return 20;
    case 'Q': return 8;
    case 'R': return 4;
    case 'S': return 14;
    case 'T': return 11;
    case 'U': return 18;
    case 'V': return 2;
    case 'W': return 12;
    case 'X': return 4;
    case 'p': return 2;
    default: return 0;
  }
}

// The EC data stands at shared block + 1024, announced by its physical address where the
// end marker stood; the checksum is the complement of the sum of its whole u32 words.
const char* CheckEcTransfer(std::span<const uint8_t> block, uint32_t physical, bool servesEc, json& detail) {
  constexpr size_t kDataOffset = 1024;
  constexpr uint32_t kMaxData = 4096;
  const uint8_t* rec = block.data() + kRecord;
  const uint8_t sub = rec[0];
  const uint32_t checksum = LoadLe32(rec + 3);
  const uint32_t length = LoadLe32(rec + 7);
  detail["subFunction"] = sub;
  detail["length"] = length;
  if (sub != 1 && sub != 2 && sub != 4) return "EC transfer sub-function is not 1, 2 or 4";
  if (LoadLe16(rec + 1) != 0) return "EC transfer status is not 0 in the request";
  if ((sub == 2) != (length != 0)) return "EC data comes with the data request (2) and no other";
  if (length == 0) return checksum == 0 ? nullptr : "EC checksum without data is not 0";
  if (LoadLe64(rec + 11) != uint64_t{physical} + kDataOffset) return "EC data address is not the shared block + 1024";
  if (length > kMaxData || !core::InRange(block.size(), kDataOffset, length)) {
    return "EC data is not 1 to 4096 bytes inside the shared block";
  }
  if (EcChecksum(block.subspan(kDataOffset, length)) == checksum) return nullptr;
  detail["checksumOk"] = false;
  // A firmware that programs the EC answers a wrong checksum itself; one that does not can
  // only report the broken block.
  return servesEc ? nullptr : "EC data checksum does not match";
}

// Secure-flash requests carry their data behind the end marker, at the block's total size.
const char* CheckSecureFlash(std::span<const uint8_t> block, uint32_t physical, json& detail) {
  constexpr size_t kData = kRecord + 2 + 4;
  constexpr uint32_t kMaxPiece = 32768;
  const uint8_t* rec = block.data() + kRecord;
  detail["subFunction"] = rec[0];
  if (rec[1] != 0) return "secure-flash record byte 1 is not 0";
  const auto data = [&](size_t length) { return core::InRange(block.size(), kData, length) ? block.data() + kData : nullptr; };
  switch (rec[0]) {
    case 4: {  // capability query
      const uint8_t* d = data(259);
      if (d == nullptr || d[258] != 1) return "capability query does not set byte 258 of its answer to 1";
      return nullptr;
    }
    case 8: {  // start a session with the flash policy
      const uint8_t* d = data(34);
      if (d == nullptr) return "flash policy runs past the shared block";
      if (d[0] != 1 && d[0] != 2 && d[0] != 4) return "flash policy type is not 1, 2 or 4";
      if (LoadLe32(d + 1) & ~0xFu) return "flash policy names regions other than bits 0 to 3";
      if (d[0] != 1 && std::any_of(d + 5, d + 21, [](uint8_t c) { return c != 0; })) {
        return "flash policy carries a file name outside a recovery";
      }
      if (d[29] != 1) return "flash policy status byte 29 is not 1";
      for (size_t i = 25; i < 34; ++i) {
        if (i != 29 && d[i] != 0) return "flash policy reserved bytes are not 0";
      }
      return nullptr;
    }
    case 2: {  // a piece of the image
      const uint8_t* d = data(17);
      if (d == nullptr) return "image piece header runs past the shared block";
      const uint32_t length = LoadLe32(d + 12);
      detail["offset"] = LoadLe32(d + 8);
      detail["length"] = length;
      if (LoadLe64(d) != uint64_t{physical} + kData + 17) return "image piece address is not the shared block + 45";
      if (length == 0 || length > kMaxPiece || !core::InRange(block.size(), kData + 17, length)) {
        return "image piece is not 1 to 32768 bytes inside the shared block";
      }
      return d[16] == 1 ? nullptr : "image piece status is not 1";
    }
    default: return "secure-flash sub-function is not 2, 4 or 8";
  }
}

// The operation's own fields, checked whether or not the firmware answers it.
const char* CheckRecord(std::span<const uint8_t> block, uint32_t physical, bool servesEc, json& detail) {
  const uint8_t* rec = block.data() + kRecord;
  switch (block[18]) {
    case 'T': return CheckEcTransfer(block, physical, servesEc, detail);
    case 'p': return CheckSecureFlash(block, physical, detail);
    case 'U':
      detail["selector"] = rec[1];
      if (rec[1] > 5) return "ME region selector is above 5";
      // The answer fields are the firmware's to fill; a request carrying a kept answer back
      // would have them taken for its own.
      return rec[0] == 0 && std::all_of(rec + 2, rec + 18, [](uint8_t b) { return b == 0; })
                 ? nullptr
                 : "ME region record bytes other than the selector are not 0";
    case 'V':
      detail["subFunction"] = rec[0];
      return rec[1] == 0 ? nullptr : "setup-preserve record byte 1 is not 0";
    case 'Q':
      detail["offMask"] = LoadLe32(rec);
      detail["selectedMask"] = LoadLe32(rec + 4);
      return nullptr;
    case 'R':
      if (rec[2] == 1) return nullptr;
      if (rec[2] != 2) return "password record byte 2 is neither 1 (query) nor 2 (submission)";
      return core::InRange(block.size(), kRecord + 4, LoadLe16(rec)) ? nullptr : "password runs past the shared block";
    default: return nullptr;
  }
}

}  // namespace

void OfbdExchange::Serve(uint64_t number, std::span<uint8_t> block, uint32_t blockPhysical) {
  json detail = json::object();
  if (const char* misuse = Check(block, blockPhysical, detail)) {
    detail["misuse"] = misuse;
  } else {
    // The firmware writes the whole word: nothing the caller left there survives.
    const uint16_t flags = Answer(block, detail);
    StoreLe16(block.data() + 12, flags);
    detail["flags"] = flags;
    if (!(flags & kHandled)) detail["unsupported"] = true;
  }
  machine_.GetJournal().RecordSmiDetail(number, machine_.Now(), smi::kOfbd, "ofbd", detail);
}

const char* OfbdExchange::Check(std::span<const uint8_t> block, uint32_t blockPhysical, json& detail) const {
  if (!core::InRange(block.size(), 0, kRecord + kLargestRecord + 4)) return "shared block too small";
  const uint8_t* b = block.data();
  if (std::memcmp(b, "OFBD", 4) != 0) return "no \"OFBD\" signature";
  const uint32_t opClass = LoadLe32(b + 8);
  const uint8_t type = b[18];
  detail["class"] = opClass;
  detail["type"] = type;
  const uint16_t version = LoadLe16(b + 4);
  const bool versionQuery = opClass == kClassVersion && type == 0;
  if (version != (versionReported_ ? machine_.GetProfile().ofbdVersion : 0) && !(versionQuery && version == 0)) {
    return versionReported_ ? "version is not the firmware's OFBD version" : "version is not 0 before the firmware told its own";
  }
  if (LoadLe16(b + 14) != kHeaderSize || LoadLe16(b + 16) != 2) return "header fields at 14 and 16 are not 18 and 2";
  const auto* byType = std::find_if(std::begin(kOperations), std::end(kOperations),
                                    [&](const Operation& o) { return o.type == type; });
  const auto* byClass = std::find_if(std::begin(kOperations), std::end(kOperations),
                                     [&](const Operation& o) { return o.opClass == opClass; });
  if (byType != byClass) return "class and operation type do not belong together";
  if (b[19] != 1) return "operation count is not 1";
  const size_t record = RecordSize(type);
  if (LoadLe16(b + 20) != record) return "record size does not belong to the operation type";
  // A password submission puts its text where the end marker would stand, and the total
  // size counts neither; an EC data request puts the data's address there.
  const bool submission = type == 'R' && b[kRecord + 2] == 2;
  const size_t total = LoadLe16(b + 6);
  if (total != kRecord + record + (submission ? 0 : 4)) return "total size is not header, operation, record and end marker";
  const bool ecData = type == 'T' && LoadLe32(b + kRecord + 7) != 0;
  if (!submission && !ecData && LoadLe32(b + total - 4) != kEndMarker) return "no end marker behind the record";
  const Profile& p = machine_.GetProfile();
  const bool servesEc = p.ecFlash.present && p.ofbdVersion != 0;
  if (const char* misuse = CheckRecord(block, blockPhysical, servesEc, detail)) return misuse;
  const SecureFlash& secure = machine_.Secure();
  return type == 'p' && secure.Capable() ? secure.Misuse(block, detail) : nullptr;
}

uint16_t OfbdExchange::Answer(std::span<uint8_t> block, json& detail) {
  const Profile& p = machine_.GetProfile();
  if (p.ofbdVersion == 0) return 0;  // a firmware without OFBD knows no operation
  switch (block[18]) {
    case 0:
      StoreLe16(block.data() + 4, p.ofbdVersion);
      versionReported_ = true;
      detail["version"] = p.ofbdVersion;
      return kHandled;
    case 'Q': return p.defaults.enabled ? CommandLineConfiguration(block, detail) : 0;
    case 'V': return p.setupPreserve.supported ? SetupPreserve(block, detail) : 0;
    case 'R': return p.ofbdPassword.enabled ? Password(block, detail) : 0;
    case 'p': return machine_.Secure().Capable() ? machine_.Secure().Serve(block, detail) : 0;
    case 'U': return me_.Serve(block, detail);
    case 'T': return p.ecFlash.present ? machine_.Ec().Serve(block, detail.value("checksumOk", true), detail) : 0;
    default: return 0;
  }
}

// One 'Q' record of two option masks: the utility sends (switch-off word, selected options);
// a firmware with defaults answers (options to switch off, options to switch on).
uint16_t OfbdExchange::CommandLineConfiguration(std::span<uint8_t> block, json& detail) {
  const DefaultsProfile& d = machine_.GetProfile().defaults;
  StoreLe32(block.data() + kRecord, d.switchOff);
  StoreLe32(block.data() + kRecord + 4, d.switchOn);
  detail["switchOff"] = d.switchOff;
  detail["switchOn"] = d.switchOn;
  return kHandled;
}

// One 2-byte 'V' record: the sub-function (1 query, 2 store, 4 restore) and a zero; the
// answer replaces the zero with 1 (done), 2 (not known), 4 (store failed) or 8 (restore
// failed).
uint16_t OfbdExchange::SetupPreserve(std::span<uint8_t> block, json& detail) {
  const SetupPreserveProfile& sp = machine_.GetProfile().setupPreserve;
  const uint8_t sub = block[kRecord];
  uint8_t answer = 1;
  if (sub == 2 && sp.storeFails) answer = 4;
  if (sub == 4 && sp.restoreFails) answer = 8;
  if (sub != 1 && sub != 2 && sub != 4) answer = 2;
  block[kRecord + 1] = answer;
  detail["answer"] = answer;
  return kHandled;
}

// A query answers "required" (or "no more attempts" once they are used up); a submission
// answers accepted (2) or wrong. The firmware's text goes behind the answer block.
uint16_t OfbdExchange::Password(std::span<uint8_t> block, json& detail) {
  const OfbdPasswordProfile& pw = machine_.GetProfile().ofbdPassword;
  uint32_t& failures = machine_.MutableState().ofbdPasswordFailures;
  uint8_t* b = block.data();
  const size_t total = LoadLe16(b + 6);
  std::string_view text;
  uint8_t state = 0;
  if (b[kRecord + 2] == 1) {
    state = failures >= pw.maxAttempts ? 0x05 : 0x01;
    text = failures >= pw.maxAttempts ? pw.lockedMessage : pw.prompt;
    detail["request"] = "query";
  } else {
    detail["request"] = "submission";
    if (failures >= pw.maxAttempts) {
      state = 0x05;
      text = pw.lockedMessage;
    } else if (std::string_view(reinterpret_cast<const char*>(b + total), LoadLe16(b + kRecord)) == pw.password) {
      failures = 0;
      state = 0x02;
    } else {
      ++failures;
      const bool locked = failures >= pw.maxAttempts;
      state = locked ? 0x05 : 0x01;
      text = locked ? pw.lockedMessage : pw.wrongMessage;
    }
    detail["accepted"] = state == 0x02;  // never the text itself
  }
  b[kRecord + 3] = state;
  detail["state"] = state;
  detail["failures"] = failures;
  uint16_t flags = kHandled;
  if (!text.empty() && core::InRange(block.size(), total, text.size() + 1)) {
    std::memcpy(b + total, text.data(), text.size());
    b[total + text.size()] = 0;
    flags |= kTextFollows;
  }
  return flags;
}

}  // namespace nox::sim
