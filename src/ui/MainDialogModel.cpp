#include "ui/MainDialogModel.h"

#include <algorithm>

namespace nox::ui {

std::string MainWindowTitle(const std::optional<std::string>& versionSuffix) {
  std::string title = "NOXWINGUI v.";
  title += "1.05";
  if (versionSuffix) title += "." + *versionSuffix;
  return title;
}

bool DecideAutoRun(const StartFacts& facts) {
  if (!facts.packageSuppliedRom && !facts.scriptNamedRom) return false;
  return std::ranges::any_of(facts.selectedOptionIds, [](uint32_t id) {
    return std::ranges::find(kAutoRunOptionIds, id) != std::end(kAutoRunOptionIds);
  });
}

std::optional<StartPlan> MainDialogModel::Start(const StartFacts& facts) {
  if (initialised_) return std::nullopt;
  initialised_ = true;
  autoRun_ = DecideAutoRun(facts);
  StartPlan plan;
  plan.autoRun = autoRun_;
  plan.releasePackageRom = !autoRun_ && facts.packageSuppliedRom;
  plan.clearOptionSelection = !autoRun_;
  plan.title = MainWindowTitle(facts.versionSuffix);
  if (autoRun_) plan.pages = {Page::kProgress};
  else plan.pages = {Page::kInformation, Page::kSetup, Page::kProgress};
  plan.flashEnabled = false;
  return plan;
}

void MainDialogModel::OnPermissionCheck(bool permitted, const std::string& messageText) {
  if (permitted) message_.clear();
  else message_ += messageText;
}

TickPlan MainDialogModel::Tick(uint32_t imageSize, const std::function<uint32_t(bool reread)>& flashSize,
                               uint32_t retryCount) {
  TickPlan plan;
  if (!autoRun_ || started_) return plan;
  plan.stopTimer = true;
  plan.disableOpenAndSave = true;
  started_ = true;
  bool matches = imageSize == flashSize(false);
  for (uint32_t attempt = 0; !matches && attempt < retryCount; ++attempt) matches = imageSize == flashSize(true);
  if (!matches) {
    // The run must not start on a mismatch: the session ends before the flash is posted.
    plan.message = kSizeMismatchText;
    plan.endSessionId = kSizeMismatchErrorId;
    return plan;
  }
  plan.postFlash = true;
  return plan;
}

}  // namespace nox::ui
