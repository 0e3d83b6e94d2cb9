// How many damaged packages still hand a ROM image to the flash run. A compressed module's
// -lh5- stream is damaged at random (bits flipped, bytes overwritten, cut short, garbage
// behind it, bytes dropped or inserted), the module's checksum word is sealed again so that
// the package reader's checksum passes, and the package reader is asked for the module.
// An image it hands over that differs from the original is what the utility would write.
//
//     nox_package_damage [PACKAGED-FILE] [--tag @R00] [--rounds 1000] [--seed 1]
//
// Without a file the package holds a synthetic 8 MiB flash image as "@R00".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/Lh5Decoder.h"
#include "package/Package.h"
#include "package/PackageWriter.h"

namespace {

using namespace nox::package;
using Bytes = std::vector<uint8_t>;

constexpr const char* kKinds[] = {"bits flipped", "bytes overwritten", "stream cut short", "garbage appended",
                                  "bytes dropped", "bytes inserted"};
constexpr int kKindCount = 6;

void Damage(Bytes& stream, int kind, std::mt19937& rng) {
  const auto at = [&](size_t n) { return n == 0 ? size_t{0} : size_t{rng()} % n; };
  const auto randomBytes = [&](size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
  };
  switch (kind) {
    case 0:
      for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
        stream[at(stream.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
      break;
    case 1: {
      const size_t start = at(stream.size());
      const Bytes b = randomBytes(std::min<size_t>(1 + rng() % 16, stream.size() - start));
      std::copy(b.begin(), b.end(), stream.begin() + static_cast<std::ptrdiff_t>(start));
      break;
    }
    case 2: stream.resize(at(stream.size())); break;
    case 3: {
      const Bytes b = randomBytes(1 + rng() % 64);
      stream.insert(stream.end(), b.begin(), b.end());
      break;
    }
    case 4: {
      const size_t start = at(stream.size());
      const size_t n = std::min<size_t>(1 + rng() % 16, stream.size() - start);
      stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(start),
                   stream.begin() + static_cast<std::ptrdiff_t>(start + n));
      break;
    }
    default: {
      const Bytes b = randomBytes(1 + rng() % 16);
      stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at(stream.size() + 1)), b.begin(), b.end());
      break;
    }
  }
}

// The module with its data header's stored size following the stream, padded to the step and
// sealed: a packager's checksum over damaged data.
Bytes SealedModule(const Bytes& original, const Bytes& stream) {
  Bytes module(original.begin(), original.begin() + kModuleHeaderSize + kDataHeaderSize);
  module.insert(module.end(), stream.begin(), stream.end());
  module.resize((module.size() + kModuleStep - 1) / kModuleStep * kModuleStep, 0);
  nox::core::StoreLe32(module.data() + 4, static_cast<uint32_t>(module.size()));
  nox::core::StoreLe32(module.data() + kModuleHeaderSize, static_cast<uint32_t>(stream.size() + kDataHeaderSize));
  SealChecksum(module, 8);
  return module;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file, tag = "@R00";
  int rounds = 1000;
  uint32_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 < argc && arg == "--tag") tag = argv[++i];
    else if (i + 1 < argc && arg == "--rounds") rounds = std::atoi(argv[++i]);
    else if (i + 1 < argc && arg == "--seed") seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 0));
    else if (arg[0] != '-') file = arg;
    else return std::fprintf(stderr, "usage: %s [PACKAGED-FILE] [--tag T] [--rounds N] [--seed S]\n", argv[0]), 2;
  }

  Package package;
  if (!file.empty()) {
    if (OpenPackage(package, file) != kPackageOk) return std::fprintf(stderr, "no package in %s\n", file.c_str()), 1;
  } else {
    const auto rom = BuildModule({"@R00", testdata::SyntheticRom(8 << 20, 1)});
    package.bytes = *BuildPackage({*rom});
  }
  std::vector<Bytes> modules;
  int target = -1;
  for (const ModuleInfo& m : ListModules(package)) {
    if (m.tag == tag && m.compressed && m.checksumOk && target < 0) target = static_cast<int>(modules.size());
    modules.emplace_back(package.bytes.begin() + static_cast<std::ptrdiff_t>(m.offset),
                         package.bytes.begin() + static_cast<std::ptrdiff_t>(m.offset + m.length));
  }
  ExtractedModule clean;
  if (target < 0 || ExtractModule(package, tag, clean) != 0)
    return std::fprintf(stderr, "no compressed module %s to damage\n", tag.c_str()), 1;
  const Bytes& original = modules[static_cast<size_t>(target)];
  const uint32_t stored = nox::core::LoadLe32(original.data() + kModuleHeaderSize);
  const Bytes stream(original.begin() + kModuleHeaderSize + kDataHeaderSize,
                     original.begin() + kModuleHeaderSize + stored);

  std::mt19937 rng(seed);
  int rejected[kKindCount] = {}, same[kKindCount] = {}, damaged[kKindCount] = {}, tried[kKindCount] = {};
  for (int round = 0; round < rounds; ++round) {
    const int kind = static_cast<int>(rng() % kKindCount);
    Bytes broken = stream;
    Damage(broken, kind, rng);
    std::vector<Bytes> parts = modules;
    parts[static_cast<size_t>(target)] = SealedModule(original, broken);
    Package damagedPackage;
    damagedPackage.bytes = *BuildPackage(parts);
    ExtractedModule out;
    ++tried[kind];
    if (ExtractModule(damagedPackage, tag, out) != 0) ++rejected[kind];
    else if (out.size == clean.size && std::equal(out.data.begin(), out.data.begin() + out.size, clean.data.begin()))
      ++same[kind];
    else ++damaged[kind];
  }
  int totals[3] = {};
  std::printf("%-18s %6s %9s %13s %14s\n", "damage", "rounds", "rejected", "same image", "damaged image");
  for (int k = 0; k < kKindCount; ++k) {
    std::printf("%-18s %6d %9d %13d %14d\n", kKinds[k], tried[k], rejected[k], same[k], damaged[k]);
    totals[0] += rejected[k];
    totals[1] += same[k];
    totals[2] += damaged[k];
  }
  std::printf("%-18s %6d %9d %13d %14d\n", "all", rounds, totals[0], totals[1], totals[2]);
  std::printf("%d of %d damaged packages hand a damaged image to the flash run\n", totals[2], rounds);
  return 0;
}
