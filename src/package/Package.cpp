#include "package/Package.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <utility>

#include "package/Lh5Decoder.h"

namespace nox::package {
namespace {

// A module must at least hold its own header and the data header.
constexpr size_t kMinModuleLength = kModuleHeaderSize + kDataHeaderSize;

bool ModuleFits(const Package& package, size_t offset, uint32_t length) {
  return length >= kMinModuleLength && core::InRange(package.bytes.size(), offset, length);
}

core::ByteSpan ModuleBytes(const Package& package, size_t offset, uint32_t length) {
  return core::ByteSpan(package.bytes).subspan(offset, length);
}

// The last valid package header starting in the first `last` bytes of `window`, which holds
// the file's bytes from `windowOffset` on: its file offset and length. Every occurrence of the
// tag is a candidate, since the program's own code and data may hold the tag too and only the
// header checksum tells those apart; the last valid one wins.
std::optional<std::pair<size_t, uint32_t>> LastPackageHeader(core::ByteSpan window, size_t windowOffset, size_t last,
                                                             uint64_t fileSize) {
  std::optional<std::pair<size_t, uint32_t>> found;
  const uint8_t* const bytes = window.data();
  const size_t limit = std::min(last, window.size() >= 4 ? window.size() - 3 : 0);
  for (size_t at = 0; at < limit; ++at) {
    const void* hit = std::memchr(bytes + at, kPackageTag[0], limit - at);
    if (hit == nullptr) break;
    at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - bytes);
    if (std::memcmp(bytes + at, kPackageTag, 4) != 0) continue;
    const auto header = core::SubSpan(window, at, kPackageHeaderSize);
    if (!header || core::Sum16(*header) != 0) continue;
    const uint32_t length = core::LoadLe32(header->data() + 4);
    if (length < kPackageHeaderSize || windowOffset + at + uint64_t{length} > fileSize) continue;
    found = std::pair{windowOffset + at, length};
  }
  return found;
}

}  // namespace

uint32_t OpenPackage(Package& package, const std::string& path) {
  ClosePackage(package);
  // Only a regular file holds a package: a FIFO would block the open, a directory or a
  // device has no size to read.
  std::error_code regular;
  if (!std::filesystem::is_regular_file(path, regular)) return kPackageUnreadable;
  std::ifstream in(path, std::ios::binary);
  if (!in) return kPackageUnreadable;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return kPackageUnreadable;
  if (size == 0) return kPackageFileEmpty;
  const auto fileSize = static_cast<uint64_t>(size);
  const auto read = [&in](uint64_t offset, uint8_t* to, size_t length) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(length)));
  };
  // The package sits behind the whole program: the file is read from its end, a window at a
  // time, each window with the 15 bytes behind it so that a header across its end is whole.
  constexpr size_t kWindow = 256 << 10;
  std::vector<uint8_t> window;
  try {
    for (uint64_t end = fileSize; end > 0;) {
      const uint64_t start = end > kWindow ? end - kWindow : 0;
      const uint64_t stop = std::min<uint64_t>(end + kPackageHeaderSize - 1, fileSize);
      window.resize(static_cast<size_t>(stop - start));
      if (!read(start, window.data(), window.size())) return kPackageUnreadable;
      const auto found = LastPackageHeader(window, static_cast<size_t>(start), static_cast<size_t>(end - start), fileSize);
      if (found) {
        const auto [offset, length] = *found;
        package.bytes.resize(length);
        if (offset + length <= stop) {
          std::copy_n(window.begin() + static_cast<std::ptrdiff_t>(offset - start), length, package.bytes.begin());
        } else if (!read(offset, package.bytes.data(), length)) {
          ClosePackage(package);
          return kPackageUnreadable;
        }
        package.fileOffset = offset;
        return kPackageOk;
      }
      end = start;
    }
  } catch (const std::bad_alloc&) {
    ClosePackage(package);
    return kPackageUnreadable;
  }
  return kPackageNotFound;
}

uint32_t OpenPackageImage(Package& package, core::ByteSpan file) {
  ClosePackage(package);
  if (file.empty()) return kPackageFileEmpty;
  const auto found = LastPackageHeader(file, 0, file.size(), file.size());
  if (!found) return kPackageNotFound;
  const auto [offset, length] = *found;
  package.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(offset),
                       file.begin() + static_cast<std::ptrdiff_t>(offset + length));
  package.fileOffset = offset;
  return kPackageOk;
}

uint32_t FindModule(const Package& package, std::string_view tag, size_t& dataHeaderOffset) {
  const size_t step = package.Step();
  const size_t length = package.bytes.size();
  if (step == 0 || tag.empty() || tag.size() > length) return 1;
  const uint8_t* const bytes = package.bytes.data();
  for (size_t offset = 0; offset < length - tag.size(); offset += step) {
    if (std::memcmp(bytes + offset, tag.data(), tag.size()) != 0) continue;
    const auto moduleLength = core::ReadLe32(package.bytes, offset + 4);
    if (!moduleLength || !ModuleFits(package, offset, *moduleLength)) continue;
    if (core::Sum16(ModuleBytes(package, offset, *moduleLength)) != 0) continue;
    dataHeaderOffset = offset + kModuleHeaderSize;
    return 0;
  }
  return 1;
}

uint32_t ExtractModule(const Package& package, std::string_view tag, ExtractedModule& out) {
  size_t dataHeader = 0;
  if (FindModule(package, tag, dataHeader) != 0) return 1;
  const size_t moduleOffset = dataHeader - kModuleHeaderSize;
  const uint32_t moduleLength = core::LoadLe32(package.bytes.data() + moduleOffset + 4);
  // The data may only come from inside the module the checksum vouched for.
  const core::ByteSpan data = core::ByteSpan(package.bytes).subspan(dataHeader, moduleOffset + moduleLength - dataHeader);
  const uint32_t stored = core::LoadLe32(data.data());
  const uint32_t expanded = core::LoadLe32(data.data() + 4);
  const size_t room = data.size() - kDataHeaderSize;
  if (expanded > kMaxExpandedSize) return 1;
  if (stored == expanded ? expanded > room : (stored < kDataHeaderSize || stored - kDataHeaderSize > room)) return 1;

  core::ByteBuffer buffer;
  try {
    // The content is written over whole (or the module is refused); only the slack is zeroed.
    buffer.resize(static_cast<size_t>(expanded) + kExtractSlack);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  std::fill(buffer.begin() + expanded, buffer.end(), 0);
  if (stored == expanded) {
    std::copy_n(data.begin() + kDataHeaderSize, expanded, buffer.begin());
  } else {
    // A stream that does not hold exactly the expanded size is damaged, whatever the checksum
    // says: the same silent refusal as a bad checksum.
    bool exact = false;
    if (ExpandModule(core::MutableByteSpan(buffer).first(expanded), data, &exact) != expanded || !exact) return 1;
  }
  out.data = std::move(buffer);
  out.size = expanded;
  return 0;
}

void ClosePackage(Package& package) {
  package.bytes.clear();
  package.bytes.shrink_to_fit();
  package.fileOffset = 0;
}

std::vector<ModuleInfo> ListModules(const Package& package) {
  std::vector<ModuleInfo> list;
  const size_t step = package.Step();
  if (step == 0) return list;
  const size_t length = package.bytes.size();
  size_t offset = (kPackageHeaderSize + step - 1) / step * step;
  while (core::InRange(length, offset, kModuleHeaderSize)) {
    const uint8_t* header = package.bytes.data() + offset;
    const uint32_t moduleLength = core::LoadLe32(header + 4);
    if (header[0] != '@' || !ModuleFits(package, offset, moduleLength)) {
      offset += step;
      continue;
    }
    ModuleInfo info;
    info.tag.assign(reinterpret_cast<const char*>(header), 4);
    info.offset = offset;
    info.length = moduleLength;
    info.storedSize = core::LoadLe32(header + kModuleHeaderSize);
    info.expandedSize = core::LoadLe32(header + kModuleHeaderSize + 4);
    info.compressed = info.storedSize != info.expandedSize;
    info.checksumOk = core::Sum16(ModuleBytes(package, offset, moduleLength)) == 0;
    list.push_back(info);
    offset += (moduleLength + step - 1) / step * step;
  }
  return list;
}

}  // namespace nox::package
