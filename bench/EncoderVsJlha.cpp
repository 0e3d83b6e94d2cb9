// Compressed size and time of our -lh5- encoder against jlha's on the same inputs.
// Usage: nox_encoder_vs_jlha [files...]   (default: a synthetic ROM and the OVMF images)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/Lh5Encoder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct JlhaResult {
  size_t packed = 0;
  double seconds = 0;
  bool ok = false;
};

JlhaResult RunJlha(const std::vector<uint8_t>& input) {
  const auto dir = std::filesystem::temp_directory_path() / "nox_encoder_vs_jlha";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "in.bin").string(), std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
  const std::string command = "cd '" + dir.string() + "' && /usr/bin/jlha a2o5q out.lzh in.bin >/dev/null 2>&1";
  JlhaResult r;
  const auto start = Clock::now();
  const int rc = std::system(command.c_str());
  r.seconds = Seconds(start);
  const auto archive = nox::package::testdata::ReadFile((dir / "out.lzh").string());
  std::filesystem::remove_all(dir);
  if (rc != 0 || !archive) return r;
  const auto packed = nox::core::ReadLe32(*archive, 7);
  if (!packed || archive->size() < 7 || std::string(archive->begin() + 2, archive->begin() + 7) != "-lh5-") return r;
  r.packed = *packed;
  r.ok = true;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs;
  if (argc > 1) {
    for (int i = 1; i < argc; ++i)
      if (auto f = nox::package::testdata::ReadFile(argv[i])) inputs.emplace_back(argv[i], *f);
  } else {
    inputs.emplace_back("synthetic ROM 8 MiB", nox::package::testdata::SyntheticRom(8 << 20, 1));
    inputs.emplace_back("code-like 2 MiB", nox::package::testdata::CodeLike(2 << 20, 2));
    for (const char* name : {"OVMF_CODE.fd", "OVMF_VARS.fd", "OVMF_CODE_4M.fd"})
      if (auto f = nox::package::testdata::ReadFile(std::string("/usr/share/OVMF/") + name)) inputs.emplace_back(name, *f);
  }
  // jlha's start-up is timed on a one-byte file and taken off its times.
  const double startup = RunJlha(std::vector<uint8_t>{'x'}).seconds;
  std::printf("jlha start-up %.3f s, taken off its times below\n", startup);
  std::printf("%-22s %10s %10s %10s %8s %9s %9s %7s\n", "input", "bytes", "ours", "jlha", "size%", "ours s", "jlha s",
              "time x");
  int worse = 0;
  for (const auto& [name, data] : inputs) {
    const auto start = Clock::now();
    const size_t ours = nox::package::Lh5Encode(data).size();
    const double oursSeconds = Seconds(start);
    JlhaResult jlha = RunJlha(data);
    jlha.seconds = std::max(jlha.seconds - startup, 1e-6);
    if (!jlha.ok) {
      std::printf("%-22s %10zu %10zu %10s\n", name.c_str(), data.size(), ours, "n/a");
      continue;
    }
    const double sizePercent = 100.0 * static_cast<double>(ours) / static_cast<double>(jlha.packed);
    const double timeRatio = oursSeconds / jlha.seconds;
    std::printf("%-22s %10zu %10zu %10zu %7.2f%% %9.3f %9.3f %7.2f\n", name.c_str(), data.size(), ours, jlha.packed,
                sizePercent, oursSeconds, jlha.seconds, timeRatio);
    if (sizePercent > 101.0 || timeRatio > 2.0) ++worse;
  }
  std::printf("%s\n", worse == 0 ? "within 1% of jlha's size and 2x its time" : "outside the targets");
  return worse == 0 ? 0 : 1;
}
