#include "platform/sim/EcFlash.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/Bytes.h"
#include "platform/sim/HostFiles.h"
#include "platform/sim/Machine.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFile = "ec.bin";
constexpr size_t kRecord = 22;
constexpr size_t kDataOffset = 1024;
constexpr uint16_t kHandled = 0x0001;
// The seed the machine's own EC firmware is made with; `noxsim ec` makes others by default.
constexpr uint64_t kOwnSeed = 1;

enum Kind { kBegin, kDataRequest, kEnd };

}  // namespace

uint32_t EcChecksum(std::span<const uint8_t> data) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 4 <= data.size(); i += 4) sum += core::LoadLe32(data.data() + i);
  return ~sum;
}

uint16_t EcFlash::Serve(std::span<uint8_t> block, bool checksumOk, nlohmann::json& detail) {
  uint8_t* rec = block.data() + kRecord;
  const uint8_t sub = rec[0];
  const uint32_t length = core::LoadLe32(rec + 7);
  const Kind kind = sub == 1 ? kBegin : sub == 2 ? kDataRequest : kEnd;
  const uint32_t nth = ++counted_[kind];
  uint16_t status = ec_status::kDone;
  const char* refused = nullptr;
  const auto refuse = [&](uint16_t s, const char* why) {
    status = s;
    refused = why;
  };
  if (kind == kBegin && open_) refuse(ec_status::kTransferOpen, "a transfer is open already");
  if (kind == kDataRequest) {
    if (!open_) refuse(ec_status::kNoTransfer, "no transfer is open");
    else if (!checksumOk) refuse(ec_status::kChecksum, "the data's checksum does not match");
    else if (received_.size() + length > contents_.size()) refuse(ec_status::kTooLarge, "the image is larger than the EC flash");
  }
  if (kind == kEnd && !open_) refuse(ec_status::kEndWithoutBegin, "no transfer is open");
  if (refused != nullptr) {
    detail["refused"] = refused;
  } else {
    for (const EcFault& f : machine_.GetProfile().ecFlash.faults) {
      if (static_cast<int>(f.request) != kind || nth < f.nth || (f.times != 0 && nth - f.nth >= f.times)) continue;
      status = f.status;
      detail["fault"] = "injected status";
      break;
    }
  }
  if (status == ec_status::kDone) {
    if (kind == kBegin) {
      open_ = true;
      received_.clear();
    } else if (kind == kDataRequest) {
      received_.insert(received_.end(), block.begin() + kDataOffset, block.begin() + kDataOffset + length);
    } else {
      std::fill(std::copy(received_.begin(), received_.end(), contents_.begin()), contents_.end(), uint8_t{0xFF});
      detail["written"] = received_.size();
      dirty_ = true;
      machine_.StoreEcFlash();
    }
  }
  // An end closes the transfer whatever it answers: a failed one leaves the EC flash as it was.
  if (kind == kEnd && refused == nullptr) {
    open_ = false;
    received_.clear();
  }
  core::StoreLe16(rec + 1, status);
  detail["status"] = status;
  if (kind == kDataRequest) detail["checksumOk"] = checksumOk;
  detail["received"] = received_.size();
  return kHandled;
}

void EcFlash::Forget() {
  open_ = false;
  received_.clear();
}

bool EcFlash::Load(const fs::path& dir, std::string& error) {
  const EcFlashProfile& p = machine_.GetProfile().ecFlash;
  contents_.clear();
  if (!p.present) return true;
  if (!dir.empty() && !Missing(dir / kFile)) {
    std::string why;
    if (!ReadFile(dir / kFile, contents_, &why)) {
      error = CannotRead(dir / kFile, why);
      return false;
    }
    if (contents_.size() == p.size) return true;
    error = (dir / kFile).string() + ": " + std::to_string(contents_.size()) + " bytes, but ecFlash.size is " +
            std::to_string(p.size);
    return false;
  }
  // A machine given an EC flash after it was made runs its own EC firmware until rewritten.
  contents_ = EcFirmwareImage(p.size, kOwnSeed);
  dirty_ = true;
  return true;
}

bool EcFlash::Save(const fs::path& dir, std::string& error) {
  if (!dirty_ || dir.empty()) return true;
  std::string why;
  if (!WriteFile(dir / kFile, contents_, &why)) {
    error = CannotWrite(dir / kFile, why);
    return false;
  }
  dirty_ = false;
  return true;
}

}  // namespace nox::sim
