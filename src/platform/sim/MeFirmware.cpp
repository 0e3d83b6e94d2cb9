#include "platform/sim/MeFirmware.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "core/Bytes.h"
#include "platform/sim/Machine.h"

namespace nox::sim {
namespace {

constexpr size_t kRecord = 22;
constexpr uint16_t kHandled = 0x0001;

}  // namespace

uint16_t MeFirmware::Serve(std::span<uint8_t> block, nlohmann::json& detail) {
  const Profile& p = machine_.GetProfile();
  const MeProfile& me = p.me;
  uint8_t* rec = block.data() + kRecord;
  const uint8_t selector = rec[1];
  const bool ignition = selector < 3;
  if (!me.present || !(ignition ? me.ignition : me.entire)) return 0;
  std::optional<MeWindow>& window = machine_.MutableState().meWindow;
  const MeWindow wanted = ignition ? MeWindow{1, me.regionStart, me.regionStart + me.regionSize} : MeWindow{4, 0, me.span};
  const char* refused = nullptr;
  if (selector % 3 == 1 && window) refused = "a begin while a range is unlocked";
  if (selector % 3 == 2 && !window) refused = "an end without its begin";
  if (selector % 3 == 2 && window && window->selector != wanted.selector) refused = "an end of the other variant";
  const bool failing = std::find(me.failSelectors.begin(), me.failSelectors.end(), selector) != me.failSelectors.end();
  if (refused != nullptr) {
    detail["refused"] = refused;
  } else if (failing) {
    detail["fault"] = "failing selector";
  }
  const bool done = refused == nullptr && !failing;
  switch (selector % 3) {
    case 0:
      if (done) {
        core::StoreLe32(rec + 2, me.regionStart);
        core::StoreLe32(rec + 6, me.regionSize);
        core::StoreLe32(rec + 10, me.span);
        core::StoreLe32(rec + 14, p.flash.size);
      }
      break;
    case 1:
      if (done) {
        window = wanted;
        detail["unlocked"] = {wanted.start, wanted.end};
      }
      break;
    default:
      // A failing end still locks: the firmware could not finish, but it does not leave the
      // chip open behind it.
      if (refused == nullptr) {
        detail["locked"] = {window->start, window->end};
        window.reset();
      }
      break;
  }
  rec[0] = done ? kDone : kRefused;
  detail["answer"] = rec[0];
  return kHandled;
}

}  // namespace nox::sim
