#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

// After <windows.h>, which would rename the port's MessageBox.
#include "platform/win32/Win32Ui.h"

#include <algorithm>
#include <vector>

#include "core/Format.h"

#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/Win32MainWindow.h"
#include "platform/win32/res/resource.h"

namespace nox::win32 {

namespace {

// Boxes and dialogs belong to the main window while it is up, so that it takes no input
// behind them.
HWND Owner() { return GetActiveWindow(); }

// The common dialogs take the filter as zero-separated pairs ending in two zeros.
std::string SystemFilter(const std::string& filter) {
  std::string out = filter;
  for (char& c : out) {
    if (c == '|') c = '\0';
  }
  out.push_back('\0');
  return out;
}

std::optional<std::string> RunFileDialog(const ui::FileDialogOptions& options, bool save) {
  std::vector<char> path(MAX_PATH, '\0');
  const std::string filter = SystemFilter(options.filter);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = Owner();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = path.data();
  ofn.nMaxFile = static_cast<DWORD>(path.size());
  ofn.lpstrDefExt = options.defaultExtension.empty() ? nullptr : options.defaultExtension.c_str();
  ofn.Flags = options.flags;
  const BOOL chosen = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
  if (!chosen) return std::nullopt;
  return std::string(path.data());
}

}  // namespace

Win32Ui::Win32Ui() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                     ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}

ui::Button Win32Ui::MessageBox(const std::string& text, const std::string& title, uint32_t style) {
  return static_cast<ui::Button>(MessageBoxA(Owner(), text.c_str(), title.c_str(), style));
}

std::optional<std::string> Win32Ui::AskPassword(const std::string& prompt) {
  return RunPasswordDialog(Owner(), prompt);
}

void Win32Ui::ShowKorvInfo(const ui::KorvInfo& info) { RunKorvInfoDialog(Owner(), info); }

void Win32Ui::RunMainDialog(ui::MainDialogHost& host) {
  MainWindow window(host, GetModuleHandleA(nullptr));
  window.Run();
}

std::optional<std::string> Win32Ui::OpenFileDialog(const ui::FileDialogOptions& options) {
  return RunFileDialog(options, false);
}

std::optional<std::string> Win32Ui::SaveFileDialog(const ui::FileDialogOptions& options) {
  return RunFileDialog(options, true);
}

void Win32Ui::Beep() { MessageBeep(MB_OK); }

void Win32Ui::ShowImageTransfer(uint32_t sent, uint32_t total) {
  HWND window = static_cast<HWND>(transfer_);
  if (total == 0) {
    if (window) DestroyWindow(window);
    transfer_ = nullptr;
    return;
  }
  if (!window) {
    window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_IMAGE_TRANSFER), nullptr,
                                   [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (!window) return;
    transfer_ = window;
    SendDlgItemMessageA(window, IDC_TRANSFER_BAR, PBM_SETRANGE32, 0, 1000);
  }
  const WPARAM position = static_cast<WPARAM>(uint64_t{std::min(sent, total)} * 1000 / total);
  SendDlgItemMessageA(window, IDC_TRANSFER_BAR, PBM_SETPOS, position, 0);
  const std::string text = core::Format("%s: %d%%", ui::kImageTransferText, static_cast<int>(position / 10));
  SetDlgItemTextA(window, IDC_TRANSFER_TEXT, text.c_str());
  // Nothing else runs the message loop while the image goes across.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace nox::win32
