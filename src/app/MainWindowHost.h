// The application side of the main window: the session's facts the window decides from,
// the firmware's update-permission check for its timer, and the flash run behind its Flash
// button.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Session.h"
#include "app/SessionSetupBinding.h"
#include "ui/MainDialog.h"

namespace nox::app {

class MainWindowHost final : public ui::MainDialogHost {
 public:
  explicit MainWindowHost(Session& session) : s_(session), binding_(session) {}

  ui::StartFacts Facts() override;
  void ApplyStartPlan(const ui::StartPlan& plan) override;
  ui::FlashFacts MapFacts() override;
  uint32_t EcImageSize() override;
  bool HasImage() override { return !s_.Image().empty(); }
  ui::InformationFacts InfoFacts() override;
  ui::SetupFacts PageSetupFacts() override;
  ui::SetupBinding& Binding() override { return binding_; }
  void OpenRomFile(ui::FlashDialog& dialog) override;
  void SaveCurrentBios(ui::FlashDialog& dialog) override;
  bool CheckUpdatePermission(std::string& message) override;
  // A bare ME region was measured against the ME region the firmware named when it was
  // loaded; against the flash size it would never fit.
  uint32_t ImageSize() override {
    return s_.meIgnitionImage ? s_.smi.TotalFlashSize() : static_cast<uint32_t>(s_.Image().size());
  }
  uint32_t FlashSize(bool reread) override;
  uint32_t RetryCount() override { return s_.flashSession.retryCount; }
  void WaitMs(uint32_t ms) override { s_.platform.os.SleepMs(ms); }
  void RunFlash(ui::FlashDialog& dialog) override;
  [[noreturn]] void EndSession(uint32_t errorId) override;

 private:
  Session& s_;
  SessionSetupBinding binding_;
  std::vector<uint32_t> selected_;
};

}  // namespace nox::app
