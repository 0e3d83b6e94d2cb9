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
#include <vector>

#include "image/FirmwareVolumes.h"

namespace nox::image {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = "/usr/bin/UEFIExtract";
const fs::path kImages = "/usr/share/OVMF";

using Placed = std::pair<uint64_t, uint64_t>;  // offset, size

struct Item {
  std::string type;
  int depth = 0;  // of the name in the tree: 1 for what the image itself holds
  std::optional<Placed> placed;
};

// " Volume          | FFSv2                 | 00000000 | 001AC000 | DDE14FD0 | - 48DB5E17-..."
std::vector<Item> ParseReport(const fs::path& report) {
  std::vector<Item> items;
  std::ifstream in(report);
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, '|');) cells.push_back(cell);
    if (cells.size() < 6) continue;
    Item item;
    std::istringstream(cells[0]) >> item.type;
    std::string base;
    std::istringstream(cells[2]) >> base;
    if (base != "N/A") item.placed = Placed{std::stoull(base, nullptr, 16), std::stoull(cells[3], nullptr, 16)};
    const std::string name = cells[5].substr(std::min(cells[5].size(), cells[5].find_first_not_of(' ')));
    while (item.depth < static_cast<int>(name.size()) && name[item.depth] == '-') ++item.depth;
    items.push_back(item);
  }
  return items;
}

struct Sample {
  std::string name;
  std::vector<uint8_t> bytes;
  std::vector<Item> report;
};

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
    out.push_back({entry.path().filename().string(), {std::istreambuf_iterator<char>(in), {}},
                   ParseReport(copy.string() + ".report.txt")});
  }
  fs::remove_all(work);
  return out;
}

bool HasFileSystem(const Sample& sample, uint64_t volume) {
  const auto guid = core::SubSpan(sample.bytes, volume + 16, 16);
  const auto fileSystem = guid ? core::Guid::FromBytes(*guid) : std::nullopt;
  return fileSystem && (*fileSystem == FirmwareVolumes::kFileSystem1 || *fileSystem == FirmwareVolumes::kFileSystem2);
}

// Every volume of the image (not those nested in files) whose header checks out is found
// at the same offset with the same length, and the files of the firmware file systems at
// the same offsets with the same sizes.
TEST(OvmfImages, VolumesAndFilesAreFoundWhereUefiExtractFindsThem) {
  const std::vector<Sample> samples = Samples();
  if (samples.empty()) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  size_t files = 0;
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::vector<Placed> volumes, expectedFiles;
    std::vector<uint64_t> extendedHeaders;
    bool inWalkedVolume = false;
    for (const auto& item : sample.report) {
      if (item.depth == 1) {
        inWalkedVolume = item.type == "Volume" && item.placed && HasFileSystem(sample, item.placed->first);
        if (item.type != "Volume" || !item.placed) continue;
        const auto header = core::SubSpan(sample.bytes, item.placed->first, FirmwareVolume::kChecksummedLength);
        if (header && core::Sum16(*header) == 0) volumes.push_back(*item.placed);  // a volume by our rules
        const auto extendedHeader = core::ReadLe16(sample.bytes, item.placed->first + 52).value_or(0);
        if (inWalkedVolume && extendedHeader != 0) extendedHeaders.push_back(item.placed->first + extendedHeader);
      } else if (inWalkedVolume && item.depth == 2 && item.type == "File" && item.placed) {
        expectedFiles.push_back(*item.placed);
      }
    }
    std::vector<Placed> foundVolumes, foundFiles;
    FirmwareVolumes::Scan(
        sample.bytes, 0, sample.bytes.size(),
        [&](const FirmwareFile& file) {
          // The build tools wrap a volume's extended header in a pad file. We walk it like
          // any file (its name is never one we look for); UEFIExtract counts it as header.
          if (std::none_of(extendedHeaders.begin(), extendedHeaders.end(),
                           [&](uint64_t at) { return file.offset < at && at < file.offset + file.size; })) {
            foundFiles.emplace_back(file.offset, file.size);
          }
          return WalkControl::kContinue;
        },
        [&](const FirmwareVolume& volume) { foundVolumes.emplace_back(volume.offset, volume.length); });
    EXPECT_FALSE(volumes.empty());
    EXPECT_EQ(foundVolumes, volumes);
    EXPECT_EQ(foundFiles, expectedFiles);
    files += expectedFiles.size();
  }
  EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace nox::image
