#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/InformationPageModel.h"

namespace nox::ui {
namespace {

TEST(InformationPage, OsNames) {
  struct Case { uint32_t platform, major, minor; const char* name; };
  for (const Case& c : {Case{0, 3, 95, "Windows 3.1"}, Case{1, 4, 0, "Windows 95"}, Case{1, 4, 10, "Windows 98"},
                        Case{1, 4, 90, "Windows ME"}, Case{2, 4, 0, "Windows NT"}, Case{2, 4, 10, "Unknown"},
                        Case{2, 5, 0, "Windows 2000"}, Case{2, 5, 1, "Windows XP"}, Case{2, 5, 2, "Windows 2003"},
                        Case{2, 6, 0, "Windows Vista/Longhorn"}, Case{2, 6, 1, "Windows 7"}, Case{2, 6, 2, "Unknown"},
                        Case{2, 10, 0, "Unknown"}, Case{3, 6, 1, "Unknown"}}) {
    EXPECT_EQ(OsName({c.platform, c.major, c.minor}), c.name) << c.platform << " " << c.major << "." << c.minor;
  }
}

// The values of the fields from `first` to the last one.
std::vector<std::string> Values(const InformationPageModel& page, int first = info_id::kOs) {
  std::vector<std::string> out;
  for (int id = first; id <= info_id::kFileRomGuid; ++id) out.push_back(page.Value(id));
  return out;
}

TEST(InformationPage, ValuesOfTheRunningFirmwareAndOfTheRomFileAndTheirToolTips) {
  InformationPageModel page;
  EXPECT_EQ(Values(page), std::vector<std::string>(12, "Unknown"));
  // The first three GUID fields are stored little-endian; every field keeps its leading zeros.
  const GuidBytes guid{0x21, 0x43, 0x65, 0x07, 0x09, 0x00, 0x0B, 0x00, 0x0C, 0x0D, 0x0E, 0x0F, 0x00, 0x01, 0x02, 0x03};
  page.Fill({{2, 5, 1}, 0x800000, 0x600000, 0x20000, 0x10000, {"8.00.15", "A06", "1AQ2M", guid}});
  page.SetRomFile("/tmp/a07.rom", {std::nullopt, std::nullopt, "1AQ2N", guid});
  EXPECT_EQ(Values(page), (std::vector<std::string>{
                              "Windows XP", "8388608 bytes", "6291456 bytes", "131072 bytes", "65536 bytes", "8.00.15",
                              "A06", "1AQ2M", "07654321-0009-000b-0c0d0e0f00010203", "/tmp/a07.rom", "1AQ2N",
                              "07654321-0009-000b-0c0d0e0f00010203"}));
  // A firmware or file without an identity block shows "NULL" for both ID and GUID.
  page.Fill({});
  page.SetRomFile("b.rom", {});
  EXPECT_EQ(Values(page, info_id::kCoreVersion),
            (std::vector<std::string>{"Unknown", "Unknown", "NULL", "NULL", "b.rom", "NULL", "NULL"}));
  page.ClearRomFilePath();
  EXPECT_EQ(page.Value(info_id::kInputRomFile), "");
  page.ForgetRomFile();
  EXPECT_EQ(Values(page, info_id::kFirmwareId), (std::vector<std::string>{"NULL", "NULL", "Unknown", "Unknown", "Unknown"}));
  // Tool-tips are registered only for controls on the page.
  std::vector<int> controls, registered;
  for (const InfoField& f : page.Fields()) controls.push_back(f.id);
  for (const InfoToolTip& t : RegisteredInformationToolTips()) registered.push_back(t.id);
  EXPECT_EQ(registered, controls);
}

}  // namespace
}  // namespace nox::ui
