// The user-interface port: message boxes, the password dialog, the unsupported-system
// dialog and the main dialog. Windows shows real dialogs; the terminal prints each box
// and reads the answer from standard input, so scripts and tests can drive a run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

// <windows.h> renames MessageBox to MessageBoxA; the port's method keeps its own name in
// every translation unit.
#ifdef MessageBox
#undef MessageBox
#endif

namespace nox::ui {

// Buttons, numbered as the Windows message box answers them.
enum class Button : int { kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7 };

// Message box styles, the Windows values: the button set in the low nibble, the icon above.
namespace style {
inline constexpr uint32_t kOk = 0x00;
inline constexpr uint32_t kOkCancel = 0x01;
inline constexpr uint32_t kYesNo = 0x04;
inline constexpr uint32_t kRetryCancel = 0x05;
inline constexpr uint32_t kIconError = 0x10;
inline constexpr uint32_t kIconQuestion = 0x20;
inline constexpr uint32_t kIconWarning = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;
inline constexpr uint32_t kButtonMask = 0x0F;
}  // namespace style

// File dialog flags, the Windows values.
namespace file_flag {
inline constexpr uint32_t kOverwritePrompt = 0x00000002;
inline constexpr uint32_t kHideReadOnly = 0x00000004;
inline constexpr uint32_t kPathMustExist = 0x00000800;
inline constexpr uint32_t kFileMustExist = 0x00001000;
inline constexpr uint32_t kEnableSizing = 0x00800000;
}  // namespace file_flag

// A file-open or file-save dialog: the filter as pairs of "description|pattern|" ending in
// "||", the extension added to a name typed without one (empty: none), and the flags.
struct FileDialogOptions {
  std::string filter;
  std::string defaultExtension;
  uint32_t flags = 0;
};

// The caption of the image transfer.
inline constexpr const char* kImageTransferText = "Loading image into firmware memory";

// The title of boxes that name none of their own.
inline constexpr const char* kAppTitle = "NOXWINGUI";

// The six values of the unsupported-system dialog.
struct KorvInfo {
  std::string romSystem;        // "%s %X": ROM system name, ROM extended ID
  std::string romRevision;      // "%c%c%c"
  std::string romVendor;        // "Korv Inc."
  std::string currentSystem;
  std::string currentRevision;
  std::string currentVendor;
};

class MainDialogHost;

class Ui {
 public:
  virtual ~Ui() = default;
  virtual Button MessageBox(const std::string& text, const std::string& title, uint32_t style) = 0;
  // The entered password, or none when the user cancelled.
  virtual std::optional<std::string> AskPassword(const std::string& prompt) = 0;
  virtual void ShowKorvInfo(const KorvInfo& info) = 0;
  virtual void RunMainDialog(MainDialogHost& host) = 0;
  // The chosen path, or none when the user cancelled.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) = 0;
  // The system's default sound: an edit refused a character.
  virtual void Beep() = 0;
  // The image going into the firmware's memory before any window is up: `sent` of `total`
  // bytes; total 0 says the transfer is over.
  virtual void ShowImageTransfer(uint32_t sent, uint32_t total) = 0;

  // Called around every wait for the user, so that a request to stop the program that came
  // meanwhile is acted on there rather than taken for an answer.
  void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }

 protected:
  void Waiting() const {
    if (waitHook_) waitHook_();
  }

 private:
  std::function<void()> waitHook_;
};

}  // namespace nox::ui
