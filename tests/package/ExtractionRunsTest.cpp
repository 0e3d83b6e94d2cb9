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

std::string SlotText(const ModuleSlots& slots, ModuleSlotId id) {
  const auto& s = slots[id];
  return s.Empty() ? "-" : std::string(s.data.begin(), s.data.begin() + s.size);
}

// An executable carrying a package whose modules contain their own tag as text.
class PackagedTool {
 public:
  explicit PackagedTool(std::initializer_list<const char*> tags) {
    std::vector<std::vector<uint8_t>> modules;
    for (const char* tag : tags) modules.push_back(BuildModule({tag, Bytes(std::string(tag) + " data"), false, true}).value());
    const auto exe = AppendPackage(Bytes("MZ stub"), BuildPackage(modules).value());
    path_ = (std::filesystem::temp_directory_path() /
             ("nox_runs_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".exe"))
                .string();
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(exe.data()), static_cast<std::streamsize>(exe.size()));
  }
  ~PackagedTool() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(ExtractionRuns, TagsOfARomNumber) {
  struct Row {
    uint32_t rom;
    const char *romTag, *ecTag, *meTag;
  };
  for (const Row& r : {Row{0, "@R00", "@EC0", "@ME0"}, Row{3, "@R03", "@EC3", "@ME3"}, Row{9, "@R09", "@EC9", "@ME9"},
                       Row{13, "@R13", "@EC3", "@ME3"}}) {
    EXPECT_EQ(RomTag(r.rom), r.romTag);
    EXPECT_EQ(EcTag(r.rom), r.ecTag);
    EXPECT_EQ(MeTag(r.rom), r.meTag);
  }
}

TEST(ExtractionRuns, DriverModulesFillTheirSlotsAndTheMask) {
  PackagedTool tool({"@UII", "@W32", "@W64", "@R00"});
  ModuleSlots slots;
  ASSERT_TRUE(ExtractDriverModules(tool.Path(), slots));
  EXPECT_EQ(slots.driverMask, config::driver_bit::kW32 | config::driver_bit::kW64);
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kW32), "@W32 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kW64), "@W64 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kVxd), "-");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kRom), "-");
}

TEST(ExtractionRuns, CommandScriptIsReturnedAsText) {
  PackagedTool tool({"@R00", "@CMD"});
  EXPECT_EQ(ExtractCommandScript(tool.Path()), "@CMD data");
  PackagedTool without({"@R00"});
  EXPECT_EQ(ExtractCommandScript(without.Path()), std::nullopt);
}

TEST(ExtractionRuns, PackageModulesOfRomNumberThree) {
  PackagedTool tool({"@W64", "@R00", "@EC0", "@R03", "@EC3", "@ME3", "@ME0", "@MET", "@MEC", "@CMD", "@VXD"});
  ModuleSlots slots;
  // Stage 7 already took the 64-bit driver; whatever it holds now stays.
  slots[ModuleSlotId::kW64].data = Bytes("kept");
  slots[ModuleSlotId::kW64].size = 4;
  slots.driverMask = config::driver_bit::kW64;
  EXPECT_EQ(ExtractPackageModules(tool.Path(), 3, slots), "@CMD data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kRom), "@R03 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kEc), "@EC3 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kMe), "@ME3 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kMeTool), "@MET data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kMeToolArgs), "@MEC data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kW64), "kept");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kVxd), "@VXD data");
  EXPECT_EQ(slots.driverMask, config::driver_bit::kW64 | config::driver_bit::kVxd);
}

TEST(ExtractionRuns, MissingModuleLeavesItsSlotAlone) {
  PackagedTool tool({"@R00"});
  ModuleSlots slots;
  slots[ModuleSlotId::kEc].data = Bytes("earlier");
  slots[ModuleSlotId::kEc].size = 7;
  EXPECT_EQ(ExtractPackageModules(tool.Path(), 0, slots), std::nullopt);
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kRom), "@R00 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kEc), "earlier");
}

TEST(ExtractionRuns, RefillEmptiesRomEcAndMeForTheNewNumber) {
  PackagedTool tool({"@R00", "@EC0", "@ME0", "@R01", "@MET"});
  ModuleSlots slots;
  ASSERT_TRUE(ExtractPackageModules(tool.Path(), 0, slots) == std::nullopt);
  ASSERT_EQ(SlotText(slots, ModuleSlotId::kEc), "@EC0 data");
  ASSERT_TRUE(RefillRomModules(tool.Path(), 1, slots));
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kRom), "@R01 data");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kEc), "-");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kMe), "-");
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kMeTool), "@MET data");
}

TEST(ExtractionRuns, UnopenablePackageChangesNothing) {
  ModuleSlots slots;
  slots[ModuleSlotId::kRom].data = Bytes("rom 0");
  slots[ModuleSlotId::kRom].size = 5;
  const std::string missing = (std::filesystem::temp_directory_path() / "nox_no_such_tool.exe").string();
  EXPECT_FALSE(RefillRomModules(missing, 1, slots));
  EXPECT_FALSE(ExtractDriverModules(missing, slots));
  EXPECT_EQ(ExtractPackageModules(missing, 1, slots), std::nullopt);
  EXPECT_EQ(SlotText(slots, ModuleSlotId::kRom), "rom 0");
  EXPECT_EQ(slots.driverMask, 0);
}

// ---------------------------------------------------------------------------------------

TEST(OwnFilePath, WindowsRule) {
  struct Row {
    const char* argument;
    std::optional<std::string> cwd;
    std::optional<std::string> expected;
  };
  const Row rows[] = {
      {"C:\\X\\TOOL.EXE", "C:\\Y", "C:\\X\\TOOL.EXE"},
      {"tool.exe", std::nullopt, "tool.exe"},
      {"tool", "C:\\X", "C:\\X\\tool.exe"},
      {"TOOL.Exe", "C:\\X", "C:\\X\\TOOL.Exe.exe"},  // mixed case is not recognised
      {"tool", std::nullopt, std::nullopt},           // current directory unreadable
      {"tool", std::string(255, 'd'), std::string(255, 'd') + "\\tool.exe"},
      {"tool", std::string(256, 'd'), std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(OwnFilePath(r.argument, r.cwd), r.expected) << r.argument;
}

TEST(OwnFilePath, RunningExecutableComesFirst) {
  EXPECT_EQ(OwnFilePath("tool", "C:\\X", std::string("/opt/nox/noxwingui")), "/opt/nox/noxwingui");
  EXPECT_EQ(OwnFilePath("tool", "C:\\X", std::string()), "C:\\X\\tool.exe");
}

}  // namespace
}  // namespace nox::package
