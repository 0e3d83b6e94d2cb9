// The volume scanner against UEFIExtract on the OVMF firmware images of the distribution:
// images and a tool that nobody here made. UEFIExtract's report lists every volume and
// file with its offset in the image and its size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>

#include "image/FirmwareVolumes.h"

namespace nox::image {
namespace {

namespace fs = std::filesystem;
using Placed = std::vector<std::pair<uint64_t, uint64_t>>;  // offset, size

// Every volume UEFIExtract reports is found at the same offset with the same length, and
// the files of the firmware file systems at the same offsets with the same sizes; a volume
// with an extended header carries the name UEFIExtract gives it. Each distinct image is
// checked once (the directory holds symbolic links to some of them), from a copy in a
// directory of our own: test processes may run side by side.
TEST(OvmfImages, VolumesAndFilesAreFoundWhereUefiExtractFindsThem) {
  const fs::path tool = "/usr/bin/UEFIExtract", images = "/usr/share/OVMF";
  if (!fs::exists(tool) || !fs::is_directory(images)) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  const fs::path work = fs::temp_directory_path() / ("nox-ovmf-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  // A placed line of the report reads
  // " Volume          | FFSv2                 | 00000000 | 001AC000 | DDE14FD0 | - 48DB5E17-..."
  // with one dash per level of the tree.
  const std::regex row(R"(^ (\w+)[^|]*\|[^|]*\| ([0-9A-F]{8}) \| ([0-9A-F]{8}) \|[^|]*\| (-+) ([0-9A-F-]{36})?)");
  std::set<fs::path> seen;
  size_t files = 0, named = 0;
  for (const auto& entry : fs::directory_iterator(images)) {
    if (entry.path().extension() != ".fd" || !seen.insert(fs::canonical(entry.path())).second) continue;
    SCOPED_TRACE(entry.path());
    const fs::path copy = work / entry.path().filename();
    fs::copy_file(entry.path(), copy);
    EXPECT_EQ(std::system((tool.string() + " '" + copy.string() + "' report >/dev/null 2>&1").c_str()), 0);
    std::ifstream in(copy, std::ios::binary), report(copy.string() + ".report.txt");
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    // The report in the scanner's terms: every volume of the image itself (not those nested
    // in files) whose first 64 header bytes sum to 0, and the files of the volumes (the
    // report has files in firmware file systems only), but for the pad file that wraps a
    // volume's extended header: we walk it like any file (its name is never one we look
    // for), UEFIExtract counts it as header.
    Placed volumes, expected, foundVolumes, found;
    std::set<uint64_t> extendedHeaders;
    std::map<uint64_t, std::string> names, foundNames;
    std::smatch m;
    for (std::string line; std::getline(report, line);) {
      if (!std::regex_search(line, m, row)) continue;
      const std::pair item{std::stoull(m[2], nullptr, 16), std::stoull(m[3], nullptr, 16)};
      if (m[4].length() == 2 && m[1] == "File") expected.push_back(item);
      const auto header = core::SubSpan(bytes, item.first, FirmwareVolume::kChecksummedLength);
      if (m[4].length() != 1 || m[1] != "Volume" || !header || core::Sum16(*header) != 0) continue;
      volumes.push_back(item);
      const uint16_t extendedHeader = core::LoadLe16(&(*header)[52]);
      if (extendedHeader != 0) {
        extendedHeaders.insert(item.first + extendedHeader);
        names[item.first] = m[5];
      }
    }
    const auto onFile = [&](const FirmwareFile& file) {
      if (!extendedHeaders.contains(file.offset + FirmwareFile::kHeaderSize)) found.emplace_back(file.offset, file.size);
      return WalkControl::kContinue;
    };
    FirmwareVolumes::Scan(bytes, 0, bytes.size(), onFile, [&](const FirmwareVolume& v) {
      foundVolumes.emplace_back(v.offset, v.length);
      if (const auto name = FirmwareVolumes::VolumeName(bytes, v)) foundNames[v.offset] = name->ToRegistryString().substr(1, 36);
    });
    EXPECT_EQ(std::tie(foundVolumes, found, foundNames), std::tie(volumes, expected, names));
    files += expected.size();
    named += names.size();
  }
  fs::remove_all(work);
  EXPECT_GT(files, 0u);
  EXPECT_GT(named, 0u);
}

}  // namespace
}  // namespace nox::image
