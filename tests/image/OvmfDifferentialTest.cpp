// The volume scanner against UEFIExtract on the OVMF firmware images of the distribution:
// images and a tool that nobody here made. UEFIExtract's report lists every volume and
// file with its offset in the image and its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "image/FirmwareVolumes.h"

namespace nox::image {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = "/usr/bin/UEFIExtract";
const fs::path kImages = "/usr/share/OVMF";

using Placed = std::pair<uint64_t, uint64_t>;  // offset, size

struct Listing {
  std::vector<Placed> volumes, files;
  std::vector<uint64_t> extendedHeaders;  // where a volume's extended header starts
};

// UEFIExtract's report in the scanner's terms: every volume of the image itself (not those
// nested in files) whose first 64 header bytes sum to 0, and the files of the firmware file
// systems among them. A report line reads
// " Volume          | FFSv2                 | 00000000 | 001AC000 | DDE14FD0 | - 48DB5E17-..."
// with one dash per level of the tree.
Listing ReadReport(const fs::path& report, const std::vector<uint8_t>& bytes) {
  Listing out;
  std::ifstream in(report);
  std::string line;
  std::getline(in, line);  // column titles
  bool inWalkedVolume = false;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 6) continue;
    std::string type, base;
    std::istringstream(cells[0]) >> type;
    std::istringstream(cells[2]) >> base;
    const size_t name = cells[5].find_first_not_of(' ');
    const size_t depth = name == std::string::npos ? 0 : cells[5].find_first_not_of('-', name) - name;
    const bool placed = base != "N/A";
    const Placed item = placed ? Placed{std::stoull(base, nullptr, 16), std::stoull(cells[3], nullptr, 16)} : Placed{};
    if (depth == 2 && inWalkedVolume && type == "File" && placed) out.files.push_back(item);
    if (depth != 1) continue;
    inWalkedVolume = false;
    if (type != "Volume" || !placed) continue;
    const auto header = core::SubSpan(bytes, item.first, FirmwareVolume::kChecksummedLength);
    if (header && core::Sum16(*header) == 0) out.volumes.push_back(item);
    const auto fileSystem = header ? core::Guid::FromBytes(header->subspan(16, 16)) : std::nullopt;
    inWalkedVolume = fileSystem && (*fileSystem == FirmwareVolumes::kFileSystem1 || *fileSystem == FirmwareVolumes::kFileSystem2);
    const auto extendedHeader = core::ReadLe16(bytes, item.first + 52).value_or(0);
    if (inWalkedVolume && extendedHeader != 0) out.extendedHeaders.push_back(item.first + extendedHeader);
  }
  return out;
}

using Sample = std::tuple<std::string, std::vector<uint8_t>, Listing>;  // name, bytes, expected

// Each distinct image once (the directory holds symbolic links to some of them), with
// UEFIExtract's report made from a copy in a directory of our own.
std::vector<Sample> Samples() {
  std::vector<Sample> out;
  if (!fs::exists(kTool) || !fs::is_directory(kImages)) return out;
  // Test processes may run side by side; each works in a directory of its own.
  const fs::path work = fs::temp_directory_path() / ("nox-ovmf-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  std::set<fs::path> seen;
  for (const auto& entry : fs::directory_iterator(kImages)) {
    if (entry.path().extension() != ".fd" || !seen.insert(fs::canonical(entry.path())).second) continue;
    const fs::path copy = work / entry.path().filename();
    fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
    const std::string command = kTool.string() + " '" + copy.string() + "' report >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1 || !fs::exists(copy.string() + ".report.txt")) continue;
    std::ifstream in(copy, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    out.emplace_back(entry.path().filename().string(), bytes, ReadReport(copy.string() + ".report.txt", bytes));
  }
  fs::remove_all(work);
  return out;
}

// Every volume UEFIExtract reports is found at the same offset with the same length, and
// the files of the firmware file systems at the same offsets with the same sizes.
TEST(OvmfImages, VolumesAndFilesAreFoundWhereUefiExtractFindsThem) {
  const std::vector<Sample> samples = Samples();
  if (samples.empty()) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  size_t files = 0;
  for (const auto& [name, bytes, expected] : samples) {
    SCOPED_TRACE(name);
    Listing found;
    FirmwareVolumes::Scan(
        bytes, 0, bytes.size(),
        [&](const FirmwareFile& file) {
          // The build tools wrap a volume's extended header in a pad file. We walk it like
          // any file (its name is never one we look for); UEFIExtract counts it as header.
          if (std::none_of(expected.extendedHeaders.begin(), expected.extendedHeaders.end(),
                           [&](uint64_t at) { return file.offset < at && at < file.offset + file.size; })) {
            found.files.emplace_back(file.offset, file.size);
          }
          return WalkControl::kContinue;
        },
        [&](const FirmwareVolume& volume) { found.volumes.emplace_back(volume.offset, volume.length); });
    EXPECT_FALSE(expected.volumes.empty());
    EXPECT_EQ(found.volumes, expected.volumes);
    EXPECT_EQ(found.files, expected.files);
    files += expected.files.size();
  }
  EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace nox::image
