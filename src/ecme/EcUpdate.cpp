#include "ecme/EcUpdate.h"

#include <algorithm>
#include <vector>

#include "core/Bytes.h"
#include "core/Format.h"

namespace nox::ecme {

using namespace ec;

namespace {

constexpr const char* kPrefix = " - Writing EC Flash ........ ";

// The begin request carries a word of the image's header when the header says so.
std::optional<uint32_t> HeaderWord(std::span<const uint8_t> image) {
  const auto flag = core::ReadLe32(image, 20);
  const auto word = core::ReadLe16(image, 32);
  if (!flag || *flag == 0 || !word) return std::nullopt;
  return *word;
}

}  // namespace

uint32_t UpdateEcFirmware(EcUpdateEnv& env, std::span<const uint8_t> image) {
  const auto padded = static_cast<uint32_t>((image.size() + kBlock - 1) / kBlock * kBlock);
  if (image.empty() || padded == 0) return kErrInvalidImage;
  // The request and up to 4 KiB of data share one block of 5120 bytes from here on.
  if (env.smi.ReleaseSmiBuffer() != 0) return kErrRelease;
  if (!env.smi.AllocateSharedBlock(kSharedSize)) return kErrAllocate;
  env.smi.ZeroBlock();
  std::vector<uint8_t> data(padded, 0);
  std::copy(image.begin(), image.end(), data.begin());
  const auto say = [&](const std::string& text) {
    if (env.console) env.console(text);
  };

  if (const uint32_t error = env.ofbd.EcTransfer(kBegin, {}, HeaderWord(image)); error != 0) return error;
  const uint32_t total = padded / kBlock;
  uint32_t piece = kPieceBlocks;
  uint32_t written = 0;
  int failures = 0;
  uint32_t lastData = 0;
  while (written < total) {
    if (written + piece >= total) piece = total - written;
    lastData = env.ofbd.EcTransfer(kData, std::span<const uint8_t>(data).subspan(size_t{written} * kBlock, size_t{piece} * kBlock),
                                   std::nullopt);
    if (lastData != 0) {
      // The allowance covers the whole image; a success in between does not restore it.
      if (++failures > kFailureLimit) {
        if (written > 0) say(core::Format("%sfailed            \r\n", kPrefix));
        break;
      }
    } else {
      const uint32_t bytes = (written + piece) * kBlock;
      say(core::Format("%s0x%08lX (%d%%) \r", kPrefix, static_cast<unsigned long>(bytes),
                       static_cast<int>(uint64_t{bytes} * 100 / padded)));
      written += piece;
    }
    env.clock.SleepMs(kPieceWaitMs);
    if (env.progress) env.progress(static_cast<uint16_t>(written), static_cast<uint16_t>(total));
  }
  env.clock.SleepMs(kEndWaitMs);
  const uint32_t end = env.ofbd.EcTransfer(kEnd, {}, std::nullopt);
  if (end == 0 && lastData == 0) say(core::Format("%sdone              \r\n", kPrefix));
  if (lastData != 0) return lastData;
  if (end == 0) say(" - Flash completely !!! Successful.\n");
  return end;
}

}  // namespace nox::ecme
