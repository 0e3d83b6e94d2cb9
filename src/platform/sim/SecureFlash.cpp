#include "platform/sim/SecureFlash.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/Bytes.h"
#include "core/CText.h"
#include "core/Format.h"
#include "platform/sim/Capsule.h"
#include "platform/sim/HostFiles.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Regions.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;
using core::LoadLe16;
using core::LoadLe32;
using nlohmann::json;

constexpr size_t kData = 28;          // behind the 'p' block: header, operation, record, end marker
constexpr size_t kPieceData = 17;     // the piece behind its 17-byte header
constexpr size_t kAnswerLength = 259;
constexpr uint32_t kMemoryBeyondFlash = 65536;
constexpr uint16_t kHandled = 0x0001;
constexpr uint8_t kCapabilityFormat = 1;
constexpr uint8_t kOperationTypes = 0x1 | 0x2 | 0x4;  // recovery, capsule, runtime session
constexpr uint8_t kDigestKinds = 0x1;                  // SHA-256

constexpr const char* kStateFile = "secure-flash.json";
constexpr const char* kMemoryFile = "image-memory.bin";
constexpr const char* kPendingFile = "pending-capsule.bin";

// A directory the utility reported, as this host reaches it. Under Wine the utility reports
// Windows paths: Z: is the host's root, other drives are links in the Wine prefix.
fs::path HostPath(const std::string& reported) {
#ifndef _WIN32
  if (reported.size() >= 2 && std::isalpha(static_cast<unsigned char>(reported[0])) && reported[1] == ':') {
    std::string rest = reported.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(reported[0])));
    if (drive == 'z') return rest.empty() ? fs::path("/") : fs::path(rest);
    const char* prefix = std::getenv("WINEPREFIX");
    const char* home = std::getenv("HOME");
    const std::string base = prefix && *prefix ? prefix : std::string(home ? home : "") + "/.wine";
    return fs::path(base + "/dosdevices/" + drive + ":" + rest);
  }
#endif
  return fs::path(reported);
}

}  // namespace

bool RegionBitsCover(uint32_t regions, uint8_t type) {
  switch (type) {
    case 0: return regions & 0x1;
    case 1: return regions & 0x2;
    case 2: return regions & 0x4;
    case 3: return regions & 0x8;
    default: return type >= 0x80 && (regions & 0x2);
  }
}

std::string RegionBitNames(uint32_t regions) {
  static const char* const kNames[] = {"boot block", "main BIOS", "NVRAM", "EC"};
  std::string out;
  for (int bit = 0; bit < 4; ++bit) {
    if (regions & (1u << bit)) out += (out.empty() ? "" : ", ") + std::string(kNames[bit]);
  }
  return out.empty() ? "none" : out;
}

bool SecureFlash::Capable() const { return machine_.GetProfile().secureFlash.capable; }

uint32_t SecureFlash::Capacity() const { return machine_.GetProfile().flash.size + kMemoryBeyondFlash; }

void SecureFlash::SetUtilityPaths(fs::path program, fs::path workingDirectory) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(program, ec);
  program_ = ec ? program : absolute;
  workingDirectory_ = std::move(workingDirectory);
}

const char* SecureFlash::Misuse(std::span<const uint8_t> block, json& detail) const {
  if (block[kData - 6] != 2) return nullptr;  // the record's sub-function
  const uint8_t* d = block.data() + kData;
  const uint64_t end = uint64_t{LoadLe32(d + 8)} + LoadLe32(d + 12);
  if (end <= Capacity()) return nullptr;
  detail["capacity"] = Capacity();
  return "image piece lies outside the image memory";
}

uint16_t SecureFlash::Serve(std::span<uint8_t> block, json& detail) {
  uint8_t* d = block.data() + kData;
  switch (block[kData - 6]) {
    case 4: {
      const SecureFlashProfile& sf = machine_.GetProfile().secureFlash;
      detail["request"] = "capability";
      std::fill_n(d, kAnswerLength, uint8_t{0});
      d[0] = kCapabilityFormat;
      d[1] = kOperationTypes;
      core::StoreLe32(d + 2, Capacity());
      d[6] = sf.requireSigned ? 1 : 0;
      d[7] = kDigestKinds;
      CapsuleGuid().WriteTo(std::span<uint8_t, 16>(d + 8, 16));
      return kHandled;
    }
    case 2: {
      detail["request"] = "piece";
      const uint8_t status = Piece(d, detail);
      d[16] = status;
      detail["status"] = status;
      return kHandled;
    }
    default: {
      detail["request"] = "session";
      std::string reason;
      const uint8_t status = StartSession(d, reason, detail);
      d[29] = status;
      detail["status"] = status;
      if (!reason.empty()) detail["reason"] = reason;
      return kHandled;
    }
  }
}

uint8_t SecureFlash::Piece(uint8_t* d, json& detail) {
  const uint32_t offset = LoadLe32(d + 8);
  const uint32_t length = LoadLe32(d + 12);
  const std::optional<uint32_t> failAt = machine_.GetProfile().secureFlash.failPieceAt;
  if (failAt && *failAt >= offset && *failAt - offset < length) {
    detail["fault"] = "failing piece";
    return 2;
  }
  // A watched run sees the image go across as it sees the flash being written.
  if (const uint32_t us = machine_.GetProfile().timing.realMicrosPerPiece; us != 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
  }
  if (memory_.size() < uint64_t{offset} + length) memory_.resize(uint64_t{offset} + length, 0xFF);
  std::memcpy(memory_.data() + offset, d + kPieceData, length);
  Hold(offset, offset + length);
  memoryDirty_ = dirty_ = true;
  if (session_) {
    session_.reset();
    detail["sessionEnded"] = true;
  }
  return 0;
}

uint8_t SecureFlash::StartSession(uint8_t* p, std::string& reason, json& detail) {
  const SecureFlashProfile& sf = machine_.GetProfile().secureFlash;
  const uint8_t type = p[0];
  const uint32_t regions = LoadLe32(p + 1);
  const uint32_t imageSize = LoadLe32(p + 21);
  const std::string name(core::BoundedCString(std::span<const uint8_t>(p + 5, 16), 0));
  detail["flashType"] = type;
  detail["regions"] = regions;
  detail["regionNames"] = RegionBitNames(regions);
  detail["imageSize"] = imageSize;
  if (type == 1) detail["name"] = name;
  if (sf.sessionStatus != 0) {
    reason = "the firmware refuses every session";
    return sf.sessionStatus;
  }
  if (regions == 0) {
    reason = "the policy names no region";
    return capsule::kNoRegion;
  }
  if (type == 1) {
    std::error_code ec;
    const fs::path here = workingDirectory_.empty() ? fs::current_path(ec) : workingDirectory_;
    Pending pending{"recovery", regions, name, {here.string(), program_.parent_path().string()}};
    for (const std::string& dir : pending.directories) {
      if (!name.empty() && fs::is_regular_file(fs::path(dir) / name, ec)) {
        detail["file"] = (fs::path(dir) / name).string();
        pending_ = std::move(pending);
        pendingImage_.clear();
        dirty_ = true;
        return capsule::kAccepted;
      }
    }
    reason = "recovery file \"" + name + "\" not found";
    return capsule::kNoRecoveryFile;
  }
  const uint8_t status = Verify(imageSize, reason);
  if (status != capsule::kAccepted) return status;
  const uint32_t header = HeldHeaderLength();
  const uint32_t size = machine_.GetProfile().flash.size;
  if (type == 2) {
    pending_ = Pending{"capsule", regions, "", {}};
    pendingImage_.assign(memory_.begin() + header, memory_.begin() + header + size);
    pendingDirty_ = true;
  } else {
    session_ = Session{type, regions, header, size};
  }
  dirty_ = true;
  return capsule::kAccepted;
}

uint8_t SecureFlash::Verify(uint32_t policySize, std::string& reason) const {
  const Profile& p = machine_.GetProfile();
  const auto refuse = [&](uint8_t status, std::string why) {
    reason = std::move(why);
    return status;
  };
  if (!Uploaded(0, core::Guid::kSize)) return refuse(capsule::kIncomplete, "nothing uploaded");
  if (HeldHeaderLength() == 0) {
    // An image without a capsule header carries no digest: a firmware that takes unsigned
    // images takes it as it stands, one that requires signed images refuses it.
    if (p.secureFlash.requireSigned) return refuse(capsule::kUnsignedRefused, "no capsule header: unsigned image refused");
    if (!Uploaded(0, p.flash.size)) return refuse(capsule::kIncomplete, "image incomplete");
    if (policySize != p.flash.size) {
      return refuse(capsule::kDoesNotFit,
                    core::Format("the policy's image size %u is not the flash part's %u", policySize, p.flash.size));
    }
    return capsule::kAccepted;
  }
  if (!Uploaded(0, kCapsuleFixedLength)) return refuse(capsule::kIncomplete, "capsule header not uploaded");
  const std::span<const uint8_t> memory(memory_);
  const uint32_t header = LoadLe16(memory.data() + 28);
  const uint32_t count = LoadLe32(memory.data() + 24);
  const auto guid = CapsuleGuid().ToBytes();
  if (std::memcmp(memory.data(), guid.data(), guid.size()) != 0 || count > kMaxUnsignedRanges ||
      header != CapsuleHeaderLength(count)) {
    // Let the header check name what is wrong with it.
    return refuse(capsule::kHeaderInvalid, CheckCapsule(memory.first(kCapsuleFixedLength), {}, p.flash.size, false).reason);
  }
  if (!Uploaded(0, header)) return refuse(capsule::kIncomplete, "capsule header not uploaded");
  const uint32_t size = LoadLe32(memory.data() + 16);
  if (size != p.flash.size) {
    return refuse(capsule::kDoesNotFit, core::Format("image of %u bytes for a flash part of %u", size, p.flash.size));
  }
  if (!Uploaded(header, uint64_t{header} + size)) return refuse(capsule::kIncomplete, "image incomplete");
  if (policySize != header + size && policySize != size) {
    return refuse(capsule::kDoesNotFit,
                  core::Format("the policy's image size %u is neither %u nor %u", policySize, header + size, size));
  }
  CapsuleVerdict v = CheckCapsule(memory.first(header), memory.subspan(header, size), p.flash.size,
                                  p.secureFlash.requireSigned);
  reason = std::move(v.reason);
  return v.status;
}

const char* SecureFlash::Refusal(bool erase, uint32_t address, uint32_t length, std::span<const uint8_t> data) const {
  if (!session_) return "no secure-flash session";
  const uint64_t end = uint64_t{address} + length;
  for (const BlockEntry& b : machine_.GetProfile().flash.blocks) {
    if (uint64_t{b.start} + b.size > address && b.start < end && !RegionBitsCover(session_->regions, b.type)) {
      return "outside the session's regions";
    }
  }
  if (erase) return nullptr;
  const size_t at = size_t{session_->headerLength} + address;
  if (!core::InRange(memory_.size(), at, data.size()) || std::memcmp(memory_.data() + at, data.data(), data.size()) != 0) {
    return "data differs from the verified image";
  }
  return nullptr;
}

// The memory holds a header when its first bytes were uploaded and are the capsule GUID.
uint32_t SecureFlash::HeldHeaderLength() const {
  const auto guid = CapsuleGuid().ToBytes();
  if (!Uploaded(0, guid.size()) || std::memcmp(memory_.data(), guid.data(), guid.size()) != 0) return 0;
  return core::ReadLe16(memory_, 28).value_or(0);
}

bool SecureFlash::Uploaded(uint64_t start, uint64_t end) const {
  if (start >= end) return true;
  auto it = held_.upper_bound(static_cast<uint32_t>(std::min<uint64_t>(start, UINT32_MAX)));
  if (it == held_.begin()) return false;
  --it;
  return it->first <= start && it->second >= end;
}

void SecureFlash::Hold(uint32_t start, uint32_t end) {
  auto it = held_.upper_bound(start);
  if (it != held_.begin() && std::prev(it)->second >= start) {
    --it;
    start = it->first;
  }
  while (it != held_.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = held_.erase(it);
  }
  held_[start] = end;
}

uint64_t SecureFlash::BytesHeld() const {
  uint64_t n = 0;
  for (const auto& [start, end] : held_) n += end - start;
  return n;
}

void SecureFlash::ForgetMemory() {
  if (memory_.empty() && held_.empty()) return;
  memory_.clear();
  memory_.shrink_to_fit();
  held_.clear();
  memoryDirty_ = dirty_ = true;
}

void SecureFlash::PowerLost() {
  if (session_) dirty_ = true;
  session_.reset();
  ForgetMemory();
}

std::string SecureFlash::Apply(const char* kind, std::span<const uint8_t> image, uint32_t regions, const json& extra) {
  FlashPart& flash = machine_.Flash();
  uint64_t bytes = 0;
  for (const BlockEntry& b : machine_.GetProfile().flash.blocks) {
    if (!RegionBitsCover(regions, b.type) || !core::InRange(image.size(), b.start, b.size)) continue;
    flash.Erase(b.start, b.size);
    flash.Program(b.start, image.subspan(b.start, b.size));
    bytes += b.size;
  }
  json detail = {{"regions", regions}, {"regionNames", RegionBitNames(regions)}, {"bytes", bytes}};
  detail.update(extra);
  machine_.RecordEffect(std::string(kind) + "-applied", detail);
  return std::string("applied ") + kind + " (" + RegionBitNames(regions) + ")";
}

std::optional<std::vector<uint8_t>> SecureFlash::RecoveryImage(const Pending& pending, fs::path& found,
                                                                std::string& reason) const {
  std::vector<uint8_t> file;
  for (const std::string& dir : pending.directories) {
    std::error_code ec;
    const fs::path candidate = HostPath(dir) / pending.name;
    if (fs::is_regular_file(candidate, ec) && ReadFile(candidate, file)) {
      found = candidate;
      break;
    }
  }
  if (found.empty()) {
    reason = "recovery file is gone";
    return std::nullopt;
  }
  const Profile& p = machine_.GetProfile();
  std::optional<CapsuleParts> parts = LocateCapsule(file);
  if (!parts && !p.secureFlash.requireSigned && file.size() == p.flash.size) parts = CapsuleParts{{}, file};
  if (!parts) {
    reason = "recovery file fails its check: no capsule header";
    return std::nullopt;
  }
  if (!parts->header.empty()) {
    const CapsuleVerdict v = CheckCapsule(parts->header, parts->image, p.flash.size, p.secureFlash.requireSigned);
    if (v.status != capsule::kAccepted) {
      reason = "recovery file fails its check: " + v.reason;
      return std::nullopt;
    }
  }
  return std::vector<uint8_t>(parts->image.begin(), parts->image.end());
}

std::string SecureFlash::BootRecovery(const Pending& pending) {
  fs::path found;
  std::string reason;
  const std::optional<std::vector<uint8_t>> image = RecoveryImage(pending, found, reason);
  if (!image) {
    machine_.RecordEffect("recovery-not-applied", {{"name", pending.name}, {"reason", reason}});
    return "recovery not applied: " + reason;
  }
  return Apply("recovery", *image, pending.regions, {{"file", found.string()}});
}

std::optional<std::vector<uint8_t>> SecureFlash::PartAfterBoot(std::span<const uint8_t> part) const {
  if (!pending_) return std::nullopt;
  std::optional<std::vector<uint8_t>> image;
  if (pending_->kind == "capsule") {
    if (pendingImage_.size() == machine_.GetProfile().flash.size) image = pendingImage_;
  } else {
    fs::path found;
    std::string reason;
    image = RecoveryImage(*pending_, found, reason);
  }
  if (!image) return std::nullopt;
  std::vector<uint8_t> after(part.begin(), part.end());
  for (const BlockEntry& b : machine_.GetProfile().flash.blocks) {
    if (!RegionBitsCover(pending_->regions, b.type) || !core::InRange(image->size(), b.start, b.size) ||
        !core::InRange(after.size(), b.start, b.size)) {
      continue;
    }
    std::copy_n(image->begin() + b.start, b.size, after.begin() + b.start);
  }
  return after;
}

std::string SecureFlash::Boot() {
  std::string said = "nothing pending";
  if (pending_ && pending_->kind == "capsule") {
    if (pendingImage_.size() == machine_.GetProfile().flash.size) {
      said = Apply("capsule", pendingImage_, pending_->regions, json::object());
    } else {
      machine_.RecordEffect("capsule-not-applied", {{"reason", "the pending image is lost"}});
      said = "capsule not applied: the pending image is lost";
    }
  } else if (pending_) {
    said = BootRecovery(*pending_);
  }
  if (pending_ || session_) dirty_ = true;
  pending_.reset();
  pendingImage_.clear();
  session_.reset();
  ForgetMemory();
  return said;
}

json SecureFlash::Summary() const {
  json j = {{"capable", Capable()},
            {"requireSigned", machine_.GetProfile().secureFlash.requireSigned},
            {"imageMemoryHeld", BytesHeld()},
            {"session", nullptr},
            {"pending", nullptr}};
  if (session_) {
    j["session"] = {{"type", session_->type}, {"regions", session_->regions},
                    {"regionNames", RegionBitNames(session_->regions)}};
  }
  if (pending_) {
    j["pending"] = {{"kind", pending_->kind}, {"regions", pending_->regions},
                    {"regionNames", RegionBitNames(pending_->regions)}};
    if (pending_->kind == "recovery") {
      j["pending"]["name"] = pending_->name;
      j["pending"]["directories"] = pending_->directories;
    }
  }
  return j;
}

bool SecureFlash::Load(const fs::path& dir, std::string& error) {
  std::vector<uint8_t> bytes;
  std::string why;
  // A file that is there but cannot be read is as broken as a state that does not parse.
  const auto readIfThere = [&](const fs::path& path, std::vector<uint8_t>& out) {
    out.clear();
    if (Missing(path) || ReadFile(path, out, &why)) return true;
    error = CannotRead(path, why);
    return false;
  };
  if (!readIfThere(dir / kStateFile, bytes) || !readIfThere(dir / kMemoryFile, memory_) ||
      !readIfThere(dir / kPendingFile, pendingImage_)) {
    return false;
  }
  if (Missing(dir / kStateFile)) {  // never used
    memory_.clear();
    pendingImage_.clear();
    return true;
  }
  onDisk_ = true;
  const json j = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  const auto broken = [&](const std::string& problem) {
    error = (dir / kStateFile).string() + ": " + problem;
    return false;
  };
  if (!j.is_object()) return broken("not valid JSON");
  try {
    for (const json& r : j.value("imageMemory", json::array())) {
      const uint32_t start = r.at(0).get<uint32_t>(), end = r.at(1).get<uint32_t>();
      if (start >= end || end > memory_.size() || end > Capacity()) return broken("an uploaded range lies outside image-memory.bin");
      Hold(start, end);
    }
    if (const json& s = j.value("session", json()); s.is_object()) {
      session_ = Session{s.at("type").get<uint8_t>(), s.at("regions").get<uint32_t>(),
                         s.at("headerLength").get<uint32_t>(), s.at("imageSize").get<uint32_t>()};
      if (!Uploaded(session_->headerLength, uint64_t{session_->headerLength} + session_->imageSize)) {
        return broken("the session's image is not in the image memory");
      }
    }
    if (const json& p = j.value("pending", json()); p.is_object()) {
      pending_ = Pending{p.at("kind").get<std::string>(), p.at("regions").get<uint32_t>(), p.value("name", ""),
                         p.value("directories", std::vector<std::string>{})};
    }
    if (!pending_ || pending_->kind != "capsule") pendingImage_.clear();
  } catch (const json::exception& e) {
    return broken(e.what());
  }
  return true;
}

bool SecureFlash::Save(const fs::path& dir, std::string& error) {
  if (!dirty_ && !memoryDirty_ && !pendingDirty_) return true;
  std::error_code ec;
  const bool empty = held_.empty() && !session_ && !pending_;
  if (empty && !onDisk_) {
    dirty_ = memoryDirty_ = pendingDirty_ = false;
    return true;
  }
  json held = json::array();
  for (const auto& [start, end] : held_) held.push_back({start, end});
  json j = {{"imageMemory", held}, {"session", nullptr}, {"pending", nullptr}};
  if (session_) {
    j["session"] = {{"type", session_->type}, {"regions", session_->regions},
                    {"headerLength", session_->headerLength}, {"imageSize", session_->imageSize}};
  }
  if (pending_) {
    j["pending"] = {{"kind", pending_->kind}, {"regions", pending_->regions}, {"name", pending_->name},
                    {"directories", pending_->directories}};
  }
  const std::string text = j.dump(2) + "\n";
  std::string failure;
  const auto write = [&](const char* name, std::span<const uint8_t> bytes) {
    std::string why;
    if (!WriteFile(dir / name, bytes, &why) && failure.empty()) failure = CannotWrite(dir / name, why);
  };
  write(kStateFile, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  if (memoryDirty_) {
    if (memory_.empty()) fs::remove(dir / kMemoryFile, ec);
    else write(kMemoryFile, memory_);
  }
  if (pendingDirty_ || (dirty_ && pendingImage_.empty())) {
    if (pendingImage_.empty()) fs::remove(dir / kPendingFile, ec);
    else write(kPendingFile, pendingImage_);
  }
  if (!failure.empty()) {
    error = failure;
    return false;
  }
  onDisk_ = true;
  dirty_ = memoryDirty_ = pendingDirty_ = false;
  return true;
}

}  // namespace nox::sim
