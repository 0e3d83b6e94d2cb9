// The main window's decisions, apart from any window: whether it starts the flash by itself,
// which pages it shows, its title, and what each 500 ms tick does. The dialog passes in the
// session's facts and carries out what the model answers.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nox::ui {

// Option ids that select something to flash: "p", "b", "n", "e", "meuf", "me", "K", "KN[0-7]".
inline constexpr uint32_t kAutoRunOptionIds[] = {3, 4, 5, 7, 41, 42, 8, 9};

inline constexpr uint32_t kTimerIntervalMs = 500;
// The property sheet's top-left corner, relative to the placeholder's.
inline constexpr int kSheetOffset = -5;
inline constexpr uint32_t kSizeMismatchErrorId = 48;
inline constexpr const char* kSizeMismatchText = "Firmware file size does not match existing Firmware size.";

enum class Page { kInformation, kSetup, kProgress };

// What the window knows when it opens.
struct StartFacts {
  bool packageSuppliedRom = false;  // the data package carried a ROM image
  bool scriptNamedRom = false;      // the embedded command script named a ROM file
  std::span<const uint32_t> selectedOptionIds;
  std::optional<std::string> versionSuffix;
};

// What the window does when it opens.
struct StartPlan {
  bool autoRun = false;
  bool releasePackageRom = false;  // the user picks a file with Open instead
  bool clearOptionSelection = false;  // the Setup page starts from its own defaults
  std::string title;
  std::vector<Page> pages;
  bool flashEnabled = false;
};

// What one tick of timer 0 tells the window to do.
struct TickPlan {
  bool stopTimer = false;
  bool disableOpenAndSave = false;
  std::optional<std::string> message;    // show this box
  std::optional<uint32_t> endSessionId;  // then end the session with this error id
  bool postFlash = false;                // run the flash from the message loop
};

// "NOXWINGUI v.1.05", with "." and the suffix when one is configured.
std::string MainWindowTitle(const std::optional<std::string>& versionSuffix);

bool DecideAutoRun(const StartFacts& facts);

class MainDialogModel {
 public:
  // A second start of an already started window changes nothing and answers nothing.
  std::optional<StartPlan> Start(const StartFacts& facts);

  // The update-permission check ran; its message text is collected until updating is permitted.
  void OnPermissionCheck(bool permitted, const std::string& messageText);

  // The automatic start, once. imageSize is the loaded image's; flashSize answers the flash
  // size, re-reading the firmware's flash information on every call after the first.
  TickPlan Tick(uint32_t imageSize, const std::function<uint32_t(bool reread)>& flashSize, uint32_t retryCount);

  bool AutoRun() const { return autoRun_; }
  bool Started() const { return started_; }
  const std::string& PermissionMessage() const { return message_; }

 private:
  bool initialised_ = false;
  bool autoRun_ = false;
  bool started_ = false;
  std::string message_;
};

}  // namespace nox::ui
