#include "platform/win32/Win32Pages.h"

#include <commctrl.h>

#include <string>

#include "platform/win32/res/resource.h"

namespace nox::win32 {

namespace {

constexpr int kAutoPopMs = 32767;

template <typename View>
View* ViewOf(HWND page, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    // The sheet hands each page its PROPSHEETPAGE, whose lParam is the view.
    auto* view = reinterpret_cast<View*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
    SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(view));
    return view;
  }
  return reinterpret_cast<View*>(GetWindowLongPtrA(page, DWLP_USER));
}

std::string LoadText(UINT id) {
  char text[512] = {};
  const int n = LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

HWND CreateToolTips(HWND page, bool alwaysTip, int maxWidth) {
  HWND tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                              WS_POPUP | TTS_NOPREFIX | (alwaysTip ? TTS_ALWAYSTIP : 0), CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, page, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (!tips) return nullptr;
  SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, kAutoPopMs);
  SendMessageA(tips, TTM_SETDELAYTIME, TTDT_INITIAL, 0);
  if (maxWidth > 0) SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, maxWidth);
  return tips;
}

// --- Information page ------------------------------------------------------------------

INT_PTR CALLBACK InformationPageView::DialogProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  InformationPageView* view = ViewOf<InformationPageView>(page, message, lParam);
  if (!view) return FALSE;
  if (message == WM_INITDIALOG) {
    view->OnInit(page);
    return TRUE;
  }
  return FALSE;
}

void InformationPageView::OnInit(HWND page) {
  page_ = page;
  HWND tips = CreateToolTips(page, false, 0);
  // Each tip covers its value field's rectangle on the page; the tool-tip watches the page's
  // mouse messages itself.
  for (const ui::InfoToolTip& tip : ui::RegisteredInformationToolTips()) {
    HWND control = GetDlgItem(page, tip.id);
    const std::string text = LoadText(static_cast<UINT>(tip.id));
    if (!tips || !control || text.empty()) continue;
    TOOLINFOA info{};
    info.cbSize = sizeof info;
    info.uFlags = TTF_SUBCLASS;
    info.hwnd = page;
    info.uId = static_cast<UINT_PTR>(tip.id);
    GetWindowRect(control, &info.rect);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&info.rect), 2);
    info.lpszText = const_cast<char*>(text.c_str());
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  }
  if (tips) SendMessageA(tips, TTM_ACTIVATE, TRUE, 0);
  Refresh();
}

void InformationPageView::Refresh() {
  if (!page_) return;
  for (const ui::InfoField& field : model_.Fields()) SetDlgItemTextA(page_, field.id, field.value.c_str());
}

// --- Setup page --------------------------------------------------------------------------

INT_PTR CALLBACK SetupPageView::DialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  SetupPageView* view = ViewOf<SetupPageView>(page, message, lParam);
  if (!view) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      view->OnInit(page);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDC_SMBIOS_TYPES && HIWORD(wParam) == EN_CHANGE) {
        view->OnEditChanged();
        return TRUE;
      }
      const ui::SetupControl* control = ui::FindSetupControl(id);
      if (HIWORD(wParam) == BN_CLICKED && control && control->kind == ui::SetupControlKind::kCheckBox) {
        view->OnClicked(id);
        return TRUE;
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

void SetupPageView::OnInit(HWND page) {
  page_ = page;
  constexpr int kMaxTipWidth = 300;
  HWND tips = CreateToolTips(page, true, kMaxTipWidth);
  const auto addTip = [&](int id) {
    HWND control = GetDlgItem(page, id);
    const std::string text = LoadText(static_cast<UINT>(id));
    if (!tips || !control || text.empty()) return;
    TOOLINFOA info{};
    info.cbSize = sizeof info;
    // The control's own window: the tool-tip follows it and sees its mouse messages.
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.hwnd = page;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<char*>(text.c_str());
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
  };
  for (int id = IDC_PROGRAM_ALL; id <= IDC_NCB8; ++id) addTip(id);
  for (int id = IDC_CHECK_EC_VERSION; id <= IDC_RESTART; ++id) addTip(id);
  if (tips) SendMessageA(tips, TTM_ACTIVATE, TRUE, 0);
  SendDlgItemMessageA(page, IDC_SMBIOS_TYPES, EM_LIMITTEXT, ui::kSmbiosEditLimit, 0);
  Refresh();
}

void SetupPageView::Refresh() {
  if (!page_) return;
  for (const ui::SetupControl& control : ui::SetupControls()) {
    HWND window = GetDlgItem(page_, control.id);
    if (!window) continue;
    const ui::ControlState& state = model_.State(control.id);
    ShowWindow(window, state.visible ? SW_SHOWNA : SW_HIDE);
    EnableWindow(window, state.enabled ? TRUE : FALSE);
    if (control.kind == ui::SetupControlKind::kCheckBox) {
      CheckDlgButton(page_, control.id, state.checked ? BST_CHECKED : BST_UNCHECKED);
    }
  }
  HWND edit = GetDlgItem(page_, IDC_SMBIOS_TYPES);
  if (edit && WindowText(edit) != model_.EditText()) {
    writingEdit_ = true;
    SetWindowTextA(edit, model_.EditText().c_str());
    writingEdit_ = false;
  }
}

void SetupPageView::OnClicked(int id) {
  // The click handlers start from what every box shows now.
  for (const ui::SetupControl& control : ui::SetupControls()) {
    if (control.kind != ui::SetupControlKind::kCheckBox || !GetDlgItem(page_, control.id)) continue;
    model_.SetChecked(control.id, IsDlgButtonChecked(page_, control.id) == BST_CHECKED);
  }
  model_.OnClicked(id);
  Refresh();
}

void SetupPageView::OnEditChanged() {
  if (writingEdit_) return;
  HWND edit = GetDlgItem(page_, IDC_SMBIOS_TYPES);
  const std::string text = WindowText(edit);
  DWORD start = 0, end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const ui::EditOutcome outcome = model_.OnEditChanged(text, end);
  if (outcome.text != text) {
    writingEdit_ = true;
    SetWindowTextA(edit, outcome.text.c_str());
    writingEdit_ = false;
  }
  if (outcome.text != text || outcome.selectionStart != outcome.selectionEnd) {
    SendMessageA(edit, EM_SETSEL, outcome.selectionStart, outcome.selectionEnd);
  }
  if (outcome.beep) MessageBeep(MB_OK);
}

}  // namespace nox::win32
