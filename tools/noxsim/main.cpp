// noxsim: makes and inspects simulated machines (a directory each) and ROM images for them.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Common.h"
#include "Images.h"
#include "core/Format.h"
#include "platform/sim/EcFlash.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Presets.h"
#include "platform/sim/Regions.h"
#include "platform/sim/RomImage.h"
#include "platform/sim/SecureFlash.h"
#include "platform/sim/Sha256.h"
#include "platform/sim/SmiHandler.h"

namespace {

using namespace nox::sim;
using namespace noxsim;
using nox::core::Format;
namespace fs = std::filesystem;

const char* BlockTypeName(uint8_t type) {
  switch (type) {
    case 0: return "boot block";
    case 1: return "main BIOS";
    case 2: return "NVRAM";
    case 3: return "EC";
    default: return type >= 0x80 ? "NCB" : "other";
  }
}

// --- create / set ---------------------------------------------------------------------

int Create(const std::string& dir, const std::string& preset, const std::vector<std::string>& sets) {
  std::optional<Profile> base = MakePreset(preset);
  if (!base) {
    std::string names;
    for (const std::string& n : PresetNames()) names += " " + n;
    return Failed("unknown preset \"" + preset + "\"; known:" + names);
  }
  nlohmann::json json = ProfileToJson(*base);
  for (const std::string& s : sets) {
    const std::string problem = ApplySetting(json, s);
    if (!problem.empty()) return Failed("--set " + problem);
  }
  ProfileResult profile = ProfileFromJson(json);
  if (!profile.profile) return Failed("--set: " + profile.error);
  std::string error;
  auto machine = Machine::Create(dir, *profile.profile, error, [&] { return SayWaiting(dir); });
  if (!machine) return Failed(error);
  std::cout << "created " << dir << " (" << preset << ", running " << profile.profile->identity.version << ")\n";
  return kExitOk;
}

int Set(const std::string& dir, const std::vector<std::string>& sets) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kChange);
  if (!machine) return Failed(error);
  nlohmann::json json = ProfileToJson(machine->GetProfile());
  for (const std::string& s : sets) {
    const std::string problem = ApplySetting(json, s);
    if (!problem.empty()) return Failed(problem);
  }
  ProfileResult profile = ProfileFromJson(json);
  if (!profile.profile) return Failed(profile.error);
  const Profile& was = machine->GetProfile();
  if (profile.profile->flash.size != was.flash.size || ChipSize(*profile.profile) != ChipSize(was)) {
    return Failed("flash.size, me.present and me.span cannot change on an existing machine; create a new one");
  }
  if (profile.profile->ecFlash.present && was.ecFlash.present && profile.profile->ecFlash.size != was.ecFlash.size) {
    return Failed("ecFlash.size cannot change on an existing machine; create a new one");
  }
  machine->RecordEffect("profile-changed", {{"settings", sets}});
  if (!machine->Persist(error)) return Failed(error);
  // Still holding the machine: nobody opens it between the state and its new profile.
  const std::string text = ProfileToJson(*profile.profile).dump(2) + "\n";
  std::string why;
  const fs::path file = fs::path(dir) / "machine.json";
  if (!WriteFile(file, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, &why)) return Failed(CannotWrite(file, why));
  return kExitOk;
}

// --- show -----------------------------------------------------------------------------

std::string FaultSummary(const FaultProfile& f) {
  std::string s;
  if (f.writeProtected) s += " write-protected;";
  for (const StuckFault& x : f.stuck) {
    s += Format(" status stays 255 for %u attempts", x.attempts);
    if (x.fromSmi) s += Format(" from SMI %u", x.fromSmi);
    if (x.address) s += Format(" at 0x%X", *x.address);
    s += ";";
  }
  for (const RangeFault& x : f.fail) {
    s += Format(" %s fails at 0x%X+0x%X;", x.op == FlashOp::Read ? "read" : x.op == FlashOp::Erase ? "erase" : "write",
                x.start, x.length);
  }
  for (const BitFlipFault& x : f.bitFlips) {
    s += Format(" bit flips (mask 0x%02X) on the first %u writes at 0x%X+0x%X;", x.mask, x.writes, x.start, x.length);
  }
  if (f.powerLossAfterSmi) s += Format(" power loss after SMI %llu;", static_cast<unsigned long long>(f.powerLossAfterSmi));
  return s.empty() ? " none" : s;
}

std::string SecureSummary(const nlohmann::json& s) {
  if (!s.value("capable", false)) return " not capable";
  std::string text = s.value("requireSigned", false) ? " capable, signed images only" : " capable";
  text += Format("; image memory %llu bytes held", static_cast<unsigned long long>(s.value("imageMemoryHeld", 0ull)));
  const nlohmann::json& session = s["session"];
  text += session.is_object() ? Format("; session open (type %d, %s)", session.value("type", 0),
                                       session.value("regionNames", std::string()).c_str())
                              : std::string("; no session");
  const nlohmann::json& pending = s["pending"];
  if (!pending.is_object()) return text + "; nothing pending";
  text += "; pending " + pending.value("kind", std::string()) + " (" + pending.value("regionNames", std::string()) + ")";
  if (pending.contains("name")) text += " from \"" + pending.value("name", std::string()) + "\"";
  return text;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  for (uint8_t b : bytes) s += Format("%02x", b);
  return s;
}

nlohmann::json MeJson(const Profile& p, const MachineState& st) {
  nlohmann::json j = {{"present", p.me.present}, {"span", p.me.span}, {"regionStart", p.me.regionStart},
                      {"regionSize", p.me.regionSize}, {"unlocked", nullptr}};
  if (st.meWindow) j["unlocked"] = {{"selector", st.meWindow->selector}, {"start", st.meWindow->start}, {"end", st.meWindow->end}};
  return j;
}

nlohmann::json EcFlashJson(const Machine& m) {
  const auto contents = m.Ec().Contents();
  if (!m.GetProfile().ecFlash.present) return nullptr;
  return {{"size", contents.size()}, {"sha256", Hex(Sha256::Of(contents))},
          {"head", Hex(contents.first(std::min<size_t>(16, contents.size())))}};
}

nlohmann::json VerdictJson(const BootOutlook& o) {
  return {{"verdict", VerdictName(o.verdict)}, {"bootBlock", HealthName(o.bootBlock)}, {"mainBios", HealthName(o.mainBios)}};
}

// What the next power-on would boot; any verdict is a successful answer.
int ShowVerdict(const std::string& dir, bool asJson) {
  std::string error;
  auto machine = Machine::Open(dir, error);
  if (!machine) return Failed(error);
  const BootOutlook o = machine->NextBoot();
  if (asJson) {
    std::cout << VerdictJson(o).dump(2) << "\n";
  } else {
    std::cout << Format("%s (boot block %s, main BIOS %s)\n", VerdictSentence(o.verdict), HealthName(o.bootBlock),
                        HealthName(o.mainBios));
  }
  return kExitOk;
}

int Show(const std::string& dir, bool asJson) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  const Profile& p = machine->GetProfile();
  const MachineState& st = machine->State();
  const auto& erases = machine->Flash().EraseCounts();
  const nlohmann::json secure = machine->Secure().Summary();
  if (asJson) {
    nlohmann::json j = {{"profile", ProfileToJson(p)},
                        {"state", {{"smiCount", st.smiCount}, {"clockMs", st.clockMs},
                                   {"refreshCount", st.refreshCount}, {"eraseCounts", erases}}},
                        {"secureFlash", secure},
                        {"me", MeJson(p, st)},
                        {"ecFlash", EcFlashJson(*machine)},
                        {"machine", machine->Down() ? "down" : "running"},
                        {"verdict", VerdictJson(machine->NextBoot())}};
    std::cout << j.dump(2) << "\n";
    return kExitOk;
  }
  std::cout << Format("machine    %s (%s, %s)\n", dir.c_str(), p.name.c_str(), p.uefi ? "UEFI" : "legacy BIOS");
  std::cout << Format("flash      %u KiB", p.flash.size / 1024);
  if (p.flash.base != 0) std::cout << Format(" (firmware from 0x%X)", p.flash.base);
  if (p.me.present) std::cout << Format(" (from chip address 0x%X of %u KiB)", p.me.span, ChipSize(p) / 1024);
  std::cout << Format(", reply version %u, refusal marker %u, enable answers %u\n", p.flash.replyVersion,
                      p.flash.refusalMarker, p.enableAnswer);
  std::string names;
  for (const std::string& n : p.identity.names) names += (names.empty() ? "\"" : ", \"") + n + "\"";
  std::cout << Format("identity   %s, system ID 0x%02X, extended ID 0x%04X, names %s (%s)\n",
                      p.identity.version.c_str(), p.identity.systemId, p.identity.extendedId, names.c_str(),
                      p.identity.placement == IdentityPlacement::Oem ? "OEM call 99/15" : "F segment");
  std::cout << Format("SMI port   0x%X", HandlerPort(p));
  if (p.fadt.present) std::cout << Format(", FADT 0x%X", p.fadt.smiCmd);
  if (p.asf.present) std::cout << Format(", $ASF 0x%X (slot +%u)", p.asf.port, p.asf.slotDistance);
  std::cout << Format(", OFBD version 0x%X\n", p.ofbdVersion);
  if (p.ecb.present) std::cout << Format("$ECB       flags 0x%02X, EC block 0x%X+0x%X\n", p.ecb.flags, p.ecb.ecBlockStart, p.ecb.ecBlockSize);
  if (p.me.present) {
    std::cout << Format("ME         descriptor 0x000000-0x%06X, ME region 0x%06X-0x%06X, span 0x%X; answers %s", p.me.regionStart - 1,
                        p.me.regionStart, p.me.regionStart + p.me.regionSize - 1, p.me.span,
                        p.me.ignition && p.me.entire ? "ignition and entire" : p.me.ignition ? "ignition" : p.me.entire ? "entire" : "nothing");
    std::cout << (st.meWindow ? Format("; unlocked 0x%06X-0x%06X (%s)\n", st.meWindow->start, st.meWindow->end - 1,
                                       st.meWindow->selector == 1 ? "ignition" : "entire")
                              : std::string("; locked\n"));
  }
  if (const nlohmann::json ec = EcFlashJson(*machine); ec.is_object()) {
    const unsigned size = ec.value("size", 0u);
    std::cout << Format("EC flash   %s (ec.bin), SHA-256 %s..., starts %s\n",
                        size % 1024 == 0 ? Format("%u KiB", size / 1024).c_str() : Format("%u bytes", size).c_str(),
                        ec.value("sha256", std::string()).substr(0, 16).c_str(), ec.value("head", std::string()).c_str());
  }
  std::cout << Format("status     flags 0x%04X now (%u refreshes)\n", machine->Handler().PlatformFlags(), st.refreshCount);
  std::cout << "blocks\n";
  for (size_t i = 0; i < p.flash.blocks.size(); ++i) {
    const BlockEntry& b = p.flash.blocks[i];
    std::cout << Format("  0x%06X  0x%06X  %-10s 0x%02X  erased %u\n", b.start, b.size, BlockTypeName(b.type),
                        b.type, i < erases.size() ? erases[i] : 0);
  }
  std::cout << Format("state      %llu SMIs, clock %llu ms\n", static_cast<unsigned long long>(st.smiCount),
                      static_cast<unsigned long long>(st.clockMs));
  std::cout << "faults    " << FaultSummary(p.faults) << "\n";
  std::cout << "secure    " << SecureSummary(secure) << "\n";
  std::cout << "power      " << (machine->Down() ? "down until the next boot (noxsim reboot)" : "running") << "\n";
  return kExitOk;
}

// --- dump / diff ----------------------------------------------------------------------

int Dump(const std::string& dir, const std::string& output) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  if (!WriteBytes(output, machine->Flash().Bytes(), error)) return Failed(error);
  return kExitOk;
}

// A stretch of the image compared with the part: its offset in the image, where it lies in
// the part, and its name.
struct DiffRow {
  std::string name;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t onPart = 0;
};

// What an image of `imageSize` bytes is compared with: an image of the block table's part
// region by region; on a machine with an ME region also a full-chip image (the descriptor and
// the ME region first) and a bare ME region image.
std::optional<std::vector<DiffRow>> DiffRows(const Profile& p, size_t imageSize) {
  std::vector<DiffRow> rows;
  const uint32_t base = FirmwareBase(p);
  const MeProfile& me = p.me;
  if (me.present && imageSize == me.regionSize) return std::vector<DiffRow>{{"ME region", 0, me.regionSize, me.regionStart}};
  const bool chip = me.present && imageSize == ChipSize(p);
  if (!chip && imageSize != p.flash.size) return std::nullopt;
  if (chip) {
    rows.push_back({"descriptor", 0, me.regionStart, 0});
    rows.push_back({"ME region", me.regionStart, me.regionSize, me.regionStart});
    const uint32_t meEnd = me.regionStart + me.regionSize;
    if (meEnd < me.span) rows.push_back({"other", meEnd, me.span - meEnd, meEnd});
  }
  std::vector<Region> regions = RegionsOf(p.flash.blocks);
  std::sort(regions.begin(), regions.end(), [](const Region& a, const Region& b) { return a.start < b.start; });
  for (const Region& r : regions) rows.push_back({RegionName(r.type), r.start + (chip ? base : 0), r.size, r.start + base});
  return rows;
}

// The differing ranges of each row, by offset in the image. Where the image has ROM holes, an
// update keeps the machine's own bytes: differences there are told apart from the rest.
bool PrintDifferences(const std::vector<DiffRow>& rows, std::span<const uint8_t> rom, std::span<const uint8_t> part) {
  std::vector<bool> inHole(rom.size(), false);
  for (const RomHole& h : FindRomHoles(rom)) std::fill_n(inHole.begin() + h.start, h.size, true);
  bool different = false;
  for (const DiffRow& row : rows) {
    const uint32_t end = row.offset + row.size;
    const auto same = [&](uint32_t a) { return part[row.onPart + (a - row.offset)] == rom[a]; };
    struct Change { uint32_t start, end; bool hole; };
    std::vector<Change> changed;
    for (uint32_t a = row.offset; a < end;) {
      if (same(a)) { ++a; continue; }
      // Differences closer than this are shown as one range: two images of random filler
      // coincide in a byte here and there, and a list of every such run says nothing.
      constexpr uint32_t kJoinGap = 16;
      uint32_t last = a, e = a + 1;
      for (; e < end && e - last <= kJoinGap && inHole[e] == inHole[a]; ++e) {
        if (!same(e)) last = e;
      }
      changed.push_back({a, last + 1, inHole[a]});
      a = e;
    }
    std::cout << Format("%-14s 0x%06X-0x%06X  ", row.name.c_str(), row.offset, end - 1);
    if (changed.empty()) {
      std::cout << "equal\n";
      continue;
    }
    different = true;
    std::cout << "changed:";
    for (size_t i = 0; i < changed.size() && i < 8; ++i) {
      std::cout << Format(" 0x%06X-0x%06X%s", changed[i].start, changed[i].end - 1, changed[i].hole ? " (ROM hole)" : "");
    }
    if (changed.size() > 8) std::cout << Format(" and %u more ranges", static_cast<unsigned>(changed.size() - 8));
    std::cout << "\n";
  }
  return different;
}

int Diff(const std::string& dir, const std::string& romPath, bool ec) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  std::vector<uint8_t> rom;
  if (!ReadBytes(romPath, rom, error)) return Failed(error);
  const Profile& p = machine->GetProfile();
  if (ec) {
    const auto contents = machine->Ec().Contents();
    if (!p.ecFlash.present) return Failed("this machine's EC has no flash of its own (ecFlash.present is false)");
    if (rom.empty() || rom.size() > contents.size()) {
      return Failed(Format("%s: %u bytes, the EC flash has %u", romPath.c_str(), static_cast<unsigned>(rom.size()),
                           static_cast<unsigned>(contents.size())));
    }
    return PrintDifferences({{"EC flash", 0, static_cast<uint32_t>(rom.size()), 0}}, rom, contents) ? kExitDifferent : kExitOk;
  }
  const std::optional<std::vector<DiffRow>> rows = DiffRows(p, rom.size());
  if (!rows) {
    std::string sizes = Format("%u", p.flash.size);
    if (p.me.present) sizes += Format(" (the firmware's part), %u (the chip) or %u (the ME region)", ChipSize(p), p.me.regionSize);
    return Failed(Format("%s: %u bytes, the flash part has %s", romPath.c_str(), static_cast<unsigned>(rom.size()), sizes.c_str()));
  }
  return PrintDifferences(*rows, rom, machine->Flash().Bytes()) ? kExitDifferent : kExitOk;
}

// --- trace / reboot -------------------------------------------------------------------

std::string FormattedTraceLine(const nlohmann::json& e);

std::string TraceLine(const nlohmann::json& e) {
  // A hand-edited line with fields of another kind is shown as it stands rather than ending
  // the listing.
  if (!e.is_object()) return "?  " + e.dump();
  try {
    return FormattedTraceLine(e);
  } catch (const nlohmann::json::exception&) {
    return "?  " + e.dump();
  }
}

std::string FormattedTraceLine(const nlohmann::json& e) {
  std::string line = Format("#%-6llu %8llu ms  ", e.value("n", 0ull), e.value("t", 0ull));
  if (e.contains("request")) {
    // Secure-flash requests by what they ask rather than by the OFBD block's class and type.
    line += Format("%-11s", ("secure " + e.value("request", std::string("?"))).c_str());
    if (e.contains("offset")) line += Format(" offset 0x%X len %u", e.value("offset", 0u), e.value("length", 0u));
    if (e.contains("status")) line += Format(" status %d", e.value("status", -1));
  } else if (e.contains("smi") && !e.contains("misuse") && (e.value("class", 0u) == 0x04000000u || e.value("class", 0u) == 0x08000000u)) {
    // ME region and EC transfer requests by what they ask.
    static const char* const kMe[] = {"query", "begin", "end"};
    const unsigned selector = e.value("selector", 0u), sub = e.value("subFunction", 0u);
    line += e.value("class", 0u) == 0x04000000u
                ? Format("%-11s", (std::string("me ") + kMe[selector % 3] + (selector < 3 ? " ign" : " ent")).c_str())
                : Format("%-11s", (std::string("ec ") + (sub == 1 ? "begin" : sub == 2 ? "data" : "end")).c_str());
    if (sub == 2) line += Format(" len %u", e.value("length", 0u));
    if (e.contains("status")) line += Format(" status %d", e.value("status", -1));
  } else if (e.contains("smi")) {
    line += Format("%-11s", e.value("op", std::string("?")).c_str());
    if (e.contains("addr")) line += Format(" 0x%08X len %u", e.value("addr", 0u), e.value("len", 0u));
    if (e.contains("status")) line += Format(" status %d", e.value("status", -1));
  } else {
    line += e.value("event", std::string("?"));
  }
  for (auto it = e.begin(); it != e.end(); ++it) {
    static const char* shown[] = {"n", "t", "smi", "op", "addr", "len", "status", "event", "request", "offset",
                                  "length", "class", "type", "subFunction", "flags"};
    if (std::find_if(std::begin(shown), std::end(shown), [&](const char* k) { return it.key() == k; }) != std::end(shown)) continue;
    line += " " + it.key() + "=" + (it.value().is_string() ? it.value().get<std::string>() : it.value().dump());
  }
  return line;
}

int Trace(const std::string& dir, size_t tail) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  const auto entries = machine->GetJournal().Entries();
  const size_t first = (tail != 0 && entries.size() > tail) ? entries.size() - tail : 0;
  for (size_t i = first; i < entries.size(); ++i) std::cout << TraceLine(entries[i]) << "\n";
  return kExitOk;
}

std::string Amount(uint64_t bytes) {
  return bytes % 1024 == 0 ? Format("%llu KiB", static_cast<unsigned long long>(bytes / 1024))
                           : Format("%llu bytes", static_cast<unsigned long long>(bytes));
}

std::string TallyText(const char* done, const RequestTally& t) {
  return Format("%s %s in %u request%s", done, Amount(t.bytes).c_str(), t.requests, t.requests == 1 ? "" : "s");
}

nlohmann::json TallyJson(const RequestTally& t) { return {{"requests", t.requests}, {"bytes", t.bytes}}; }

// What the last run (or the whole journal) asked of each region, in the block table's order.
int TraceRegions(const std::string& dir, bool wholeJournal, bool asJson) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  const auto entries = machine->GetJournal().Entries();
  const std::optional<size_t> lastRun = LastRunStart(entries);
  // Before the first run there is nothing to tell, not the whole journal.
  const size_t first = wholeJournal ? 0 : lastRun.value_or(entries.size());
  const Profile& p = machine->GetProfile();
  const auto activity = SummariseActivity(p.flash.blocks, p.successStatus, std::span(entries).subspan(first));
  if (asJson) {
    nlohmann::json regions = nlohmann::json::array();
    for (const RegionActivity& a : activity) {
      regions.push_back({{"name", RegionName(a.region.type)}, {"type", a.region.type}, {"start", a.region.start},
                         {"size", a.region.size}, {"erase", TallyJson(a.erase)}, {"write", TallyJson(a.write)},
                         {"read", TallyJson(a.read)}, {"notCarriedOut", a.notCarriedOut}});
    }
    nlohmann::json j = {{"firstEntry", first + 1}, {"entries", entries.size()}, {"regions", regions}};
    if (!wholeJournal && !lastRun) j["firstEntry"] = nullptr;
    std::cout << j.dump(2) << "\n";
    return kExitOk;
  }
  if (wholeJournal || lastRun) {
    std::cout << Format("%s: journal entries %llu-%llu\n", wholeJournal ? "whole journal" : "last run",
                        static_cast<unsigned long long>(first + 1), static_cast<unsigned long long>(entries.size()));
  } else {
    std::cout << "no run in the journal yet\n";
  }
  for (const RegionActivity& a : activity) {
    std::string text;
    for (const auto& [done, tally] : {std::pair{"erased", &a.erase}, {"written", &a.write}, {"read", &a.read}}) {
      if (tally->requests != 0) text += (text.empty() ? "" : ", ") + TallyText(done, *tally);
    }
    if (a.notCarriedOut != 0) text += Format(", %u not carried out", a.notCarriedOut);
    std::cout << Format("%-14s 0x%06X-0x%06X  %s\n", RegionName(a.region.type).c_str(), a.region.start,
                        a.region.start + a.region.size - 1, a.Untouched() ? "untouched" : text.c_str());
  }
  return kExitOk;
}

int Reboot(const std::string& dir) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kChange);
  if (!machine) return Failed(error);
  const std::string applied = machine->Boot();
  if (!machine->Persist(error)) return Failed(error);
  std::cout << "rebooted " << dir << " (running " << machine->GetProfile().identity.version << "): " << applied << "\n";
  return kExitOk;
}

int Run(int argc, char** argv) {
  CLI::App app{"noxsim: simulated machines (firmware, flash part and SMI handler in a directory)\n"
               "exit codes: 0 done, 1 diff found differences, 2 usage error, 3 failure"};
  app.require_subcommand(1);

  std::string dir, preset, output, rom;
  std::vector<std::string> sets;
  bool asJson = false;
  size_t tail = 0;
  RomArgs romArgs;

  auto* create = app.add_subcommand("create", "make a machine directory from a preset");
  create->add_option("DIR", dir, "machine directory")->required();
  create->add_option("--preset", preset, "legacy-8m, uefi-16m, secure-16m, me-16m or minimal-1m")->required();
  create->add_option("--set", sets, "change a profile field: key=value (dotted path)");

  auto* set = app.add_subcommand("set", "change profile fields of an existing machine (faults, answers)");
  set->add_option("DIR", dir, "machine directory")->required();
  set->add_option("SETTINGS", sets, "key=value ...")->required();

  auto* show = app.add_subcommand("show", "print the machine's profile and state");
  show->add_option("DIR", dir, "machine directory")->required();
  show->add_flag("--json", asJson, "print JSON");

  auto* dump = app.add_subcommand("dump", "copy the flash part to a file");
  dump->add_option("DIR", dir, "machine directory")->required();
  dump->add_option("-o", output, "output file")->required();

  auto* diff = app.add_subcommand("diff", "compare the flash part with a ROM image, region by region");
  diff->add_option("DIR", dir, "machine directory")->required();
  diff->add_option("ROM", rom, "ROM image (with an ME region also a full-chip or ME region image)")->required();
  bool ecDiff = false;
  diff->add_flag("--ec", ecDiff, "compare an EC firmware image with the EC flash (ec.bin)");

  auto* trace = app.add_subcommand("trace", "print the journal");
  trace->add_option("DIR", dir, "machine directory")->required();
  auto* tailOption = trace->add_option("--tail", tail, "only the last N lines");
  bool regions = false, wholeJournal = false;
  auto* regionsFlag = trace->add_flag("--regions", regions,
                                      "per region of the block table: what the last run erased, wrote and read")
                          ->excludes(tailOption);
  trace->add_flag("--all", wholeJournal, "with --regions: the whole journal, not only the last run")->needs(regionsFlag);
  trace->add_flag("--json", asJson, "with --regions: print JSON")->needs(regionsFlag);

  auto* reboot = app.add_subcommand("reboot", "boot the machine: apply a pending secure-flash update, run what the flash holds");
  reboot->add_option("DIR", dir, "machine directory")->required();

  auto* verdict = app.add_subcommand("verdict", "what the next power-on would do: boot the old or the new firmware, "
                                                 "boot-block recovery, or no start");
  verdict->add_option("DIR", dir, "machine directory")->required();
  verdict->add_flag("--json", asJson, "print JSON");

  auto* romCmd = app.add_subcommand("rom", "make a ROM image for the machine (one version newer unless told otherwise)");
  romCmd->add_option("DIR", dir, "machine directory")->required();
  romCmd->add_option("-o", romArgs.output, "output file")->required();
  romCmd->add_option("--version", romArgs.version, "version, like A07");
  romCmd->add_option("--system-id", romArgs.systemId, "system ID (makes an image for another machine)");
  romCmd->add_option("--ext-id", romArgs.extId, "extended ID");
  romCmd->add_option("--name", romArgs.names, "model name (repeat for a list)");
  romCmd->add_option("--ec-version", romArgs.ecVersion, "EC version word (default: running + 1)");
  romCmd->add_option("--holes", romArgs.holes, "number of ROM holes (0 to 16)");
  romCmd->add_option("--seed", romArgs.seed, "seed of the filler contents");
  romCmd->add_flag("--capsule", romArgs.capsule, "a signed capsule header in front of the image");
  romCmd->add_flag("--capsule-inside", romArgs.capsuleInside, "a signed capsule header in a marker file inside the image");
  romCmd->add_flag("--unsigned", romArgs.unsignedImage, "with a capsule option: leave the digest out");
  romCmd->add_flag("--damaged", romArgs.damaged, "with a capsule option: change a signed byte after signing");
  romCmd->add_flag("--marker-only", romArgs.markerOnly, "the marker file inside the image, no capsule header behind it");
  romCmd->add_flag("--me-full", romArgs.meFull, "the whole chip: descriptor and ME region (filler from --seed), then the firmware");
  romCmd->add_flag("--me-region", romArgs.meRegion, "the ME region alone (filler from --seed), no descriptor");
  romCmd->add_flag("--no-fid", romArgs.noFid, "with --me-full: no \"$FID\" marker in the firmware's part");

  std::string ecSize;
  uint64_t ecSeed = 2;
  auto* ecCmd = app.add_subcommand("ec", "make an EC firmware image for the machine's EC flash");
  ecCmd->add_option("DIR", dir, "machine directory")->required();
  ecCmd->add_option("-o", output, "output file")->required();
  ecCmd->add_option("--size", ecSize, "bytes (default: the EC flash's size; larger makes an image that does not fit)");
  ecCmd->add_option("--seed", ecSeed, "seed of the contents (default 2; the machine's own EC firmware is seed 1)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  if (*create) return Create(dir, preset, sets);
  if (*set) return Set(dir, sets);
  if (*show) return Show(dir, asJson);
  if (*dump) return Dump(dir, output);
  if (*diff) return Diff(dir, rom, ecDiff);
  if (*trace) return regions ? TraceRegions(dir, wholeJournal, asJson) : Trace(dir, tail);
  if (*reboot) return Reboot(dir);
  if (*verdict) return ShowVerdict(dir, asJson);
  if (*romCmd) return Rom(dir, romArgs);
  if (*ecCmd) return Ec(dir, output, ecSize, ecSeed);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Failed(std::string("unexpected failure: ") + e.what());
  }
}
