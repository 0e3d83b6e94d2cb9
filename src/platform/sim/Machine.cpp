#include "platform/sim/Machine.h"

#include "platform/sim/HostFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "core/Bytes.h"
#include "core/Format.h"
#include "platform/sim/DriverEnd.h"
#include "platform/sim/EcFlash.h"
#include "platform/sim/PartFile.h"
#include "platform/sim/RomImage.h"
#include "platform/sim/SecureFlash.h"
#include "platform/sim/Segments.h"
#include "platform/sim/SmiHandler.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProfileFile = "machine.json";
constexpr const char* kFlashFile = "flash.bin";
constexpr const char* kStateFile = "state.json";
constexpr const char* kJournalFile = "journal.jsonl";
constexpr size_t kFadtLength = 244;
constexpr uint32_t kFirstBlockPhysical = 0x7F000000;
constexpr uint32_t kFirstBlockProgram = 0xC1000000;  // top bit set: only sign extension reaches it
constexpr uint32_t kAddressStep = 0x20000;
constexpr uint32_t kAddressCycle = 1024;

// Writes what fits of `bytes` at `offset` of a segment; records near the end are cut,
// exactly as they would be in a real 64 KiB segment.
void Place(std::span<uint8_t> segment, size_t offset, std::span<const uint8_t> bytes) {
  if (offset >= segment.size()) return;
  const size_t n = std::min(bytes.size(), segment.size() - offset);
  std::memcpy(segment.data() + offset, bytes.data(), n);
}

// Profiles built in code (tests, presets edited in place) get the same checks as a file.
// The erase counters go with the blocks where they lie on the chip.
std::vector<BlockEntry> ChipBlocks(const Profile& profile) {
  std::vector<BlockEntry> blocks = profile.flash.blocks;
  for (BlockEntry& b : blocks) b.start += FirmwareBase(profile);
  return blocks;
}

bool Valid(const Profile& profile, std::string& error) {
  ProfileResult checked = ProfileFromJson(ProfileToJson(profile));
  if (!checked.profile) error = "profile: " + checked.error;
  return checked.profile.has_value();
}

}  // namespace

Machine::Machine(fs::path dir, Profile profile)
    : dir_(std::move(dir)),
      profile_(std::move(profile)),
      flash_(ChipSize(profile_), ChipBlocks(profile_)),
      journal_(dir_.empty() ? fs::path() : dir_ / kJournalFile),
      handler_(std::make_unique<SmiHandler>(*this)),
      driver_(std::make_unique<DriverEnd>(*this)),
      secure_(std::make_unique<SecureFlash>(*this)),
      ec_(std::make_unique<EcFlash>(*this)),
      exitHook_([](int code) { std::_Exit(code); }) {
  state_.stuckUsed.assign(profile_.faults.stuck.size(), 0);
  state_.bitFlipsUsed.assign(profile_.faults.bitFlips.size(), 0);
}

Machine::~Machine() {
  std::string ignored;
  Persist(ignored);
}

bool Machine::StartWriting(std::string& error) {
  if (!part_) part_ = PartFile::Open(dir_ / kFlashFile, flash_.Size(), error);
  if (!part_ || !journal_.StartAppending(error)) return false;
  // A part that lives in the mapped file needs no copy of its changes; the journal's lines
  // reach its file before the part changes again, so that a kill leaves both agreeing.
  if (part_->View().data() != flash_.Bytes().data()) {
    flash_.SetStore([this](uint32_t address, std::span<const uint8_t> bytes) { StoreFlash(address, bytes); });
  }
  flash_.SetBeforeChange([this] { journal_.WritePending(); });
  writable_ = true;
  return true;
}

void Machine::StoreFlash(uint32_t address, std::span<const uint8_t> bytes) {
  std::string why;
  if (!part_ || part_->Write(address, bytes, why)) return;
  // The part in memory goes on as a real one would; the run is told at its end.
  NoteSaveFailure(CannotWrite(dir_ / kFlashFile, why));
  part_.reset();
}

void Machine::StoreEcFlash() {
  std::string error;
  if (writable_ && !ec_->Save(dir_, error)) NoteSaveFailure(error);
}

std::unique_ptr<Machine> Machine::InMemory(const Profile& profile, std::string& error) {
  if (!Valid(profile, error)) return nullptr;
  RomResult rom = BuildChipImage(profile, RunningRomOptions(profile));
  if (!rom.error.empty()) {
    error = rom.error;
    return nullptr;
  }
  std::unique_ptr<Machine> m(new Machine(fs::path(), profile));
  m->flash_.Load(rom.image);
  m->ec_->Load({}, error);
  m->BuildSegments();
  return m;
}

std::unique_ptr<Machine> Machine::Create(const fs::path& dir, const Profile& profile, std::string& error,
                                         const MachineLock::WhenBusy& whenBusy) {
  if (!Valid(profile, error)) return nullptr;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    error = dir.string() + ": " + ec.message();
    return nullptr;
  }
  std::unique_ptr<MachineLock> lock = MachineLock::Take(dir, MachineLock::Kind::kExclusive, whenBusy, error);
  if (!lock) return nullptr;
  if (!Missing(dir / kProfileFile)) {
    error = dir.string() + ": holds a machine already";
    return nullptr;
  }
  RomResult rom = BuildChipImage(profile, RunningRomOptions(profile));
  if (!rom.error.empty()) {
    error = "running image: " + rom.error;
    return nullptr;
  }
  std::string why;
  const std::string text = ProfileToJson(profile).dump(2) + "\n";
  if (!WriteFile(dir / kProfileFile, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, &why)) {
    error = CannotWrite(dir / kProfileFile, why);
    return nullptr;
  }
  if (!WriteFile(dir / kFlashFile, rom.image, &why)) {
    error = CannotWrite(dir / kFlashFile, why);
    return nullptr;
  }
  fs::remove(dir / kJournalFile, ec);
  fs::remove(dir / "ec.bin", ec);
  std::unique_ptr<Machine> m(new Machine(dir, profile));
  m->lock_ = std::move(lock);
  m->flash_.Load(rom.image);
  if (!m->ec_->Load(dir, error) || !m->StartWriting(error)) return nullptr;
  m->BuildSegments();
  m->state_.bootDigests = NoteAtPowerOn(profile, m->FirmwarePart(), {});
  m->journal_.RecordEvent(0, 0, "create", {{"preset", profile.name}, {"version", profile.identity.version}});
  if (!m->Persist(error)) return nullptr;
  return m;
}

std::unique_ptr<Machine> Machine::Open(const fs::path& dir, std::string& error, Access access,
                                       const MachineLock::WhenBusy& whenBusy) {
  const bool change = access == Access::kChange;
  std::unique_ptr<MachineLock> lock =
      MachineLock::Take(dir, change ? MachineLock::Kind::kExclusive : MachineLock::Kind::kShared, whenBusy, error);
  if (!lock) return nullptr;
  if (const std::string why = change ? NotWritableDirectory(dir) : std::string(); !why.empty()) {
    error = CannotWrite(dir, why);
    return nullptr;
  }
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadFile(dir / kProfileFile, bytes, &why)) {
    error = CannotRead(dir / kProfileFile, why) + (Missing(dir / kProfileFile) ? " (is this a machine directory?)" : "");
    return nullptr;
  }
  const nlohmann::json json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (json.is_discarded()) {
    error = (dir / kProfileFile).string() + ": not valid JSON";
    return nullptr;
  }
  ProfileResult parsed = ProfileFromJson(json);
  if (!parsed.profile) {
    error = (dir / kProfileFile).string() + ": " + parsed.error;
    return nullptr;
  }
  // Nothing is written back over a machine that does not open whole: it stays as it was.
  std::unique_ptr<Machine> m(new Machine(dir, *parsed.profile));
  m->lock_ = std::move(lock);
  // A machine opened to change it works on flash.bin mapped, when it can be and is the right
  // size: nothing is read or copied. Anything else is read and told as it is found.
  std::error_code sizeError;
  if (change && fs::is_regular_file(dir / kFlashFile, sizeError) &&
      fs::file_size(dir / kFlashFile, sizeError) == m->flash_.Size() && !sizeError) {
    std::string ignored;
    m->part_ = PartFile::Open(dir / kFlashFile, m->flash_.Size(), ignored);
    if (m->part_ && !m->flash_.Adopt(m->part_->View())) m->part_.reset();
  }
  if (!m->part_ && !ReadFile(dir / kFlashFile, bytes, &why)) {
    error = CannotRead(dir / kFlashFile, why);
    return nullptr;
  }
  if (!m->part_ && !m->flash_.Load(bytes)) {
    error = (dir / kFlashFile).string() + ": " + std::to_string(bytes.size()) + " bytes, but " +
            (m->profile_.me.present ? "me.span + flash.size is " : "flash.size is ") + std::to_string(ChipSize(m->profile_));
    return nullptr;
  }
  if (why = NotAFile(dir / kJournalFile, true); !why.empty()) {
    error = CannotRead(dir / kJournalFile, why);
    return nullptr;
  }
  if (!m->LoadState(error) || !m->secure_->Load(dir, error) || !m->ec_->Load(dir, error)) return nullptr;
  if (change && !m->StartWriting(error)) return nullptr;
  m->BuildSegments();
  return m;
}

bool Machine::LoadState(std::string& error) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (Missing(dir_ / kStateFile)) return true;  // a fresh machine
  if (!ReadFile(dir_ / kStateFile, bytes, &why)) {
    error = CannotRead(dir_ / kStateFile, why);
    return false;
  }
  savedState_.assign(bytes.begin(), bytes.end());
  const nlohmann::json j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = (dir_ / kStateFile).string() + ": not valid JSON";
    return false;
  }
  try {
    state_.smiCount = j.value("smiCount", uint64_t{0});
    state_.clockMs = j.value("clockMs", uint64_t{0});
    state_.refreshCount = j.value("refreshCount", uint32_t{0});
    state_.ofbdPasswordFailures = j.value("ofbdPasswordFailures", uint32_t{0});
    state_.down = j.value("down", std::string());
    auto used = j.value("stuckUsed", std::vector<uint32_t>{});
    used.resize(profile_.faults.stuck.size(), 0);
    state_.stuckUsed = used;
    used = j.value("bitFlipsUsed", std::vector<uint32_t>{});
    used.resize(profile_.faults.bitFlips.size(), 0);
    state_.bitFlipsUsed = used;
    flash_.SetEraseCounts(j.value("eraseCounts", std::vector<uint32_t>{}));
    if (const auto d = j.find("bootDigests"); d != j.end() && d->is_array()) {
      for (const auto& digest : *d) {
        // A digest that is not hexadecimal text was never noted by a boot.
        std::optional<uint64_t> noted;
        if (digest.is_string()) {
          const std::string text = digest.get<std::string>();
          char* end = nullptr;
          const uint64_t value = std::strtoull(text.c_str(), &end, 16);
          if (!text.empty() && end == text.c_str() + text.size()) noted = value;
        }
        state_.bootDigests.push_back(noted);
      }
    }
    if (const auto w = j.find("meUnlocked"); w != j.end() && w->is_object()) {
      state_.meWindow = MeWindow{w->at("selector").get<uint8_t>(), w->at("start").get<uint32_t>(), w->at("end").get<uint32_t>()};
    }
  } catch (const nlohmann::json::exception& e) {
    error = (dir_ / kStateFile).string() + ": " + e.what();
    return false;
  }
  return true;
}

bool Machine::Persist(std::string& error) {
  if (!writable_) return true;
  journal_.WritePending();
  // The first failure is the one told: later ones usually share its cause.
  std::string failure = saveFailure_.empty() ? journal_.WriteError() : saveFailure_;
  const auto failed = [&](const std::string& what) {
    if (failure.empty()) failure = what;
  };
  nlohmann::json state = {{"smiCount", state_.smiCount},
                                {"clockMs", state_.clockMs},
                                {"refreshCount", state_.refreshCount},
                                {"ofbdPasswordFailures", state_.ofbdPasswordFailures},
                                {"stuckUsed", state_.stuckUsed},
                                {"bitFlipsUsed", state_.bitFlipsUsed},
                                {"eraseCounts", flash_.EraseCounts()}};
  if (!state_.down.empty()) state["down"] = state_.down;
  nlohmann::json digests = nlohmann::json::array();
  for (const auto& d : state_.bootDigests) digests.push_back(d ? nlohmann::json(core::Format("%016llx", static_cast<unsigned long long>(*d))) : nlohmann::json());
  state["bootDigests"] = digests;
  if (state_.meWindow) {
    state["meUnlocked"] = {{"selector", state_.meWindow->selector}, {"start", state_.meWindow->start}, {"end", state_.meWindow->end}};
  }
  const std::string text = state.dump(2) + "\n";
  std::string why;
  if (text == savedState_ || WriteFile(dir_ / kStateFile, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, &why)) {
    savedState_ = text;
  } else {
    failed(CannotWrite(dir_ / kStateFile, why));
  }
  std::string saveError;
  if (!secure_->Save(dir_, saveError)) failed(saveError);
  if (!ec_->Save(dir_, saveError)) failed(saveError);
  if (profileChanged_) {
    const std::string profile = ProfileToJson(profile_).dump(2) + "\n";
    if (WriteFile(dir_ / kProfileFile, {reinterpret_cast<const uint8_t*>(profile.data()), profile.size()}, &why)) {
      profileChanged_ = false;
    } else {
      failed(CannotWrite(dir_ / kProfileFile, why));
    }
  }
  if (failure.empty()) return true;
  error = failure;
  return false;
}

bool Machine::PersistAtExit() {
  std::string error;
  if (Persist(error)) return true;
  std::fprintf(stderr, "the simulated machine in %s could not be saved: %s\n", dir_.string().c_str(), error.c_str());
  std::fflush(stderr);
  return false;
}

std::span<const uint8_t> Machine::FirmwarePart() const {
  return flash_.Bytes().subspan(FirmwareBase(profile_), profile_.flash.size);
}

void Machine::BuildSegments() {
  segments_.fill(0);
  for (const SegmentRecord& r : SegmentRecords(profile_, handler_->PlatformFlags())) {
    Place(r.segment == SegmentId::E ? ESegment() : FSegment(), r.offset, r.bytes);
  }
}

void Machine::WriteEcb1(uint16_t flags) {
  std::vector<uint8_t> rec(6, 0);
  std::memcpy(rec.data(), "ECB1", 4);
  core::StoreLe16(rec.data() + 4, flags);
  Place(ESegment(), profile_.ecb1.offset, rec);
}

bool Machine::AllocateSharedBlock(uint32_t size) {
  if (!sharedBlock_.empty() || size == 0) return false;
  // Addresses move on with every allocation and come round again only after many, so a
  // utility that keeps the address of a block it released no longer reaches a block.
  const uint32_t turn = allocations_++ % kAddressCycle;
  blockPhysical_ = kFirstBlockPhysical + turn * kAddressStep;
  blockProgram_ = kFirstBlockProgram + turn * kAddressStep;
  std::erase(released_, blockPhysical_);
  // Fresh memory is not zero on a real machine either; the utility must clear it.
  sharedBlock_.assign(size, 0xCC);
  return true;
}

void Machine::ReleaseSharedBlock() {
  if (sharedBlock_.empty()) return;
  released_.push_back(blockPhysical_);
  sharedBlock_.clear();
  sharedBlock_.shrink_to_fit();
}

void Machine::NoteMapping(uint32_t physical, uint32_t length) {
  if (!profile_.asf.present) return;
  const uint64_t record = uint64_t{kSegmentBase} + 0x10000 + profile_.asf.offset;
  if (physical <= record && record < uint64_t{physical} + length) ++asfRecordMaps_;
}

// The utility learns the slot when it searches the F segment for "$ASF": on its first look
// when the FADT names no port; otherwise the probe takes the FADT's port without searching,
// and only opening the firmware, which maps the segment again, finds the slot. The count
// lives with this machine object, that is for one run of the utility.
bool Machine::SlotInForce() const {
  if (!profile_.asf.present) return false;
  const bool fadtNamesPort = profile_.fadt.present && profile_.fadt.smiCmd != 0;
  return asfRecordMaps_ >= (fadtNamesPort ? 2u : 1u);
}

// A secure-flash OFBD block ('p', class 64) is raised through the slot like the flash
// commands; every other OFBD block goes to the port directly.
bool Machine::SecureFlashBlockAt(uint32_t physical) const {
  if (sharedBlock_.empty() || physical != blockPhysical_ || sharedBlock_.size() < 22) return false;
  return std::memcmp(sharedBlock_.data(), "OFBD", 4) == 0 && core::LoadLe32(sharedBlock_.data() + 8) == 64 &&
         sharedBlock_[18] == 'p';
}

const char* Machine::Misplaced(uint32_t announced, bool inSlot) const {
  if (sharedBlock_.empty()) return "no shared block is allocated";
  if (announced == blockPhysical_) return nullptr;
  if (inSlot && announced == 0) return "address slot is zero: the shared block's address was not published";
  const bool stale = std::find(released_.begin(), released_.end(), announced) != released_.end();
  if (inSlot) {
    return stale ? "address slot holds a released shared block's address"
                 : "address slot does not hold the shared block's address";
  }
  return stale ? "EBX holds a released shared block's address" : "EBX does not hold the shared block's address";
}

std::vector<uint8_t> Machine::FadtTable() const {
  if (!profile_.fadt.present) return {};
  std::vector<uint8_t> t(kFadtLength, 0);
  std::memcpy(t.data(), "FACP", 4);
  core::StoreLe32(t.data() + 4, kFadtLength);
  t[8] = 5;  // revision
  std::memcpy(t.data() + 10, "KORV  ", 6);
  std::memcpy(t.data() + 16, "NOXSIM  ", 8);
  core::StoreLe32(t.data() + 48, profile_.fadt.smiCmd);
  t[52] = 0xF0;  // ACPI_ENABLE
  t[53] = 0xF1;  // ACPI_DISABLE
  t[9] = static_cast<uint8_t>(0x100 - core::Sum8(t));
  return t;
}

void Machine::Pause(uint64_t ms) {
  journal_.RecordEvent(state_.smiCount, state_.clockMs, "pause", {{"ms", ms}});
  Advance(ms);
}

void Machine::RecordEffect(std::string_view what, const nlohmann::json& detail) {
  journal_.RecordEvent(state_.smiCount, state_.clockMs, what, detail);
}

void Machine::PortWrite(uint16_t port, uint8_t value, uint32_t ebx) {
  if (port != HandlerPort(profile_)) {
    journal_.RecordEvent(state_.smiCount, state_.clockMs, "port-write", {{"port", port}, {"value", value}});
    return;
  }
  // Where the firmware has a slot and the utility knows it, the slot is where the utility
  // must announce the block for every command it raises through it; enable, the other OFBD
  // blocks and the commands of the probe before the slot is known go by EBX alone.
  const bool viaSlot = SlotInForce() && value != smi::kEnable && (value != smi::kOfbd || SecureFlashBlockAt(ebx));
  const uint32_t announced =
      viaSlot ? core::LoadLe32(FSegment().data() + profile_.asf.offset + profile_.asf.slotDistance) : ebx;
  if (const char* misuse = Misplaced(announced, viaSlot)) {
    handler_->RunWithoutBlock(value, misuse);
    return;
  }
  handler_->Run(value, sharedBlock_, blockPhysical_);
}

void Machine::AfterSmi() {
  const uint64_t k = profile_.faults.powerLossAfterSmi;
  if (k == 0 || state_.smiCount != k) return;
  nlohmann::json detail = {{"afterSmi", k}};
  if (secure_->BytesHeld() != 0 || secure_->SessionOpen()) {
    detail["imageMemoryLost"] = secure_->BytesHeld();
    detail["sessionLost"] = secure_->SessionOpen();
  }
  if (state_.meWindow) detail["meLocked"] = true;
  secure_->PowerLost();
  state_.meWindow.reset();
  ec_->Forget();
  // The power comes back before anything runs on the machine again, and it comes back as a
  // power-on: an armed update is applied then and the firmware starts from what the part holds.
  state_.down = "power-loss";
  journal_.RecordEvent(state_.smiCount, state_.clockMs, "power-loss", detail);
  PersistAtExit();
  exitHook_(kPowerLossExitCode);
}

void Machine::SetUtilityPaths(const fs::path& program, const fs::path& workingDirectory) {
  secure_->SetUtilityPaths(program, workingDirectory);
}

void Machine::GoDown(std::string_view event) {
  state_.down = std::string(event);
  const nlohmann::json pending = secure_->Summary()["pending"];
  journal_.RecordEvent(state_.smiCount, state_.clockMs, event,
                       {{"machine", "down"}, {"pending", pending.is_object() ? pending["kind"] : nlohmann::json()}});
}

std::string Machine::Boot() {
  journal_.RecordEvent(state_.smiCount, state_.clockMs, "boot", {{"after", state_.down.empty() ? "reboot" : state_.down}});
  state_.down.clear();
  state_.meWindow.reset();
  ec_->Forget();
  const std::string applied = secure_->Boot();
  const Verdict booted = JudgePart(profile_, FirmwarePart(), state_.bootDigests).verdict;
  state_.bootDigests = NoteAtPowerOn(profile_, FirmwarePart(), state_.bootDigests);
  // The firmware now running is whatever the part holds, when it holds firmware that starts.
  // A part that does not start or falls back to its boot block's recovery runs no identity of
  // its own (the machine that still runs the utility then stands for a repair bench), nor
  // does one without a readable identity file: they leave the machine as it was.
  const bool starts = booted == Verdict::kOld || booted == Verdict::kNew;
  if (const std::optional<ImageIdentity> id = starts ? ReadImageIdentity(FirmwarePart()) : std::nullopt) {
    Profile next = profile_;
    next.identity.version = id->version;
    next.identity.systemId = id->systemId;
    next.identity.extendedId = id->extendedId;
    next.identity.extensionIds = id->extensionIds;
    next.identity.names = id->names;
    std::string invalid;
    if (ProfileToJson(next) != ProfileToJson(profile_) && Valid(next, invalid)) {
      profile_ = std::move(next);
      profileChanged_ = true;
      BuildSegments();
      journal_.RecordEvent(state_.smiCount, state_.clockMs, "identity", {{"version", profile_.identity.version}});
    }
  }
  return applied;
}

BootOutlook Machine::NextBoot() const {
  const std::optional<std::vector<uint8_t>> updated = secure_->PartAfterBoot(FirmwarePart());
  return JudgePart(profile_, updated ? std::span<const uint8_t>(*updated) : FirmwarePart(), state_.bootDigests);
}

}  // namespace nox::sim
