#include "firmware/FirmwareDefaults.h"

#include "config/DefaultOptionMask.h"

namespace nox::firmware {

FirmwareDefaults::Outcome FirmwareDefaults::Fetch(config::ConfigStore& store, int32_t configBehaviour) {
  if (store.IsSelected(config::option::kSaveFile)) return Outcome::kSkipped;
  const bool scriptFixesOptions = configBehaviour == 0 || configBehaviour == 1;
  // A "cfgbhv:" script fixes the options; the firmware learns that from every declared bit
  // in the first word.
  sentOff_ = scriptFixesOptions ? config::default_mask::kDeclared : 0;
  sentSelected_ = config::DefaultOptionMask(store);
  const auto answer = ofbd_.CommandLineConfiguration(sentOff_, sentSelected_);
  if (!answer) return Outcome::kNotHandled;
  if (configBehaviour != -1 || store.IsSelected(kKeepOptionsOption)) return Outcome::kIgnored;
  config::ApplyDefaultOptionAnswer(store, answer->switchOn, answer->switchOff);
  return Outcome::kApplied;
}

}  // namespace nox::firmware
