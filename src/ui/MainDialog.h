// The two sides of the main window. The flash run drives the window through `FlashDialog`
// (progress page, status texts, buttons); the window asks the application for the session's
// facts and hands it the Flash button through `MainDialogHost`.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <optional>

#include "ui/FlashMapModel.h"
#include "ui/InformationPageModel.h"
#include "ui/MainDialogModel.h"
#include "ui/ProgressPageModel.h"
#include "ui/SetupPageModel.h"

namespace nox::ui {

// What a flash run shows and switches on the window while it runs.
class FlashDialog {
 public:
  virtual ~FlashDialog() = default;

  // The page's progress callbacks, in the engine's (address or marker, value, length) form.
  virtual void OnReading(uint32_t address, uint32_t value, uint32_t length) = 0;
  virtual void OnErasing(uint32_t address, uint32_t value, uint32_t length) = 0;
  virtual void OnProgramming(uint32_t address, uint32_t value, uint32_t length) = 0;
  virtual void OnVerifying(uint32_t address, uint32_t value, uint32_t length) = 0;
  virtual void OnEcProgress(uint16_t done, uint16_t total) = 0;

  // While the ME region is programmed the map covers the whole part.
  virtual void SetMeUpdateInProgress(bool running) = 0;
  // "NVRAM.", "Main Bios.", "BB.", "NCB.", "EC.": what the callbacks name after their verb.
  virtual void SetRegionLabel(const std::string& label) = 0;
  // The stage field on its own: "Done.", "Failed!", "Erase Failed!", ...
  virtual void SetStatus(const std::string& text) = 0;
  // The two message lines of the progress page.
  virtual void SetMessageLines(const std::string& first, const std::string& second) = 0;
  virtual void ResetMap(ColorRef colour) = 0;
  virtual void ShowProgressPage() = 0;
  virtual void EnableFlashButton(bool enabled) = 0;
  virtual void EnableExitButton(bool enabled) = 0;
  // Brings the main window to the front and repaints the map.
  virtual void BringToFront() = 0;
  // The firmware's update-permission message the window's timer collected; empty when
  // updating is permitted.
  virtual std::string BlockingReason() const = 0;

  // The pages the window has; none when it started without them (an automatic run).
  virtual SetupPageModel* SetupPage() = 0;
  virtual InformationPageModel* InformationPage() = 0;
  // Brings the Setup page to the front and redraws it from its model.
  virtual void ShowSetupPage() = 0;
};

class MainDialogHost;

// A flash dialog whose state lives in the portable page model; a view derives from it and
// only draws.
class ModelFlashDialog : public FlashDialog {
 public:
  void OnReading(uint32_t address, uint32_t value, uint32_t length) override {
    Changed(page_.OnReading(address, value, length));
  }
  void OnErasing(uint32_t address, uint32_t value, uint32_t length) override {
    Changed(page_.OnErasing(address, value, length));
  }
  void OnProgramming(uint32_t address, uint32_t value, uint32_t length) override {
    Changed(page_.OnProgramming(address, value, length));
  }
  void OnVerifying(uint32_t address, uint32_t value, uint32_t length) override {
    Changed(page_.OnVerifying(address, value, length));
  }
  void OnEcProgress(uint16_t done, uint16_t total) override { Changed(page_.OnEcProgress(done, total)); }
  void SetMeUpdateInProgress(bool running) override { page_.Map().SetMeUpdateInProgress(running); }
  void SetRegionLabel(const std::string& label) override { page_.SetRegionLabel(label); }
  void SetStatus(const std::string& text) override { Changed({page_.SetStageText(text), false}); }
  void SetMessageLines(const std::string& first, const std::string& second) override {
    lines_ = {first, second};
    Changed({});
  }
  void ResetMap(ColorRef colour) override {
    page_.ResetMap(colour);
    Changed({});
  }
  void EnableFlashButton(bool enabled) override { flashEnabled_ = enabled; }
  void EnableExitButton(bool enabled) override { exitEnabled_ = enabled; }
  std::string BlockingReason() const override { return main_.PermissionMessage(); }
  SetupPageModel* SetupPage() override { return setup_ ? &*setup_ : nullptr; }
  InformationPageModel* InformationPage() override { return info_ ? &*info_ : nullptr; }
  const SetupPageModel* SetupPage() const { return setup_ ? &*setup_ : nullptr; }
  const InformationPageModel* InformationPage() const { return info_ ? &*info_ : nullptr; }

  // Builds the pages the start plan names from what the host knows.
  void CreatePages(MainDialogHost& host, const StartPlan& plan);

  ProgressPageModel& Page() { return page_; }
  const ProgressPageModel& Page() const { return page_; }
  MainDialogModel& Main() { return main_; }
  const std::pair<std::string, std::string>& MessageLines() const { return lines_; }
  bool FlashEnabled() const { return flashEnabled_; }
  bool ExitEnabled() const { return exitEnabled_; }

 protected:
  // The model changed; repaint, and let pending input through when the effect asks for it.
  virtual void Changed(const CallbackEffect& effect) = 0;

 private:
  ProgressPageModel page_;
  MainDialogModel main_;
  std::optional<SetupPageModel> setup_;
  std::optional<InformationPageModel> info_;
  std::pair<std::string, std::string> lines_;
  bool flashEnabled_ = false;
  bool exitEnabled_ = true;
};

// What the main window asks of the application.
class MainDialogHost {
 public:
  virtual ~MainDialogHost() = default;

  // The facts the window decides its start from; the span stays valid until the next call.
  virtual StartFacts Facts() = 0;
  // Carries out the parts of the start plan that change the session: releasing the
  // package's image and clearing the option selection.
  virtual void ApplyStartPlan(const StartPlan& plan) = 0;
  // What the map is built from, and the EC image size for the EC bar.
  virtual FlashFacts MapFacts() = 0;
  virtual uint32_t EcImageSize() = 0;
  // Whether an image is at hand to flash.
  virtual bool HasImage() = 0;
  // What the Information and Setup pages start from, and what the Setup page changes.
  virtual InformationFacts InfoFacts() = 0;
  virtual SetupFacts PageSetupFacts() = 0;
  virtual SetupBinding& Binding() = 0;

  // The timer's firmware side: true when updating is permitted; otherwise `message` holds
  // the firmware's text.
  virtual bool CheckUpdatePermission(std::string& message) = 0;
  virtual uint32_t ImageSize() = 0;
  // The flash size; re-reads the firmware's flash information when `reread` is set.
  virtual uint32_t FlashSize(bool reread) = 0;
  virtual uint32_t RetryCount() = 0;
  // Waits for the window's timer; the simulated machine's clock only moves.
  virtual void WaitMs(uint32_t ms) = 0;

  // The Open and Save buttons: a ROM file chosen and loaded, the machine's firmware saved.
  virtual void OpenRomFile(FlashDialog& dialog) = 0;
  virtual void SaveCurrentBios(FlashDialog& dialog) = 0;

  // The Flash button. Returns only when the run left the window open (a failed EC version
  // read); every other run ends the session or the machine.
  virtual void RunFlash(FlashDialog& dialog) = 0;
  // Exit, and every other way the window ends the session.
  [[noreturn]] virtual void EndSession(uint32_t errorId) = 0;
};

}  // namespace nox::ui
