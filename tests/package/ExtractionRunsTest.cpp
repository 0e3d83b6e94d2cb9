#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "package/ExtractionRuns.h"
#include "package/OwnFilePath.h"
#include "package/PackageWriter.h"

namespace nox::package {
namespace {

using config::ModuleSlotId;
using config::ModuleSlots;

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

// Every slot in order (ROM, EC, ME, ME tool, its arguments, VxD, W32, W64) as text, "-" when
// empty, then the driver mask.
std::string Slots(const ModuleSlots& slots) {
  std::string out;
  for (const auto& s : slots.slots) out += (s.Empty() ? "-" : std::string(s.data.begin(), s.data.begin() + s.size)) + "|";
  return out + std::to_string(slots.driverMask);
}

void Fill(ModuleSlots& slots, ModuleSlotId id, std::string_view text) {
  slots[id].data = Bytes(text);
  slots[id].size = static_cast<uint32_t>(text.size());
}

// An executable carrying a package whose modules contain their own tag as text.
class PackagedTool {
 public:
  explicit PackagedTool(std::initializer_list<const char*> tags) {
    std::vector<std::vector<uint8_t>> modules;
    for (const char* tag : tags) modules.push_back(BuildModule({tag, Bytes(std::string(tag) + " data"), false, true}).value());
    const auto exe = AppendPackage(Bytes("MZ stub"), BuildPackage(modules).value());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(exe.data()), std::streamsize(exe.size()));
  }
  ~PackagedTool() { std::filesystem::remove(path); }
  static inline int count = 0;
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("nox_runs_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                             std::to_string(++count) + ".exe")).string();
};

TEST(ExtractionRuns, TagsOfARomNumber) {
  EXPECT_EQ(RomTag(0) + EcTag(0) + MeTag(0), "@R00@EC0@ME0");
  EXPECT_EQ(RomTag(9) + EcTag(9) + MeTag(9), "@R09@EC9@ME9");
  EXPECT_EQ(RomTag(13) + EcTag(13) + MeTag(13), "@R13@EC3@ME3");
}

TEST(ExtractionRuns, DriverModulesAndCommandScript) {
  const PackagedTool tool({"@UII", "@W32", "@W64", "@R00", "@CMD"});
  ModuleSlots slots;
  ASSERT_TRUE(ExtractDriverModules(tool.path, slots));
  EXPECT_EQ(Slots(slots), "-|-|-|-|-|-|@W32 data|@W64 data|6");
  EXPECT_EQ(ExtractCommandScript(tool.path), "@CMD data");
  EXPECT_EQ(ExtractCommandScript(PackagedTool({"@R00"}).path), std::nullopt);
}

TEST(ExtractionRuns, PackageModulesOfRomNumberThree) {
  const PackagedTool tool({"@W64", "@R00", "@EC0", "@R03", "@EC3", "@ME3", "@ME0", "@MET", "@MEC", "@CMD", "@VXD"});
  ModuleSlots slots;
  // The 64-bit driver was taken at an earlier stage; whatever it holds now stays.
  Fill(slots, ModuleSlotId::kW64, "kept");
  slots.driverMask = config::driver_bit::kW64;
  EXPECT_EQ(ExtractPackageModules(tool.path, 3, slots), "@CMD data");
  EXPECT_EQ(Slots(slots), "@R03 data|@EC3 data|@ME3 data|@MET data|@MEC data|@VXD data|-|kept|5");
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
}

TEST(ExtractionRuns, UnopenablePackageChangesNothing) {
  ModuleSlots slots;
  Fill(slots, ModuleSlotId::kRom, "rom 0");
  const std::string missing = (std::filesystem::temp_directory_path() / "nox_no_such_tool.exe").string();
  EXPECT_FALSE(RefillRomModules(missing, 1, slots));
  EXPECT_FALSE(ExtractDriverModules(missing, slots));
  EXPECT_EQ(ExtractPackageModules(missing, 1, slots), std::nullopt);
  EXPECT_EQ(Slots(slots), "rom 0|-|-|-|-|-|-|-|0");
}

TEST(OwnFilePath, RunningExecutableFirstThenTheWindowsRule) {
  struct Row {
    const char* argument;
    std::optional<std::string> cwd, running, expected;
  };
  const Row rows[] = {
      {"tool", "C:\\X", std::string("/opt/nox/noxwingui"), "/opt/nox/noxwingui"},
      {"tool", "C:\\X", std::string(), "C:\\X\\tool.exe"},
      {"C:\\X\\TOOL.EXE", "C:\\Y", std::nullopt, "C:\\X\\TOOL.EXE"},
      {"tool.exe", std::nullopt, std::nullopt, "tool.exe"},
      {"TOOL.Exe", "C:\\X", std::nullopt, "C:\\X\\TOOL.Exe.exe"},  // mixed case is not recognised
      {"tool", std::nullopt, std::nullopt, std::nullopt},          // current directory unreadable
      {"tool", std::string(255, 'd'), std::nullopt, std::string(255, 'd') + "\\tool.exe"},
      {"tool", std::string(256, 'd'), std::nullopt, std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(OwnFilePath(r.argument, r.cwd, r.running), r.expected) << r.argument;
}

}  // namespace
}  // namespace nox::package
