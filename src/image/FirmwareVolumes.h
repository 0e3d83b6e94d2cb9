// Finds firmware volumes in a stretch of a ROM image (or of a copy of the machine's flash)
// by their "_FVH" signature and walks the files of those that hold a firmware file system.
// Everything here reads outside bytes, so every header and every file is checked against
// the buffer and against what is left of its volume before it is looked at.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "core/Bytes.h"
#include "core/Guid.h"

namespace nox::image {

struct FirmwareVolume {
  static constexpr size_t kSignatureOffset = 40;
  static constexpr size_t kChecksummedLength = 64;

  uint64_t offset = 0;  // of the volume header in the buffer
  uint32_t length = 0;  // low 32 bits of the volume length
  uint16_t headerLength = 0;
  uint16_t extendedHeaderOffset = 0;  // from the volume header; 0 when there is none
  core::Guid fileSystem;

  // Only the two firmware file systems carry files; NV-data stores and anything else
  // keep their own formats and are stepped over whole.
  bool HasFileSystem() const;
};

struct FirmwareFile {
  static constexpr size_t kHeaderSize = 24;
  static constexpr uint32_t kErasedSize = 0xFFFFFF;

  core::Guid name;
  uint64_t offset = 0;  // of the file header in the buffer
  uint32_t size = 0;    // 24-bit size, header included
};

// What a file visitor wants next.
enum class WalkControl { kContinue, kEndVolume, kEndScan };

class FirmwareVolumes {
 public:
  // Volumes are searched 64 KiB at a time; a volume found moves the search to its end.
  static constexpr uint64_t kWindowSize = 65536;

  using FileVisitor = std::function<WalkControl(const FirmwareFile&)>;
  using VolumeVisitor = std::function<void(const FirmwareVolume&)>;

  // Scans [start, start + length) of `buffer` (clipped to the buffer) for volumes and hands
  // every file of every walked volume to `onFile`; `onVolume`, when given, sees every
  // volume whose header checks out, walked or not.
  static void Scan(core::ByteSpan buffer, uint64_t start, uint64_t length, const FileVisitor& onFile,
                   const VolumeVisitor& onVolume = {});

  // The volume whose "_FVH" signature stands at `signatureOffset`, if its header fits the
  // buffer and its first 64 header bytes sum to 0 in 16-bit words.
  static std::optional<FirmwareVolume> ReadVolume(core::ByteSpan buffer, uint64_t signatureOffset);

  // The name GUID of the volume's extended header, when it has one that lies after the
  // header, inside the volume and inside the buffer.
  static std::optional<core::Guid> VolumeName(core::ByteSpan buffer, const FirmwareVolume& volume);

  static const core::Guid kFileSystem1;
  static const core::Guid kFileSystem2;
};

}  // namespace nox::image
