#include "ui/MainDialog.h"

#include <algorithm>

namespace nox::ui {

void ModelFlashDialog::CreatePages(MainDialogHost& host, const StartPlan& plan) {
  const auto has = [&](ui::Page p) { return std::find(plan.pages.begin(), plan.pages.end(), p) != plan.pages.end(); };
  if (has(Page::kInformation)) {
    info_.emplace();
    info_->Fill(host.InfoFacts());
  }
  if (has(Page::kSetup)) {
    setup_.emplace(host.Binding());
    setup_->InitSetup(host.PageSetupFacts());
  }
}

}  // namespace nox::ui
