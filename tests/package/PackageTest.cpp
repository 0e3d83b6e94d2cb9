#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/ExtractionRuns.h"
#include "package/Lh5Decoder.h"
#include "package/OwnFilePath.h"
#include "package/Package.h"
#include "package/PackageWriter.h"

namespace nox::package {
namespace {

using Buffer = std::vector<uint8_t>;

Buffer Bytes(std::string_view text) { return {text.begin(), text.end()}; }
Buffer Module(const std::string& tag, const Buffer& content, bool compress = false) {
  return BuildModule({tag, content, false, compress}).value();
}
Buffer Pkg(const std::vector<Buffer>& modules) { return BuildPackage(modules).value(); }
Buffer Join(std::initializer_list<Buffer> parts) {
  Buffer out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The module's content as text, or "-" when it cannot be taken out.
std::string Extract(const Package& package, std::string_view tag) {
  ExtractedModule m;
  if (ExtractModule(package, tag, m) != 0) return "-";
  return std::string(m.data.begin(), m.data.begin() + m.size);
}

const Buffer kStub = Bytes("MZ\x90\0 program code and data of the utility ... ");

// `module` with the 32-bit field at `offset` changed and its sum sealed again.
Buffer Patched(Buffer module, size_t offset, uint32_t value) {
  core::StoreLe32(module.data() + offset, value);
  SealChecksum(module, 8);
  return module;
}

// A compressed "@R00" module made by hand: `stream` behind a data header that claims `expanded`.
Buffer RawModule(const Buffer& stream, uint32_t expanded, uint32_t stored) {
  return Patched(Patched(Module("@R00", stream), kModuleHeaderSize, stored), kModuleHeaderSize + 4, expanded);
}

// A package with 8 filler bytes in front of one module, so that the module sits off the
// 16-byte step, with the header's step byte as given.
Buffer PackageWithModuleAt24(uint8_t step) {
  auto package = Pkg({Buffer(8, 0), Module("@R00", Bytes("misplaced"))});
  package[10] = step;
  SealChecksum(core::MutableByteSpan(package).first(kPackageHeaderSize), 8);
  return package;
}

struct ImageCase {
  std::string name;
  Buffer image;
  std::string text;  // of the module; "-": it cannot be taken out
  uint32_t open = kPackageOk;
  std::string tag = "@R00";
};

TEST(PackageImage, OpensAndGivesTheModuleOrRefusesIt) {
  const auto rom = [](const char* text) { return Pkg({Module("@R00", Bytes(text))}); };
  std::vector<ImageCase> c;
  // The scanner's own tag literal in the program's data, not followed by a zero-sum header.
  c.push_back({"TagInsideTheProgram", Join({kStub, Bytes("@ZPK\x10\0\0\0junkjunk"), kStub, rom("rom")}), "rom"});
  auto badSum = rom("bad sum");
  badSum[8] ^= 1;
  c.push_back({"OnlyTagHasABadHeaderSum", Join({kStub, badSum}), "-", kPackageNotFound});
  const auto later =
      Join({kStub, Pkg({Module("@R00", Bytes("old rom")), Module("@EC0", Bytes("old ec"))}), kStub, rom("new rom")});
  c.push_back({"LaterPackageWins", later, "new rom"});
  c.push_back({"NothingMergedFromTheEarlier", later, "-", kPackageOk, "@EC0"});
  auto cut = rom("cut off");
  cut.resize(cut.size() - 16);  // header still sums to zero, but claims more than is there
  c.push_back({"CutPackageBehindAGoodOne", Join({kStub, rom("good"), cut}), "good"});
  c.push_back({"CutPackageAlone", Join({kStub, cut}), "-", kPackageNotFound});
  c.push_back({"HeaderShorterThanItself", Join({kStub, Patched(Pkg({}), 4, 8), kStub}), "-", kPackageNotFound});

  auto broken = Module("@R00", Bytes("first copy"));
  broken[kModuleHeaderSize + kDataHeaderSize] ^= 0x01;
  c.push_back({"BadChecksumSkipped", Pkg({broken, Module("@R00", Bytes("second copy"))}), "second copy"});
  c.push_back({"BadChecksumOnly", Pkg({broken}), "-"});
  c.push_back({"ModuleOffTheStep", PackageWithModuleAt24(0x10), "-"});
  c.push_back({"ModuleOnASmallerStep", PackageWithModuleAt24(0x08), "misplaced"});
  c.push_back({"StepZeroFindsNothing", PackageWithModuleAt24(0), "-"});
  // A header with a good sum but no room for the data header.
  c.push_back({"NoRoomForTheDataHeader", Pkg({Patched(Bytes("@R00............"), 4, 16)}), "-"});
  const auto data = Module("@R00", Bytes("data"));
  c.push_back({"ModuleLengthPastThePackage", Pkg({Patched(data, 4, static_cast<uint32_t>(data.size() + 16))}), "-"});

  const auto q = testdata::SingleCodeBlock(100, 'Q').Bytes();
  const auto qSize = static_cast<uint32_t>(q.size() + kDataHeaderSize);
  c.push_back({"ExpansionExact", Pkg({RawModule(q, 100, qSize)}), std::string(100, 'Q')});
  c.push_back({"ExpansionOneByteShort", Pkg({RawModule(q, 101, qSize)}), "-"});
  // The 100 bytes come out, but a block (with an over-subscribed table) follows: a damaged
  // stream whose checksum was made over the damage.
  const auto qBroken = testdata::SingleCodeBlock(100, 'Q').Put(16, 5).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Bytes();
  c.push_back({"StreamGoesOnBehindTheExpansion",
               Pkg({RawModule(qBroken, 100, static_cast<uint32_t>(qBroken.size() + kDataHeaderSize))}), "-"});
  const auto z = testdata::SingleCodeBlock(50, 'Z').Bytes();
  const auto zSize = static_cast<uint32_t>(z.size() + kDataHeaderSize);
  c.push_back({"StoredSizeFits", Pkg({RawModule(z, 50, zSize)}), std::string(50, 'Z')});
  c.push_back({"StoredSizePastTheModule", Pkg({RawModule(z, 50, zSize + 64)}), "-"});
  c.push_back({"StoredSizeInsideTheDataHeader", Pkg({RawModule(z, 50, 7)}), "-"});
  c.push_back({"StoredLongerThanTheModule", Pkg({RawModule(z, 200, 200)}), "-"});
  c.push_back({"ExpandedSizeOverTheLimit", Pkg({RawModule(z, kMaxExpandedSize + 1, zSize)}), "-"});
  // The file is read from its end a window at a time: a header across a window's end, and
  // a package wholly in an earlier window with a later one in the last.
  const auto tail = [](size_t n) { return Buffer(n, 'T'); };
  constexpr size_t kWindow = 256 << 10;
  const auto small = rom("small");
  for (size_t across : {1, 8, 15, 16}) {
    c.push_back({"HeaderAcrossTheWindowEnd" + std::to_string(across), Join({kStub, small, tail(kWindow + across - small.size())}),
                 "small"});
  }
  c.push_back({"LaterPackageInTheLastWindow", Join({kStub, rom("old"), tail(3 * kWindow), rom("new"), tail(100)}), "new"});
  c.push_back({"PackageInAnEarlierWindow", Join({kStub, rom("early"), tail(3 * kWindow)}), "early"});
  const testdata::TempDir dir;
  for (const ImageCase& one : c) {
    for (const bool fromFile : {false, true}) {
      Package p;
      const uint32_t opened = fromFile ? OpenPackage(p, dir.Write("tool.exe", one.image)) : OpenPackageImage(p, one.image);
      EXPECT_EQ(std::tuple(opened, p.IsOpen(), Extract(p, one.tag)), std::tuple(one.open, one.open == kPackageOk, one.text))
          << one.name << (fromFile ? " (file)" : "");
    }
  }
}

TEST(OpenPackage, ResultCodesOfTheFile) {
  const testdata::TempDir dir;
  Package p;
  EXPECT_EQ(OpenPackage(p, dir / "missing.exe"), kPackageUnreadable);
  EXPECT_EQ(OpenPackage(p, dir.Write("empty.exe", {})), kPackageFileEmpty);
  EXPECT_EQ(OpenPackage(p, dir.Write("tool.exe", Join({kStub, Pkg({Module("@CMD", Bytes("/p /b"))})}))), kPackageOk);
  EXPECT_EQ(Extract(p, "@CMD"), "/p /b");
  ClosePackage(p);
  EXPECT_EQ(Extract(p, "@CMD"), "-");
}

TEST(PackageWriter, HeadersWhatIsStoredAndWhatComesBackFollowedByZeroSlack) {
  const auto driver = BuildModule({"@W64", Bytes("driver image"), true, false}).value();
  EXPECT_EQ(std::make_pair(driver.size(), driver[10]), std::make_pair(size_t{48}, uint8_t{0x01}));  // the driver mark
  EXPECT_FALSE(BuildModule({"@R0", Bytes("x"), false, true}));
  EXPECT_EQ(core::LoadLe32(Module("@CMD", Bytes("/p /b /n"), true).data() + 16), 8u);  // too short to compress
  const Buffer rom = testdata::SyntheticRom(1 << 20, 5), me = testdata::RandomBytes(5000, 8);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({driver, Module("@R00", rom, true), Module("@ME0", me, true)})), kPackageOk);
  EXPECT_EQ(p.Step(), kModuleStep);
  const auto list = ListModules(p);
  ASSERT_EQ(list.size(), 3u);
  // What does not compress is stored: the stored size equals the expanded size.
  EXPECT_EQ(std::tuple(list[1].tag, list[1].compressed, list[1].expandedSize, list[2].compressed, list[2].storedSize),
            std::tuple("@R00", true, uint32_t(rom.size()), false, 5000u));
  EXPECT_LT(list[1].storedSize, rom.size() / 2);
  for (const auto& [tag, content] : {std::pair{"@R00", rom}, {"@ME0", me}}) {
    ExtractedModule m;
    ASSERT_EQ(ExtractModule(p, tag, m), 0u);
    ASSERT_EQ(std::pair(size_t{m.size}, m.data.size()), std::pair(content.size(), content.size() + kExtractSlack));
    EXPECT_TRUE(std::equal(content.begin(), content.end(), m.data.begin()));
    EXPECT_TRUE(std::all_of(m.data.begin() + m.size, m.data.end(), [](uint8_t b) { return b == 0; }));
  }
}

// ---- the runs that take modules out for the session -------------------------------------------

using config::ModuleSlotId;
using config::ModuleSlots;

// Every slot in order (ROM, EC, ME, ME tool, its arguments, VxD, W32, W64) as text, "-" when
// empty, then the driver mask.
std::string Slots(const ModuleSlots& slots) {
  std::string out;
  for (const auto& s : slots.slots) out += (s.Empty() ? "-" : std::string(s.data.begin(), s.data.begin() + s.size)) + "|";
  return out + std::to_string(slots.driverMask);
}

void Fill(ModuleSlots& slots, ModuleSlotId id, std::string_view text) {
  slots[id].data.assign(text.begin(), text.end());
  slots[id].size = static_cast<uint32_t>(text.size());
}

// An executable carrying a package whose modules contain their own tag as text.
struct PackagedTool {
  explicit PackagedTool(std::initializer_list<const char*> tags) {
    std::vector<Buffer> modules;
    for (const char* tag : tags) modules.push_back(Module(tag, Bytes(std::string(tag) + " data"), true));
    path = dir.Write("tool.exe", AppendPackage(Bytes("MZ stub"), Pkg(modules)));
  }
  const testdata::TempDir dir;
  std::string path;
};

TEST(ExtractionRuns, DriverModulesCommandScriptAndTheModulesOfARomNumber) {
  ModuleSlots slots;
  const PackagedTool drivers({"@UII", "@W32", "@W64", "@R00", "@CMD"});
  ASSERT_TRUE(ExtractDriverModules(drivers.path, slots));
  EXPECT_EQ(Slots(slots), "-|-|-|-|-|-|@W32 data|@W64 data|6");
  EXPECT_EQ(ExtractCommandScript(drivers.path), "@CMD data");
  EXPECT_EQ(ExtractCommandScript(PackagedTool({"@R00"}).path), std::nullopt);
  // Number three: the 64-bit driver was taken at an earlier stage; whatever it holds now stays.
  slots = {};
  Fill(slots, ModuleSlotId::kW64, "kept");
  slots.driverMask = config::driver_bit::kW64;
  const PackagedTool tool({"@W64", "@R00", "@EC0", "@R03", "@EC3", "@ME3", "@ME0", "@MET", "@MEC", "@CMD", "@VXD"});
  EXPECT_EQ(ExtractPackageModules(tool.path, 3, slots), "@CMD data");
  EXPECT_EQ(Slots(slots), "@R03 data|@EC3 data|@ME3 data|@MET data|@MEC data|@VXD data|-|kept|5");
  EXPECT_EQ(RomTag(13) + EcTag(13) + MeTag(13), "@R13@EC3@ME3");
}

TEST(ExtractionRuns, MissingModuleLeavesItsSlotAloneButRefillEmptiesRomEcAndMe) {
  const PackagedTool tool({"@R00", "@R01", "@MET"});
  ModuleSlots slots;
  Fill(slots, ModuleSlotId::kEc, "earlier");
  Fill(slots, ModuleSlotId::kMe, "earlier");
  EXPECT_EQ(ExtractPackageModules(tool.path, 0, slots), std::nullopt);
  EXPECT_EQ(Slots(slots), "@R00 data|earlier|earlier|@MET data|-|-|-|-|0");
  ASSERT_TRUE(RefillRomModules(tool.path, 1, slots));
  EXPECT_EQ(Slots(slots), "@R01 data|-|-|@MET data|-|-|-|-|0");
  // A package that cannot be opened changes nothing.
  const std::string missing = tool.dir / "missing.exe";
  EXPECT_FALSE(RefillRomModules(missing, 0, slots) || ExtractDriverModules(missing, slots));
  EXPECT_EQ(ExtractPackageModules(missing, 0, slots), std::nullopt);
  EXPECT_EQ(Slots(slots), "@R01 data|-|-|@MET data|-|-|-|-|0");
}

TEST(OwnFilePath, RunningExecutableFirstThenTheWindowsRule) {
  const struct { const char* argument; std::optional<std::string> cwd, running, expected; } rows[] = {
      {"tool", "C:\\X", std::string("/opt/nox/noxwingui"), "/opt/nox/noxwingui"},
      {"tool", "C:\\X", std::string(), "C:\\X\\tool.exe"}, {"C:\\X\\TOOL.EXE", "C:\\Y", std::nullopt, "C:\\X\\TOOL.EXE"},
      {"tool.exe", std::nullopt, std::nullopt, "tool.exe"},
      {"TOOL.Exe", "C:\\X", std::nullopt, "C:\\X\\TOOL.Exe.exe"},  // mixed case is not recognised
      {"tool", std::nullopt, std::nullopt, std::nullopt},          // current directory unreadable
      {"tool", std::string(255, 'd'), std::nullopt, std::string(255, 'd') + "\\tool.exe"},
      {"tool", std::string(256, 'd'), std::nullopt, std::nullopt}};
  for (const auto& r : rows) EXPECT_EQ(OwnFilePath(r.argument, r.cwd, r.running), r.expected) << r.argument;
}

}  // namespace
}  // namespace nox::package
