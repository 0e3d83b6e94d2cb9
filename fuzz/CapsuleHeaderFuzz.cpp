// Capsule headers in arbitrary images: the header at the start and the one behind the
// marker GUID, and the hand-over of the image to a firmware that takes every piece, which
// sends the embedded header ahead of the image.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzFirmware.h"
#include "firmware/SecureFlash.h"

using namespace nox;

namespace {

void CheckHeader(std::span<const uint8_t> image, const std::optional<firmware::CapsuleHeaderAt>& header) {
  if (!header) return;
  const auto guid = firmware::secure::CapsuleGuid().ToBytes();
  if (!core::InRange(image.size(), header->offset, header->length) ||
      header->length < firmware::secure::kMinHeaderLength ||
      std::memcmp(image.data() + header->offset, guid.data(), guid.size()) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const core::ByteSpan image(data, size);
  CheckHeader(image, firmware::LeadingCapsuleHeader(image));
  const auto embedded = firmware::EmbeddedCapsuleHeader(image);
  CheckHeader(image, embedded);

  // A firmware that takes every piece; the input has no say in it.
  fuzz::Input none(nullptr, 0);
  fuzz::FirmwareRig rig(none);
  rig.port.firmware = [](std::vector<uint8_t>& block) {
    block[12] |= 1;   // handled
    block[44] = 0;    // the piece's status: taken
  };
  firmware::Ofbd ofbd(rig.smi);
  firmware::SecureFlash secure(rig.smi, ofbd);
  uint32_t sent = 0;
  secure.LoadImageToFirmware(image, 0, [&](uint32_t total, uint32_t offset, uint32_t) {
    if (total != 0 && (total != size || offset >= size)) std::abort();
    ++sent;
  });
  const bool startsWithGuid = size >= 16 && std::memcmp(data, firmware::secure::CapsuleGuid().ToBytes().data(), 16) == 0;
  if (secure.CapsuleHeaderSent() && (!embedded || startsWithGuid)) std::abort();
  if (secure.ImageLoaded() && sent != (size + firmware::secure::kPieceSize - 1) / firmware::secure::kPieceSize + 1) std::abort();
  return 0;
}
