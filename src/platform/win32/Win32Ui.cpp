#include <windows.h>
#include <commdlg.h>

#include <vector>

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

namespace {

// The common dialogs take the filter as zero-separated pairs ending in two zeros.
std::string SystemFilter(const std::string& filter) {
  std::string out = filter;
  for (char& c : out) {
    if (c == '|') c = '\0';
  }
  out.push_back('\0');
  return out;
}

std::optional<std::string> RunFileDialog(const ui::FileDialogSpec& spec, bool save) {
  std::vector<char> path(MAX_PATH, '\0');
  const std::string filter = SystemFilter(spec.filter);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrDefExt = spec.defaultExtension.empty() ? nullptr : spec.defaultExtension.c_str();
  ofn.Flags = spec.flags;
  const BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!chosen) return std::nullopt;
  return std::string(path.data());
}

}  // namespace

std::optional<std::string> Win32Ui::OpenFileDialog(const ui::FileDialogSpec& spec) {
  return RunFileDialog(spec, false);
}

std::optional<std::string> Win32Ui::SaveFileDialog(const ui::FileDialogSpec& spec) {
  return RunFileDialog(spec, true);
}

void Win32Ui::Beep() { MessageBeep(MB_OK); }

void Win32Ui::RunMainDialog(ui::MainDialogHost&) {
  MessageBoxA(nullptr, "The main dialog is not available in this version.", ui::kAppTitle, MB_OK);
}

}  // namespace nox::win32
