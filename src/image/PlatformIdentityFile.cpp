#include "image/PlatformIdentityFile.h"

#include "image/FirmwareVolumes.h"

namespace nox::image {

const core::Guid PlatformIdentityFile::kName = core::GuidLiteral("30ACC954-36FF-4C09-B2F5-DFDDAB7002A5");

void PlatformIdentityFile::ScanRange(core::ByteSpan image, uint64_t start, uint64_t length) {
  if (Found()) return;
  uint64_t walking = 0;
  FirmwareVolumes::Scan(
      image, start, length,
      [&](const FirmwareFile& file) {
        if (file.name != kName) return WalkControl::kContinue;
        imageOffset = static_cast<uint32_t>(file.offset);
        size = file.size;
        volumeOffset = static_cast<uint32_t>(walking);
        return WalkControl::kEndScan;
      },
      [&](const FirmwareVolume& volume) { walking = volume.offset; });
}

std::optional<core::Guid> IdentityVolumeName(core::ByteSpan image, const PlatformIdentityFile& file) {
  if (!file.Found()) return std::nullopt;
  const auto volume = FirmwareVolumes::ReadVolume(image, uint64_t{file.volumeOffset} + FirmwareVolume::kSignatureOffset);
  if (!volume) return std::nullopt;
  return FirmwareVolumes::VolumeName(image, *volume);
}

}  // namespace nox::image
