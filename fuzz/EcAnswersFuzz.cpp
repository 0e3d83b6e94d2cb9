// The EC side from arbitrary bytes: the firmware's answers to the EC transfer of an image
// (the image and the answers from the input), and the EC version words the utility compares
// before it decides to send one: a "$ECB" record or block table fields, the word in the
// flash and the word in the image.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "FuzzFirmware.h"
#include "ecme/EcUpdate.h"
#include "image/FlashLayout.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.Byte();

  image::EcBlockRecord record{in.Byte(), in.Le32(), in.Le32(), in.Le16(), in.Le32()};
  std::vector<firmware::FlashBlockEntry> blocks{{in.Le32(), in.Le32(), firmware::block_type::kEc}};
  image::FlashLayout layout;
  layout.SetBlockTable(blocks, in.Le32(), in.Le32());
  const auto flash = in.Take(in.Le16());
  const auto ecImage = in.Take(in.Le16() % 16384);
  const auto image = in.Rest();
  std::vector<uint8_t> scratch(flags & 1 ? 4096 : 64);
  layout.CheckEcNewer(image, flags & 2 ? std::optional(record) : std::nullopt, scratch,
                      [&](uint32_t address, std::span<uint8_t> to) {
                        if (to.size() > scratch.size()) std::abort();
                        if (!core::InRange(flash.size(), address, to.size())) return false;
                        std::copy_n(flash.begin() + address, to.size(), to.begin());
                        return true;
                      });

  // The answers are the flash bytes: what a broken handler leaves is as arbitrary.
  fuzz::Input answers(flash.data(), flash.size());
  fuzz::FirmwareRig rig(answers);
  firmware::Ofbd ofbd(rig.smi);
  ecme::EcUpdateEnv env{rig.smi, ofbd, rig.port, [](const std::string&) {}, [](uint16_t written, uint16_t total) {
                          if (written > total) std::abort();
                        }};
  ecme::UpdateEcFirmware(env, ecImage);
  return 0;
}
