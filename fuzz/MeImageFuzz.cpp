// An image checked against the firmware's ME region answer, both from arbitrary bytes, and
// the region programmed from it the way the entire and ignition updates lay it out, with
// the handler's status bytes from the input.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "FuzzFirmware.h"
#include "firmware/MeRegion.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  std::array<uint8_t, 18> record{};
  const auto answer = in.Take(record.size());
  std::copy(answer.begin(), answer.end(), record.begin());
  firmware::MeCheckInput check{(flags & 1) != 0, (flags & 2) != 0, firmware::MeAnswer::From(record), in.Le32()};
  const auto answers = in.Take(in.Byte());
  const auto image = in.Rest();

  const auto result = firmware::CheckMeImage(image, check, [](const char*) {});
  if (result.regionFromFull && !core::InRange(image.size(), result.offset, result.size)) std::abort();
  if (result.ignitionImage && image.size() != check.kept.size) std::abort();

  fuzz::Input firmwareInput(answers.data(), answers.size());
  fuzz::FirmwareRig rig(firmwareInput);
  std::vector<uint8_t> scratch(firmware::me::kPieceSize);
  const firmware::MeProgram program = (flags & 4)
      ? firmware::MeProgram{0, check.kept.span, check.kept.start, image}
      : firmware::MeProgram{check.kept.start, check.kept.size, 0, image};
  firmware::ProgramMeRegion(rig.smi, program, scratch, {}, {});
  return 0;
}
