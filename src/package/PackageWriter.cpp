#include "package/PackageWriter.h"

#include <algorithm>

#include "package/Lh5Decoder.h"
#include "package/Package.h"

namespace nox::package {
namespace {

size_t RoundUpToStep(size_t n) { return (n + kModuleStep - 1) / kModuleStep * kModuleStep; }

}  // namespace

void SealChecksum(core::MutableByteSpan bytes, size_t checksumOffset) {
  core::WriteLe16(bytes, checksumOffset, 0);
  const uint16_t sum = core::Sum16(bytes);
  core::WriteLe16(bytes, checksumOffset, static_cast<uint16_t>(0x10000u - sum));
}

std::optional<std::vector<uint8_t>> BuildModule(const ModuleSource& source, const EncodeProgress& progress) {
  if (source.tag.size() != 4 || source.content.size() > kMaxExpandedSize) return std::nullopt;
  const uint32_t expanded = static_cast<uint32_t>(source.content.size());

  std::vector<uint8_t> stream;
  if (source.allowCompression && expanded > 0) stream = Lh5Encode(source.content, progress);
  // A compressed module is told apart by its stored size differing from the expanded size,
  // so a stream that is not strictly smaller than the content could not be read back.
  const bool compress = source.allowCompression && expanded > 0 && stream.size() + kDataHeaderSize < expanded;
  const std::vector<uint8_t>& data = compress ? stream : source.content;
  const uint32_t stored = compress ? static_cast<uint32_t>(stream.size() + kDataHeaderSize) : expanded;

  std::vector<uint8_t> module(RoundUpToStep(kModuleHeaderSize + kDataHeaderSize + data.size()), 0);
  std::copy(source.tag.begin(), source.tag.end(), module.begin());
  core::StoreLe32(module.data() + 4, static_cast<uint32_t>(module.size()));
  module[10] = source.driver ? 0x01 : 0x00;
  module[11] = 0xFF;
  std::fill_n(module.begin() + 12, 4, 0xFF);
  core::StoreLe32(module.data() + kModuleHeaderSize, stored);
  core::StoreLe32(module.data() + kModuleHeaderSize + 4, expanded);
  std::copy(data.begin(), data.end(), module.begin() + kModuleHeaderSize + kDataHeaderSize);
  SealChecksum(module, 8);
  return module;
}

std::optional<std::vector<uint8_t>> BuildPackage(const std::vector<std::vector<uint8_t>>& modules) {
  size_t total = kPackageHeaderSize;
  for (const auto& m : modules) total += m.size();
  if (total > UINT32_MAX) return std::nullopt;
  std::vector<uint8_t> package(kPackageHeaderSize, 0);
  package.reserve(total);
  std::copy_n(kPackageTag, 4, package.begin());
  core::StoreLe32(package.data() + 4, static_cast<uint32_t>(total));
  package[10] = kModuleStep;
  package[11] = 0x00;
  std::fill_n(package.begin() + 12, 4, 0xFF);
  SealChecksum(core::MutableByteSpan(package).first(kPackageHeaderSize), 8);
  for (const auto& m : modules) package.insert(package.end(), m.begin(), m.end());
  return package;
}

std::vector<uint8_t> AppendPackage(core::ByteSpan executable, core::ByteSpan package) {
  std::vector<uint8_t> out;
  out.reserve(executable.size() + package.size());
  out.insert(out.end(), executable.begin(), executable.end());
  out.insert(out.end(), package.begin(), package.end());
  return out;
}

}  // namespace nox::package
