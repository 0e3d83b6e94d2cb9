#include "app/MeUpdate.h"

#include "firmware/MeRegion.h"

namespace nox::app {

namespace {

constexpr uint8_t kBeginIgnition = 1;
constexpr uint8_t kEndIgnition = 2;
constexpr uint8_t kBeginEntire = 4;
constexpr uint8_t kEndEntire = 5;

// Where the region lies and what is written there. The entire update covers the part from
// address 0 to the span, all but the head that holds the descriptor; the ignition update
// the ME region alone, as the region query of the ignition variant placed it.
firmware::MeProgram ProgramOf(Session& s, bool entire) {
  const firmware::MeAnswer kept = firmware::MeAnswer::From(s.ofbd.KeptMeAnswer());
  std::span<const uint8_t> full = s.LoadedImage();
  firmware::MeProgram program;
  if (entire) {
    program = {0, kept.span, kept.start, full};
  } else {
    program = {s.meTarget[0], s.meTarget[1], 0, {}};
    if (s.meIgnitionImage) {
      program.source = s.Image();
    } else if (program.base <= full.size()) {
      program.source = full.subspan(program.base);
    }
  }
  return program;
}

// The begin request; a range an earlier run left open (it was killed, or its programming
// failed before the end) is locked first, since the firmware refuses a second begin.
uint32_t BeginMe(Session& s, bool entire) {
  const uint32_t result = s.ofbd.MeRegionQuery(entire ? kBeginEntire : kBeginIgnition);
  if (result == 0 || s.ofbd.MeRegionQuery(entire ? kEndEntire : kEndIgnition) != 0) return result;
  return s.ofbd.MeRegionQuery(entire ? kBeginEntire : kBeginIgnition);
}

}  // namespace

bool MeRegionHoldsImage(Session& s) {
  const bool entire = s.config.IsSelected(config::option::kMeEntire);
  const firmware::MeProgram program = ProgramOf(s, entire);
  if (program.source.size() < program.length || program.head > program.length) return true;
  if (BeginMe(s, entire) != 0) return false;
  std::span<uint8_t> piece = s.Scratch();
  bool same = !piece.empty();
  for (uint32_t at = program.head; same && at < program.length;) {
    const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(piece.size()), program.length - at);
    same = s.smi.ReadFlash(program.base + at, length, piece.first(length)) &&
           std::equal(piece.begin(), piece.begin() + length, program.source.begin() + at);
    at += length;
  }
  s.ofbd.MeRegionQuery(entire ? kEndEntire : kEndIgnition);
  return same;
}

uint32_t UpdateMe(Session& s, ui::FlashDialog& dialog) {
  const bool entire = s.config.IsSelected(config::option::kMeEntire);
  os::OsServices& os = s.platform.os;
  os.SetFlashProtection(true);
  const firmware::MeProgram program = ProgramOf(s, entire);
  uint32_t result = BeginMe(s, entire);
  if (result == 0) {
    dialog.SetMeUpdateInProgress(true);
    dialog.SetRegionLabel(entire ? "ME Entire." : "ME Ignition.");
    result = firmware::ProgramMeRegion(
        s.smi, program, s.Scratch(), [&](uint32_t a, uint32_t v, uint32_t l) { dialog.OnErasing(a, v, l); },
        [&](uint32_t a, uint32_t v, uint32_t l) { dialog.OnProgramming(a, v, l); });
    dialog.SetMeUpdateInProgress(false);
    // The range is locked again whatever the programming did: left open, it would turn the
    // next run's begin away.
    const uint32_t ended = s.ofbd.MeRegionQuery(entire ? kEndEntire : kEndIgnition);
    if (result == 0) result = ended;
  }
  os.SetFlashProtection(false);
  return result;
}

}  // namespace nox::app
