#include "platform/win32/Win32Dialogs.h"

#include "platform/win32/res/resource.h"

namespace nox::win32 {

namespace {

struct PasswordState {
  std::string prompt;
  std::string text;
};

std::string ControlText(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = control ? GetWindowTextLengthA(control) : 0;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  if (control) GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<PasswordState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      state = reinterpret_cast<PasswordState*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SetWindowTextA(dialog, state->prompt.c_str());
      SetDlgItemTextA(dialog, IDC_PASSWORD, "");
      SetFocus(GetDlgItem(dialog, IDC_PASSWORD));
      return FALSE;  // the focus is set
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PASSWORD:
          if (HIWORD(wParam) == EN_UPDATE && state) state->text = ControlText(dialog, IDC_PASSWORD);
          return TRUE;
        case IDOK:
          EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK KorvInfoProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const auto& info = *reinterpret_cast<const ui::KorvInfo*>(lParam);
      SetDlgItemTextA(dialog, IDC_KORV_ROM_SYSTEM, info.romSystem.c_str());
      SetDlgItemTextA(dialog, IDC_KORV_ROM_REVISION, info.romRevision.c_str());
      SetDlgItemTextA(dialog, IDC_KORV_ROM_VENDOR, info.romVendor.c_str());
      SetDlgItemTextA(dialog, IDC_KORV_CURRENT_SYSTEM, info.currentSystem.c_str());
      SetDlgItemTextA(dialog, IDC_KORV_CURRENT_REVISION, info.currentRevision.c_str());
      SetDlgItemTextA(dialog, IDC_KORV_CURRENT_VENDOR, info.currentVendor.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void RegisterDialogClasses(HINSTANCE instance) {
  // A dialog class is the system's dialog class under another name: DefDlgProc with the
  // dialog's extra window bytes.
  for (const char* name : {kMainWindowClass, kPasswordClass, kKorvInfoClass}) {
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    if (GetClassInfoExA(instance, name, &cls)) continue;
    cls = WNDCLASSEXA{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = DefDlgProcA;
    cls.cbWndExtra = DLGWINDOWEXTRA;
    cls.hInstance = instance;
    cls.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    cls.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = name;
    RegisterClassExA(&cls);
  }
}

std::optional<std::string> RunPasswordDialog(HWND owner, const std::string& prompt) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterDialogClasses(instance);
  PasswordState state{prompt, {}};
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PASSWORD), owner, PasswordProc,
                                         reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return std::nullopt;
  return state.text;
}

void RunKorvInfoDialog(HWND owner, const ui::KorvInfo& info) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterDialogClasses(instance);
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_KORV_INFO), owner, KorvInfoProc,
                  reinterpret_cast<LPARAM>(&const_cast<ui::KorvInfo&>(info)));
}

}  // namespace nox::win32
