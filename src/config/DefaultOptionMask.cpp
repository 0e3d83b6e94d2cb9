#include "config/DefaultOptionMask.h"

#include <array>

namespace nox::config {
namespace {

using namespace default_mask;

constexpr std::array<DefaultMaskBit, 13> kTable = {{
    {kMainBios, option::kMainBios},
    {kBootBlock, option::kBootBlock},
    {kNvram, option::kNvram},
    {kNcb, option::kAllNcb},
    {kEc, option::kEc},
    {kSilent, option::kSilent},
    {kReboot, option::kReboot},
    {kNoRomIdCheck, option::kNoRomIdCheck},
    {kShowSystemRomId, option::kShowSystemRomId},
    {kEcIfNewer, option::kEcIfNewer},
    {kShutdown, option::kShutdown},
    {kRomHole, option::kRomHole},
    {kOption50, 50},
}};

constexpr uint32_t AllBits() {
  uint32_t bits = 0;
  for (const DefaultMaskBit& b : kTable) bits |= b.bit;
  return bits;
}
static_assert(AllBits() == (kDeclared | kOption50));

}  // namespace

std::span<const DefaultMaskBit> DefaultMaskTable() { return kTable; }

uint32_t DefaultOptionMask(const ConfigStore& store) {
  uint32_t mask = 0;
  for (const DefaultMaskBit& b : kTable) {
    if (store.IsSelected(b.option)) mask |= b.bit;
  }
  return mask;
}

void ApplyDefaultOptionAnswer(ConfigStore& store, uint32_t switchOn, uint32_t switchOff) {
  for (const DefaultMaskBit& b : kTable) {
    if ((switchOn & b.bit) != 0 && !store.IsSelected(b.option)) store.SelectCommand(b.option, true);
  }
  for (const DefaultMaskBit& b : kTable) {
    if ((switchOff & b.bit) == 0) continue;
    store.SelectCommand(b.option, false);
    // Switching the non-critical blocks off means none of them, not just "all of them".
    if (b.bit == kNcb) store.SelectCommand(option::kNcbN, false);
  }
}

}  // namespace nox::config
