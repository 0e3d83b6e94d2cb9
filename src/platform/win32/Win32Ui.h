// The Windows user interface: message boxes and file dialogs of the system, and the
// program's own dialogs from its resources (main window, password, unsupported system).
#pragma once

#include "ui/Ui.h"

namespace nox::win32 {

class Win32Ui final : public ui::Ui {
 public:
  Win32Ui();
  ui::Button MessageBox(const std::string& text, const std::string& title, uint32_t style) override;
  std::optional<std::string> AskPassword(const std::string& prompt) override;
  void ShowKorvInfo(const ui::KorvInfo& info) override;
  void RunMainDialog(ui::MainDialogHost& host) override;
  std::optional<std::string> OpenFileDialog(const ui::FileDialogOptions& options) override;
  std::optional<std::string> SaveFileDialog(const ui::FileDialogOptions& options) override;
  void Beep() override;
  // A small window of its own: no other window is up while the image goes across.
  void ShowImageTransfer(uint32_t sent, uint32_t total) override;

 private:
  void* transfer_ = nullptr;  // the window while the transfer runs
};

}  // namespace nox::win32
