// The volume scanner against UEFIExtract on the OVMF firmware images of the distribution:
// images and a tool that nobody here made. UEFIExtract's report lists every volume and
// file with its offset in the image and its size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>

#include "image/FirmwareVolumes.h"

namespace nox::image {
namespace {

namespace fs = std::filesystem;
using Placed = std::pair<uint64_t, uint64_t>;  // offset, size

struct Listing {
  std::vector<Placed> volumes, files;
  std::set<uint64_t> extendedHeaders;  // where a walked volume's extended header starts
};

// UEFIExtract's report in the scanner's terms: every volume of the image itself (not those
// nested in files) whose first 64 header bytes sum to 0, and the files of the firmware file
// systems among them. A placed line reads
// " Volume          | FFSv2                 | 00000000 | 001AC000 | DDE14FD0 | - 48DB5E17-..."
// with one dash per level of the tree.
Listing ReadReport(const fs::path& report, const std::vector<uint8_t>& bytes) {
  static const std::regex kLine(R"(^ (\w+)[^|]*\|[^|]*\| ([0-9A-F]{8}) \| ([0-9A-F]{8}) \|[^|]*\| (-+) )");
  Listing out;
  std::ifstream in(report);
  bool walked = false;  // whether the image's last volume is one whose files count
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_search(line, m, kLine)) continue;
    const Placed item{std::stoull(m[2], nullptr, 16), std::stoull(m[3], nullptr, 16)};
    if (m[4].length() == 2 && walked && m[1] == "File") out.files.push_back(item);
    if (m[4].length() != 1) continue;
    const auto header = core::SubSpan(bytes, item.first, FirmwareVolume::kChecksummedLength);
    const bool volume = m[1] == "Volume" && header && core::Sum16(*header) == 0;
    if (volume) out.volumes.push_back(item);
    const auto fileSystem = volume ? core::Guid::FromBytes(header->subspan(16, 16)) : std::nullopt;
    walked = fileSystem && (*fileSystem == FirmwareVolumes::kFileSystem1 || *fileSystem == FirmwareVolumes::kFileSystem2);
    const uint16_t extendedHeader = core::ReadLe16(bytes, item.first + 52).value_or(0);
    if (walked && extendedHeader != 0) out.extendedHeaders.insert(item.first + extendedHeader);
  }
  return out;
}

// Every volume UEFIExtract reports is found at the same offset with the same length, and
// the files of the firmware file systems at the same offsets with the same sizes. Each
// distinct image is checked once (the directory holds symbolic links to some of them),
// from a copy in a directory of our own: test processes may run side by side.
TEST(OvmfImages, VolumesAndFilesAreFoundWhereUefiExtractFindsThem) {
  const fs::path tool = "/usr/bin/UEFIExtract", images = "/usr/share/OVMF";
  if (!fs::exists(tool) || !fs::is_directory(images)) GTEST_SKIP() << "UEFIExtract or the OVMF images are not installed";
  const fs::path work = fs::temp_directory_path() / ("nox-ovmf-" + std::to_string(std::random_device{}()));
  fs::create_directories(work);
  std::set<fs::path> seen;
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(images)) {
    if (entry.path().extension() != ".fd" || !seen.insert(fs::canonical(entry.path())).second) continue;
    SCOPED_TRACE(entry.path());
    const fs::path copy = work / entry.path().filename();
    fs::copy_file(entry.path(), copy);
    EXPECT_EQ(std::system((tool.string() + " '" + copy.string() + "' report >/dev/null 2>&1").c_str()), 0);
    std::ifstream in(copy, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const Listing expected = ReadReport(copy.string() + ".report.txt", bytes);
    Listing found;
    FirmwareVolumes::Scan(
        bytes, 0, bytes.size(),
        [&](const FirmwareFile& file) {
          // The build tools wrap a volume's extended header in a pad file. We walk it like
          // any file (its name is never one we look for); UEFIExtract counts it as header.
          if (!expected.extendedHeaders.contains(file.offset + FirmwareFile::kHeaderSize)) {
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
  fs::remove_all(work);
  EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace nox::image
