#include "platform/win32/Win32MainWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/Win32Dialogs.h"
#include "platform/win32/res/resource.h"

namespace nox::win32 {

namespace {

constexpr UINT_PTR kTimerId = 0;
constexpr int kApplyNowButton = 0x3021;

// The sheet is made a child control of the window before it exists: no caption, no frame,
// part of the window's keyboard navigation.
int CALLBACK SheetCallback(HWND, UINT message, LPARAM lParam) {
  if (message != PSCB_PRECREATE || lParam == 0) return 0;
  auto* words = reinterpret_cast<WORD*>(lParam);
  const bool extended = words[1] == 0xFFFF;
  // DLGTEMPLATEEX: version, signature, help id, extended style, style; DLGTEMPLATE: style,
  // extended style.
  DWORD* style = extended ? reinterpret_cast<DWORD*>(words + 6) : reinterpret_cast<DWORD*>(words);
  DWORD* exStyle = extended ? reinterpret_cast<DWORD*>(words + 4) : reinterpret_cast<DWORD*>(words + 2);
  *style &= ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_THICKFRAME);
  *style |= WS_CHILD | WS_TABSTOP | DS_CONTROL | WS_VISIBLE;
  *exStyle |= WS_EX_CONTROLPARENT;
  return 0;
}

}  // namespace

MainWindow::MainWindow(ui::MainDialogHost& host, HINSTANCE instance) : host_(host), instance_(instance) {}

MainWindow::~MainWindow() = default;

void MainWindow::Run() {
  RegisterDialogClasses(instance_);
  DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_NOXWINGUI_DIALOG), nullptr, DialogProc,
                  reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainWindow*>(lParam);
    // A second initialisation of a window that is already registered does nothing.
    if (GetWindowLongPtrA(window, DWLP_USER) != 0) return TRUE;
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->OnInit(window);
    return TRUE;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId) self->OnTimer();
      return TRUE;
    case WM_COMMAND:
      self->OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(LoadIconA(self->instance_, MAKEINTRESOURCEA(IDR_MAINFRAME)));
    default:
      return FALSE;
  }
}

void MainWindow::OnInit(HWND window) {
  window_ = window;
  const std::optional<ui::StartPlan> plan = Main().Start(host_.Facts());
  if (!plan) return;
  host_.ApplyStartPlan(*plan);
  CreatePages(host_, *plan);
  pages_ = plan->pages;

  SetWindowTextA(window_, plan->title.c_str());
  HICON icon = LoadIconA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME));
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  EnableFlashButton(false);

  CreateSheet();
  timerRunning_ = SetTimer(window_, kTimerId, ui::kTimerIntervalMs, nullptr) != 0;
}

void MainWindow::CreateSheet() {
  std::vector<PROPSHEETPAGEA> sheetPages;
  const auto addPage = [&](int templateId, DLGPROC proc, void* view) {
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.hInstance = instance_;
    page.pszTemplate = MAKEINTRESOURCEA(templateId);
    page.pfnDlgProc = proc;
    page.lParam = reinterpret_cast<LPARAM>(view);
    sheetPages.push_back(page);
  };
  for (const ui::Page page : pages_) {
    switch (page) {
      case ui::Page::kInformation:
        information_ = std::make_unique<InformationPageView>(*InformationPage());
        addPage(IDD_PAGE_INFORMATION, InformationPageView::DialogProc, information_.get());
        break;
      case ui::Page::kSetup:
        setup_ = std::make_unique<SetupPageView>(*SetupPage());
        addPage(IDD_PAGE_SETUP, SetupPageView::DialogProc, setup_.get());
        break;
      case ui::Page::kProgress:
        progress_ = std::make_unique<ProgressPageView>(Page(), host_.MapFacts(), host_.EcImageSize());
        addPage(IDD_PAGE_PROGRESS, ProgressPageView::DialogProc, progress_.get());
        break;
    }
  }
  char caption[64] = "Property Sheet";
  LoadStringA(instance_, IDS_PROPERTY_SHEET, caption, sizeof caption);
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP | PSH_USECALLBACK;
  header.hwndParent = window_;
  header.hInstance = instance_;
  header.pszCaption = caption;
  header.nPages = static_cast<UINT>(sheetPages.size());
  header.ppsp = sheetPages.data();
  header.pfnCallback = SheetCallback;
  sheet_ = reinterpret_cast<HWND>(PropertySheetA(&header));
  if (!sheet_) return;

  // An embedded sheet has no buttons of its own: the window's buttons stand below it.
  for (int id : {IDOK, IDCANCEL, IDHELP, kApplyNowButton}) {
    if (HWND button = GetDlgItem(sheet_, id)) ShowWindow(button, SW_HIDE);
  }
  RECT placeholder{};
  GetWindowRect(GetDlgItem(window_, IDC_SHEET_PLACEHOLDER), &placeholder);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&placeholder), 2);
  RECT tabs{};
  GetWindowRect(PropSheet_GetTabControl(sheet_), &tabs);
  MapWindowPoints(nullptr, sheet_, reinterpret_cast<POINT*>(&tabs), 2);
  RECT sheet{};
  GetWindowRect(sheet_, &sheet);
  constexpr int kOffset = ui::kSheetOffset;
  const int height = std::min<int>(sheet.bottom - sheet.top, tabs.bottom + 2);
  SetWindowPos(sheet_, nullptr, placeholder.left + kOffset, placeholder.top + kOffset, sheet.right - sheet.left,
               height, SWP_NOZORDER | SWP_NOACTIVATE);

  // Every page is built once, last to first, so the map exists before the first flash.
  for (int i = static_cast<int>(pages_.size()) - 1; i >= 0; --i) PropSheet_SetCurSel(sheet_, nullptr, i);
}

void MainWindow::OnTimer() {
  if (busy_) return;
  std::string message;
  Main().OnPermissionCheck(host_.CheckUpdatePermission(message), message);
  const ui::TickPlan tick = Main().Tick(
      host_.ImageSize(), [this](bool reread) { return host_.FlashSize(reread); }, host_.RetryCount());
  if (tick.stopTimer && timerRunning_) {
    KillTimer(window_, kTimerId);
    timerRunning_ = false;
  }
  if (tick.disableOpenAndSave) {
    EnableWindow(GetDlgItem(window_, IDC_OPEN), FALSE);
    EnableWindow(GetDlgItem(window_, IDC_SAVE), FALSE);
  }
  if (tick.message) MessageBoxA(window_, tick.message->c_str(), ui::kAppTitle, MB_OK);
  if (tick.endSessionId) host_.EndSession(*tick.endSessionId);
  if (tick.postFlash) {
    flashPosted_ = true;
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDC_FLASH, BN_CLICKED), 0);
  }
}

void MainWindow::OnCommand(int id) {
  if (busy_) return;
  busy_ = true;
  switch (id) {
    case IDC_OPEN:
      host_.OpenRomFile(*this);
      if (information_) information_->Refresh();
      if (setup_) setup_->Refresh();
      break;
    case IDC_FLASH:
      if (FlashEnabled() || flashPosted_) {
        flashPosted_ = false;
        host_.RunFlash(*this);
      }
      break;
    case IDC_SAVE:
      host_.SaveCurrentBios(*this);
      break;
    case IDC_EXIT:
      host_.EndSession(0);
      break;
    case IDCANCEL:
      // The window's close box and Escape: the window closes and the session ends quietly.
      if (IsWindowEnabled(GetDlgItem(window_, IDC_EXIT))) EndDialog(window_, IDCANCEL);
      break;
    default:
      break;
  }
  busy_ = false;
}

void MainWindow::EnableFlashButton(bool enabled) {
  ModelFlashDialog::EnableFlashButton(enabled);
  if (window_) EnableWindow(GetDlgItem(window_, IDC_FLASH), enabled ? TRUE : FALSE);
}

void MainWindow::EnableExitButton(bool enabled) {
  ModelFlashDialog::EnableExitButton(enabled);
  if (window_) EnableWindow(GetDlgItem(window_, IDC_EXIT), enabled ? TRUE : FALSE);
}

void MainWindow::SetMessageLines(const std::string& first, const std::string& second) {
  if (progress_) progress_->SetMessageLines(first, second);
  ModelFlashDialog::SetMessageLines(first, second);
}

void MainWindow::SelectPage(ui::Page page) {
  const auto at = std::find(pages_.begin(), pages_.end(), page);
  if (sheet_ && at != pages_.end()) PropSheet_SetCurSel(sheet_, nullptr, static_cast<int>(at - pages_.begin()));
}

void MainWindow::ShowProgressPage() { SelectPage(ui::Page::kProgress); }

void MainWindow::ShowSetupPage() {
  SelectPage(ui::Page::kSetup);
  if (setup_) setup_->Refresh();
}

void MainWindow::BringToFront() {
  if (!window_) return;
  SetForegroundWindow(window_);
  if (progress_) progress_->Refresh({});
  lastPaint_ = GetTickCount64();
}

void MainWindow::Changed(const ui::CallbackEffect& effect) {
  // A flash reports thousands of requests a second; the page is drawn when its stage
  // changes and otherwise once an interval, which a user cannot tell from every request.
  // Messages are let through once an interval too, reading included: asking the system for
  // them on every request costs more than the flash, and the window still never keeps a
  // user waiting longer than that.
  const ULONGLONG now = GetTickCount64();
  if (progress_ && (effect.stageChanged || now - lastPaint_ >= kRepaintIntervalMs)) {
    progress_->Refresh(effect);
    lastPaint_ = now;
  }
  if (now - lastPump_ >= kRepaintIntervalMs) {
    PumpMessages();
    lastPump_ = GetTickCount64();
  }
}

void MainWindow::PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (window_ && IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace nox::win32
