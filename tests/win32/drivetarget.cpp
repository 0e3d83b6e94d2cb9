// noxdrive's test target. Its exit code tells what reached it, one bit per kind of input, so
// that a script which claims success against it is checked by the program it drove:
//   1  the Ask box was answered Yes
//   2  the tick box ended checked after exactly three clicks
//   4  the edit holds "Hello, world" after fifteen change notifications (one per key typed,
//      one for clearing it)
//   8  the file dialog returned pick.txt
//   16 a second file dialog was cancelled
//   32 the tab "Second" was chosen through the tab strip's notification
//   64 the disabled box "Locked" ended checked
// The first line shows DRIVETARGET_GREETING and the first argument; the status line tells
// what happened last, the Ask answer only a moment later (for waits). "Locked" is enabled
// while the tick box is checked.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <cwchar>
#include <string>

#include "drivetarget.h"

namespace {

int received = 0;
int tickClicks = 0;
int editChanges = 0;

void Status(HWND dialog, const wchar_t* text) { SetDlgItemTextW(dialog, IDC_STATUS, text); }

void Open(HWND dialog) {
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = L"Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = MAX_PATH;
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&ofn)) {
    const wchar_t* name = path + ofn.nFileOffset;
    if (_wcsicmp(name, L"pick.txt") == 0) received |= 8;
    Status(dialog, (std::wstring(L"opened ") + name).c_str());
  } else if (CommDlgExtendedError() == 0) {
    received |= 16;
    Status(dialog, L"open canceled");
  }
}

int Finish(HWND dialog) {
  wchar_t text[64] = {};
  GetDlgItemTextW(dialog, IDC_EDIT, text, 64);
  if (std::wstring(text) == L"Hello, world" && editChanges == 15) received |= 4;
  if (IsDlgButtonChecked(dialog, IDC_TICK) == BST_CHECKED && tickClicks == 3) received |= 2;
  if (IsDlgButtonChecked(dialog, IDC_LOCKED) == BST_CHECKED) received |= 64;
  return received;
}

INT_PTR CALLBACK PageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

INT_PTR CALLBACK TargetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const HWND tabs = GetDlgItem(dialog, IDC_TABS);
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<wchar_t*>(L"First");
      SendMessageW(tabs, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      item.pszText = const_cast<wchar_t*>(L"Second");
      SendMessageW(tabs, TCM_INSERTITEMW, 1, reinterpret_cast<LPARAM>(&item));
      const HWND page = CreateDialogW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PAGE), dialog, PageProc);
      RECT at{7, 86, 0, 0};
      MapDialogRect(dialog, &at);
      SetWindowPos(page, nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      SetDlgItemTextW(dialog, IDC_GREETING, reinterpret_cast<const wchar_t*>(lParam));
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_ASK:
          if (MessageBoxW(dialog, L"Shall we go on?", L"Drive Target", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            received |= 1;
            SetTimer(dialog, 1, 300, nullptr);
          }
          return TRUE;
        case IDC_TICK:
          if (HIWORD(wParam) == BN_CLICKED) {
            ++tickClicks;
            EnableWindow(GetDlgItem(dialog, IDC_LOCKED), IsDlgButtonChecked(dialog, IDC_TICK) == BST_CHECKED);
          }
          return TRUE;
        case IDC_EDIT:
          if (HIWORD(wParam) == EN_CHANGE) ++editChanges;
          return TRUE;
        case IDC_OPEN:
          Open(dialog);
          return TRUE;
        case IDC_QUIT:
        case IDCANCEL:
          EndDialog(dialog, Finish(dialog));
          return TRUE;
      }
      return FALSE;
    case WM_TIMER:
      KillTimer(dialog, wParam);
      Status(dialog, L"answered Yes");
      return TRUE;
    case WM_NOTIFY: {
      const auto* note = reinterpret_cast<const NMHDR*>(lParam);
      if (note->idFrom == IDC_TABS && note->code == TCN_SELCHANGE) {
        if (SendMessageW(note->hwndFrom, TCM_GETCURSEL, 0, 0) == 1) {
          received |= 32;
          Status(dialog, L"tab Second");
        }
      }
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  // The dialog template names its own window class, as the utility's dialogs do.
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = DefDlgProcW;
  cls.cbWndExtra = DLGWINDOWEXTRA;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = L"DriveTargetDlg";
  if (!RegisterClassExW(&cls)) return 255;

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const wchar_t* greeting = _wgetenv(L"DRIVETARGET_GREETING");
  std::wstring first = std::wstring(greeting ? greeting : L"") + L" " + (argv && argc > 1 ? argv[1] : L"");
  return static_cast<int>(
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_TARGET), nullptr, TargetProc, reinterpret_cast<LPARAM>(first.c_str())));
}
