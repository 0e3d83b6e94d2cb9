#include "image/FirmwareVolumes.h"

#include <algorithm>
#include <cstring>

namespace nox::image {

const core::Guid FirmwareVolumes::kFileSystem1 = core::GuidLiteral("7A9354D9-0468-444A-81CE-0BF617D890DF");
const core::Guid FirmwareVolumes::kFileSystem2 = core::GuidLiteral("8C8CE578-8A3D-4F1C-9935-896185C32DD3");

bool FirmwareVolume::HasFileSystem() const {
  return fileSystem == FirmwareVolumes::kFileSystem1 || fileSystem == FirmwareVolumes::kFileSystem2;
}

namespace {

constexpr char kSignature[4] = {'_', 'F', 'V', 'H'};

// The search looks at every byte of a ROM, so the first byte is tested on its own.
bool SignatureAt(core::ByteSpan buffer, uint64_t offset) {
  return core::InRange(buffer.size(), offset, sizeof kSignature) && buffer[offset] == kSignature[0] &&
         std::memcmp(buffer.data() + offset, kSignature, sizeof kSignature) == 0;
}

uint64_t RoundUp8(uint64_t value) { return (value + 7) & ~uint64_t{7}; }

// Walks the files of one volume. Returns false when the visitor ended the whole scan.
bool WalkFiles(core::ByteSpan buffer, const FirmwareVolume& volume, const FirmwareVolumes::FileVisitor& onFile) {
  uint64_t walked = volume.headerLength;
  uint64_t fileOffset = volume.offset + volume.headerLength;
  while (walked < volume.length) {
    const uint64_t remaining = volume.length - walked;
    if (remaining < FirmwareFile::kHeaderSize) return true;
    const auto header = core::SubSpan(buffer, fileOffset, FirmwareFile::kHeaderSize);
    if (!header) return true;
    const uint32_t size = core::LoadLe32(header->data() + 20) & 0xFFFFFF;
    // Erased space ends the file list; a size of 0 (a large-file header we do not read, or
    // garbage) would otherwise keep the walk on the same header forever; a size smaller
    // than a header or larger than what is left cannot describe a file inside this volume.
    if (size == FirmwareFile::kErasedSize || size < FirmwareFile::kHeaderSize || size > remaining ||
        !core::InRange(buffer.size(), fileOffset, size)) {
      return true;
    }
    FirmwareFile file;
    file.name = *core::Guid::FromBytes(*header);
    file.offset = fileOffset;
    file.size = size;
    switch (onFile(file)) {
      case WalkControl::kContinue: break;
      case WalkControl::kEndVolume: return true;
      case WalkControl::kEndScan: return false;
    }
    const uint64_t step = RoundUp8(size);
    walked += step;
    fileOffset += step;
  }
  return true;
}

}  // namespace

std::optional<FirmwareVolume> FirmwareVolumes::ReadVolume(core::ByteSpan buffer, uint64_t signatureOffset) {
  // A signature too close to the start of the buffer has no room for the header before it.
  if (signatureOffset < FirmwareVolume::kSignatureOffset) return std::nullopt;
  const uint64_t start = signatureOffset - FirmwareVolume::kSignatureOffset;
  const auto header = core::SubSpan(buffer, start, FirmwareVolume::kChecksummedLength);
  if (!header || core::Sum16(*header) != 0) return std::nullopt;
  FirmwareVolume volume;
  volume.offset = start;
  volume.fileSystem = *core::Guid::FromBytes(header->subspan(16, core::Guid::kSize));
  volume.length = core::LoadLe32(header->data() + 32);
  volume.headerLength = core::LoadLe16(header->data() + 48);
  volume.extendedHeaderOffset = core::LoadLe16(header->data() + 52);
  return volume;
}

std::optional<core::Guid> FirmwareVolumes::VolumeName(core::ByteSpan buffer, const FirmwareVolume& volume) {
  constexpr uint32_t kNameAndSize = core::Guid::kSize + 4;
  const uint32_t at = volume.extendedHeaderOffset;
  if (at == 0 || at < volume.headerLength) return std::nullopt;
  const auto extended = core::SubSpan(buffer, volume.offset + at, kNameAndSize);
  if (!extended) return std::nullopt;
  // An extended header reaching past the end of its volume, or too short to hold its own
  // fields, belongs to a damaged volume: its bytes are not a name.
  const uint32_t size = core::LoadLe32(extended->data() + core::Guid::kSize);
  if (size < kNameAndSize || !core::InRange(volume.length, at, size)) return std::nullopt;
  return core::Guid::FromBytes(*extended);
}

void FirmwareVolumes::Scan(core::ByteSpan buffer, uint64_t start, uint64_t length, const FileVisitor& onFile,
                           const VolumeVisitor& onVolume) {
  const uint64_t end = std::min<uint64_t>(buffer.size(), start + std::min<uint64_t>(length, buffer.size()));
  uint64_t position = start;
  while (position < end) {
    const uint64_t windowEnd = std::min(position + kWindowSize, end);
    uint64_t next = windowEnd;
    // A signature may start anywhere in the window; its last bytes may lie in the next one.
    for (uint64_t at = position; at < windowEnd && at + sizeof kSignature <= end;) {
      if (!SignatureAt(buffer, at)) {
        ++at;
        continue;
      }
      const auto volume = ReadVolume(buffer, at);
      if (!volume) {
        at += sizeof kSignature;
        continue;
      }
      if (onVolume) onVolume(*volume);
      if (volume->HasFileSystem() && !WalkFiles(buffer, *volume, onFile)) return;
      // A volume that claims to end before its own signature must not send the search back.
      next = std::max(volume->offset + volume->length, at + sizeof kSignature);
      break;
    }
    position = next;
  }
}

}  // namespace nox::image
