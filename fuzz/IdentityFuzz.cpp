// Identity markers from arbitrary bytes: the image's identity file (found through its
// volumes) and the marker blocks read in it or in the whole image, the firmware's identity
// area and model-name area, and the markers of its F segment. The first byte is the
// firmware's name index, the next four the identity file region.
#include <cstdint>
#include <cstdlib>

#include "FuzzFirmware.h"
#include "image/PlatformIdentityFile.h"
#include "policy/SystemIdentity.h"

using namespace nox;

namespace {

void CheckRom(const policy::SystemIdentity& id) {
  if (id.rom.systemName.Text().size() > policy::ModelName::kCopied) std::abort();
  if (id.rom.extensionList.back() != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  policy::SystemIdentity id;
  id.systemNameIndex = in.Byte();
  const uint16_t regionOffset = in.Le16();
  const uint16_t regionSize = in.Le16();
  const auto image = in.Rest();

  image::PlatformIdentityFile file;
  file.ScanRange(image, 0, image.size());
  if (file.Found()) {
    if (!core::InRange(image.size(), file.imageOffset, file.size) || file.volumeOffset > file.imageOffset) std::abort();
    image::IdentityVolumeName(image, file);
    policy::ReadRomIdentity(id, image, policy::RomScanMode::kIdentityFile, file.imageOffset, file.size);
    CheckRom(id);
  }
  policy::ReadRomIdentity(id, image, policy::RomScanMode::kIdentityFile, regionOffset, regionSize);
  CheckRom(id);
  policy::ReadRomIdentity(id, image, policy::RomScanMode::kWholeImage);
  CheckRom(id);

  // The same bytes as the firmware's areas: the model-name area is what follows the
  // identity area, as in the firmware's buffer.
  const size_t split = std::min<size_t>(image.size(), 4096);
  policy::ReadIdentityArea(id, image.first(split), image.subspan(split));
  policy::ReadSegmentMarkers(id, image, (id.systemNameIndex & 1) != 0);
  if (id.currentSystemName.Text().size() > policy::ModelName::kCopied) std::abort();
  policy::MakeKorvInfo(id);
  return 0;
}
