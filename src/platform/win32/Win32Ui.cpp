#include <windows.h>

#include "platform/win32/Win32Ui.h"

namespace nox::win32 {

ui::Button Win32Ui::MessageBox(const std::string& text, const std::string& title, uint32_t style) {
  return static_cast<ui::Button>(MessageBoxA(nullptr, text.c_str(), title.c_str(), style));
}

std::optional<std::string> Win32Ui::AskPassword(const std::string& prompt) {
  // Without the password dialog a password cannot be typed; "/p=" still works.
  MessageBoxA(nullptr, "The password dialog is not available in this version; give the password with /p=.",
              prompt.c_str(), MB_OK | MB_ICONEXCLAMATION);
  return std::nullopt;
}

void Win32Ui::ShowKorvInfo(const ui::KorvInfo& info) {
  const std::string text = "NOTICE!!!\nRunning on an unsupport system.\n\nSystem Bios Update information\nSystem: " +
                           info.romSystem + "\nRevision: " + info.romRevision + "\nVendor: " + info.romVendor +
                           "\n\nCurrent System Bios information\nSystem: " + info.currentSystem +
                           "\nRevision: " + info.currentRevision + "\nVendor: " + info.currentVendor;
  MessageBoxA(nullptr, text.c_str(), "Korv Bios Flash", MB_OK);
}

void Win32Ui::RunMainDialog(ui::MainDialogHost&) {
  MessageBoxA(nullptr, "The main dialog is not available in this version.", ui::kAppTitle, MB_OK);
}

}  // namespace nox::win32
