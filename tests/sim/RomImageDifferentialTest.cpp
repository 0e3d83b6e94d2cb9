// The generated images read back by an independent firmware-volume parser (UEFIExtract from
// Debian's uefitool-cli): it must see exactly the volumes and files the generator reports,
// with sound headers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/CText.h"
#include "platform/sim/Presets.h"
#include "platform/sim/RomImage.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;
constexpr const char* kExtract = "/usr/bin/UEFIExtract";

using Item = std::tuple<uint32_t, uint32_t, std::string>;  // base, size, upper-case GUID
using Listing = std::map<std::string, std::set<Item>>;       // by type: "Volume", "File", ...

// Report lines: "Type | Subtype | Base | Size | CRC32 | Name", the name led by one dash per
// tree level and possibly followed by " | remark".
Listing ReadReport(const fs::path& report) {
  Listing out;
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '|');) cols.push_back(col);
    if (cols.size() < 6) continue;
    std::string type;
    std::istringstream(cols[0]) >> type;
    const size_t name = cols[5].find_first_not_of("- ");
    if (name == std::string::npos || cols[5].size() < name + 36) continue;
    out[type].insert({static_cast<uint32_t>(std::stoul(cols[2], nullptr, 16)),
                      static_cast<uint32_t>(std::stoul(cols[3], nullptr, 16)), core::AsciiUpper(cols[5].substr(name, 36))});
  }
  return out;
}

TEST(AgainstUefiExtract, ListsTheSameVolumesAndFilesWithSoundHeaders) {
  ASSERT_TRUE(fs::exists(kExtract)) << "scripts/bootstrap.sh installs uefitool-cli";
  for (const std::string& preset : PresetNames()) {
    SCOPED_TRACE(preset);
    const Profile p = *MakePreset(preset);
    RomOptions o = RunningRomOptions(p);
    o.holes = 3;
    const RomResult r = BuildRomImage(p, o);
    ASSERT_TRUE(r.error.empty()) << r.error;
    const fs::path dir = fs::temp_directory_path() / ("noxsim-uefiextract-" + preset);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path image = dir / "image.bin";
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(r.image.data()),
                                                 static_cast<std::streamsize>(r.image.size()));
    const std::string command =
        std::string(kExtract) + " '" + image.string() + "' report >'" + (dir / "out").string() + "' 2>&1";
    std::system(command.c_str());  // its exit code is a bit mask of GUID lookups, not an error
    ASSERT_TRUE(fs::exists(dir / "image.bin.report.txt"));
    Listing seen = ReadReport(dir / "image.bin.report.txt");
    // Header checksums, sizes and alignment it checks itself, and says so when they are wrong.
    std::stringstream said;
    said << std::ifstream(dir / "out").rdbuf();
    const std::string text = said.str();
    EXPECT_TRUE(text.find("invalid") == std::string::npos && text.find("failed") == std::string::npos) << text;
    Listing made;
    for (const RomVolume& v : r.volumes) {
      made["Volume"].insert({v.offset, v.length, v.name.value_or(v.fileSystem).ToRegistryString().substr(1, 36)});
    }
    for (const RomFile& f : r.files) made["File"].insert({f.offset, f.size, f.name.ToRegistryString().substr(1, 36)});
    EXPECT_EQ(std::tie(seen["Volume"], seen["File"]), std::tie(made["Volume"], made["File"]));
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace nox::sim
