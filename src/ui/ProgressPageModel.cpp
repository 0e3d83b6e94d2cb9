#include "ui/ProgressPageModel.h"

#include <algorithm>
#include <string_view>

#include "core/Format.h"
#include "core/Progress.h"

namespace nox::ui {

int EcPercent(uint16_t done, uint16_t total) {
  if (total == 0) return 0;
  return std::min(done * 100 / total, 100);
}

bool ProgressPageModel::Build(const FlashFacts& facts, uint32_t ecImageSize) {
  if (!map_.Build(facts)) return false;
  ecMaximum_ = static_cast<int>(ecImageSize / 128);
  ecStep_ = 32;
  ecPosition_ = 0;
  return true;
}

bool ProgressPageModel::SetStage(std::string text) {
  if (text == stage_) return false;
  stage_ = std::move(text);
  return true;
}

bool ProgressPageModel::SetVerb(const char* verb) {
  const std::string_view v(verb);
  if (stage_.size() == v.size() + region_.size() && stage_.starts_with(v) && stage_.ends_with(region_)) return false;
  stage_.assign(v).append(region_);
  return true;
}

const std::string& ProgressPageModel::ValueLabel() const {
  static const std::string address = "Address:", percent = "Percent:";
  return value_ == Value::kPercent ? percent : address;
}

std::string ProgressPageModel::ValueText() const {
  switch (value_) {
    case Value::kNone: return "0";
    case Value::kAddress: return AddressText(address_);
    case Value::kPercent: break;
  }
  return core::Format("%d%%", percent_);
}

CallbackEffect ProgressPageModel::Report(MapState state, const char* prefix, uint32_t address, uint32_t value,
                                         uint32_t length) {
  CallbackEffect effect;
  effect.stageChanged = SetVerb(prefix);
  // After an EC update the value field shows addresses again.
  value_ = Value::kAddress;
  atMarker_ = address == core::kProgressStart || address == core::kProgressEnd;
  address_ = map_.Update(address, value, length, state);
  // Reading is short and runs before the user could act; the others keep the window alive.
  effect.pumpMessages = state != MapState::kRead;
  return effect;
}

CallbackEffect ProgressPageModel::OnReading(uint32_t address, uint32_t value, uint32_t length) {
  return Report(MapState::kRead, "Reading ", address, value, length);
}

CallbackEffect ProgressPageModel::OnErasing(uint32_t address, uint32_t value, uint32_t length) {
  return Report(MapState::kErase, "Erasing ", address, value, length);
}

CallbackEffect ProgressPageModel::OnProgramming(uint32_t address, uint32_t value, uint32_t length) {
  return Report(MapState::kProgram, "Programming ", address, value, length);
}

CallbackEffect ProgressPageModel::OnVerifying(uint32_t address, uint32_t value, uint32_t length) {
  return Report(MapState::kVerify, "Verifying ", address, value, length);
}

CallbackEffect ProgressPageModel::OnEcProgress(uint16_t done, uint16_t total) {
  CallbackEffect effect;
  effect.stageChanged = SetStage("Programming EC.");
  value_ = Value::kPercent;
  percent_ = EcPercent(done, total);
  atMarker_ = false;
  ecPosition_ = std::min<int>(done, ecMaximum_);
  effect.pumpMessages = true;
  return effect;
}

}  // namespace nox::ui
