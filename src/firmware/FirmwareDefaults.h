// The firmware's say in a run's options: it learns which options are selected and may
// answer with options to switch on and off, unless the package's script fixed the options.
#pragma once

#include <cstdint>

#include "config/ConfigStore.h"
#include "firmware/Ofbd.h"

namespace nox::firmware {

class FirmwareDefaults {
 public:
  // Selected, this option keeps the firmware's answer out. The built-in table has no record
  // for it, so with that table the answer is always applied.
  static constexpr uint32_t kKeepOptionsOption = 47;

  enum class Outcome {
    kSkipped,     // saving the current firmware needs no defaults; nothing was sent
    kNotHandled,  // the firmware does not know the exchange
    kIgnored,     // answered, but the script or option 47 keeps the options as they are
    kApplied,
  };

  explicit FirmwareDefaults(Ofbd& ofbd) : ofbd_(ofbd) {}

  // `configBehaviour` is the package script's: -1 without a "cfgbhv:" word, else 0 or 1.
  Outcome Fetch(config::ConfigStore& store, int32_t configBehaviour);

  // What was sent last: the switch-off mask and the mask of the selected options.
  uint32_t SentOffMask() const { return sentOff_; }
  uint32_t SentSelectedMask() const { return sentSelected_; }

 private:
  Ofbd& ofbd_;
  uint32_t sentOff_ = 0;
  uint32_t sentSelected_ = 0;
};

}  // namespace nox::firmware
