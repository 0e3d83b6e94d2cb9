// The volume scanner against UEFIExtract on the OVMF firmware images of the distribution:
// images and a tool that nobody here made. UEFIExtract's report lists every volume and
// file with its offset in the image and its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

struct Item {
  std::string type;
  std::string subtype;
  int depth = 0;
  bool hasBase = false;
  uint64_t base = 0;
  uint64_t size = 0;
};

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

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
    item.type = Trim(cells[0]);
    item.subtype = Trim(cells[1]);
    const std::string base = Trim(cells[2]);
    item.hasBase = base != "N/A";
    if (item.hasBase) item.base = std::stoull(base, nullptr, 16);
    item.size = std::stoull(Trim(cells[3]), nullptr, 16);
    const std::string name = Trim(cells[5]);
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
const std::vector<Sample>& Samples() {
  static const std::vector<Sample> samples = [] {
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
      if (std::system(command.c_str()) == -1) continue;
      fs::path report = copy;
      report += ".report.txt";
      if (!fs::exists(report)) continue;
      Sample sample;
      sample.name = entry.path().filename().string();
      std::ifstream in(copy, std::ios::binary);
      sample.bytes.assign(std::istreambuf_iterator<char>(in), {});
      sample.report = ParseReport(report);
      out.push_back(std::move(sample));
    }
    fs::remove_all(work);
    return out;
  }();
  return samples;
}

struct Scanned {
  std::vector<FirmwareVolume> volumes;
  std::vector<std::pair<uint64_t, uint64_t>> files;  // offset, size
};

Scanned ScanImage(const std::vector<uint8_t>& bytes) {
  Scanned scanned;
  FirmwareVolumes::Scan(
      bytes, 0, bytes.size(),
      [&](const FirmwareFile& file) {
        scanned.files.emplace_back(file.offset, file.size);
        return WalkControl::kContinue;
      },
      [&](const FirmwareVolume& volume) { scanned.volumes.push_back(volume); });
  return scanned;
}

// The volumes of the image itself (not those nested in files), as UEFIExtract reports them.
std::vector<Item> TopVolumes(const Sample& sample) {
  std::vector<Item> volumes;
  for (const auto& item : sample.report) {
    if (item.type == "Volume" && item.depth == 1 && item.hasBase) volumes.push_back(item);
  }
  return volumes;
}

TEST(OvmfImages, EveryVolumeWithAValidHeaderIsFoundAtTheSameOffset) {
  if (Samples().empty()) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  for (const auto& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    const auto reported = TopVolumes(sample);
    ASSERT_FALSE(reported.empty());
    const Scanned scanned = ScanImage(sample.bytes);
    std::map<uint64_t, uint32_t> found;
    for (const auto& volume : scanned.volumes) found[volume.offset] = volume.length;
    std::set<uint64_t> expected;
    for (const auto& volume : reported) {
      const auto header = core::SubSpan(sample.bytes, volume.base, FirmwareVolume::kChecksummedLength);
      ASSERT_TRUE(header.has_value());
      if (core::Sum16(*header) != 0) continue;  // not a volume by our rules
      expected.insert(volume.base);
      ASSERT_TRUE(found.count(volume.base)) << std::hex << volume.base;
      EXPECT_EQ(found[volume.base], volume.size) << std::hex << volume.base;
    }
    EXPECT_FALSE(expected.empty());
    for (const auto& [offset, length] : found) EXPECT_TRUE(expected.count(offset)) << "extra volume at " << std::hex << offset;
  }
}

TEST(OvmfImages, FilesOfTheFirmwareFileSystemsAreFoundAtTheSameOffsetsAndSizes) {
  if (Samples().empty()) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  size_t compared = 0;
  for (const auto& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    std::vector<std::pair<uint64_t, uint64_t>> expected;
    std::vector<uint64_t> extendedHeaders;
    bool inWalkedVolume = false;
    for (const auto& item : sample.report) {
      if (item.depth == 1) {
        inWalkedVolume = false;
        if (item.type == "Volume" && item.hasBase) {
          const auto guid = core::SubSpan(sample.bytes, item.base + 16, 16);
          const auto fileSystem = guid ? core::Guid::FromBytes(*guid) : std::nullopt;
          inWalkedVolume = fileSystem && (*fileSystem == FirmwareVolumes::kFileSystem1 ||
                                          *fileSystem == FirmwareVolumes::kFileSystem2);
          const auto extendedHeader = core::ReadLe16(sample.bytes, item.base + 52);
          if (inWalkedVolume && extendedHeader.value_or(0) != 0) extendedHeaders.push_back(item.base + *extendedHeader);
        }
      } else if (inWalkedVolume && item.depth == 2 && item.type == "File") {
        expected.emplace_back(item.base, item.size);
      }
    }
    // The build tools wrap a volume's extended header in a pad file. We walk it like any
    // file (its name is never one we look for); UEFIExtract counts it as header.
    Scanned scanned = ScanImage(sample.bytes);
    std::erase_if(scanned.files, [&](const auto& file) {
      return std::any_of(extendedHeaders.begin(), extendedHeaders.end(), [&](uint64_t at) {
        return file.first < at && at < file.first + file.second;
      });
    });
    EXPECT_EQ(scanned.files, expected);
    compared += expected.size();
  }
  EXPECT_GT(compared, 0u);
}

}  // namespace
}  // namespace nox::image
