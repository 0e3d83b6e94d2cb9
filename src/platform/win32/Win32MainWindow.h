// The main window, CNOXWINGUIDlg: four buttons and, above them, the property sheet with the
// Information, Setup and Progress pages (only Progress when the window starts the flash by
// itself). Its state lives in the portable models; this class turns window messages into
// model calls and model changes into painting.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "platform/win32/Win32Pages.h"
#include "platform/win32/Win32ProgressPage.h"
#include "ui/MainDialog.h"

namespace nox::win32 {

class MainWindow final : public ui::ModelFlashDialog {
 public:
  MainWindow(ui::MainDialogHost& host, HINSTANCE instance);
  ~MainWindow() override;

  // Runs the window modally until it closes.
  void Run();
  HWND Handle() const { return window_; }

  void EnableFlashButton(bool enabled) override;
  void EnableExitButton(bool enabled) override;
  void SetMessageLines(const std::string& first, const std::string& second) override;
  void ShowProgressPage() override;
  void ShowSetupPage() override;
  void BringToFront() override;

 protected:
  void Changed(const ui::CallbackEffect& effect) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND window);
  void CreateSheet();
  void OnTimer();
  void OnCommand(int id);
  void SelectPage(ui::Page page);
  // Lets the window paint and answer while the flash runs on its thread.
  void PumpMessages();

  ui::MainDialogHost& host_;
  HINSTANCE instance_;
  HWND window_ = nullptr;
  HWND sheet_ = nullptr;
  bool timerRunning_ = false;
  // A flash or save is running inside a command; the window answers no other command then.
  bool busy_ = false;
  // The automatic start posted the Flash command while the button is still disabled.
  bool flashPosted_ = false;
  std::vector<ui::Page> pages_;
  static constexpr ULONGLONG kRepaintIntervalMs = 40;
  ULONGLONG lastPaint_ = 0;
  ULONGLONG lastPump_ = 0;
  std::unique_ptr<InformationPageView> information_;
  std::unique_ptr<SetupPageView> setup_;
  std::unique_ptr<ProgressPageView> progress_;
};

}  // namespace nox::win32
