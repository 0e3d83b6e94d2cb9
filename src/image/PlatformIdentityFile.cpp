#include "image/PlatformIdentityFile.h"

#include "image/FirmwareVolumes.h"

namespace nox::image {

const core::Guid PlatformIdentityFile::kName = core::GuidLiteral("30ACC954-36FF-4C09-B2F5-DFDDAB7002A5");

void PlatformIdentityFile::ScanRange(core::ByteSpan image, uint64_t start, uint64_t length) {
  if (Found()) return;
  FirmwareVolumes::Scan(image, start, length, [&](const FirmwareFile& file) {
    if (file.name != kName) return WalkControl::kContinue;
    imageOffset = static_cast<uint32_t>(file.offset);
    size = file.size;
    return WalkControl::kEndScan;
  });
}

}  // namespace nox::image
