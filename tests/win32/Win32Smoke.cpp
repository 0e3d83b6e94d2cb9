// What Wine can run of the Windows build on its own: the operating-system services (the two
// mutexes, the version, and the lock-workstation policy value written and put back around a
// flash), and the Progress page in a modeless property sheet with a progress control on its
// own, checked by what reaches the screen: pixels read back from the windows, texts, classes
// and threads. Also prints what the page costs a progress report over a whole 8 MiB pass.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "core/Progress.h"
#include "platform/win32/NoxProgressCtrl.h"
#include "platform/win32/Win32OsServices.h"
#include "platform/win32/Win32ProgressPage.h"
#include "platform/win32/res/resource.h"

namespace {

using namespace nox;
using win32::CNoxProgressCtrl;

int failed = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  ++failed;
  std::printf("FAIL: %s\n", what.c_str());
}

// The policy value, or -1 when it is not there.
long PolicyValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return -1;
  }
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG rc = RegQueryValueExA(key, "DisableLockWorkstation", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? static_cast<long>(value) : -1;
}

void Services() {
  win32::Win32OsServices os;
  Check(os.CreateInstanceMutex("NOXWINGUI-smoke"), "the first instance mutex is created");
  Check(!os.CreateInstanceMutex("NOXWINGUI-smoke"), "a second one is refused");
  Check(os.InitOsServices() == 0, "the services start");
  Check(os.OsMajorVersion() >= 5, "the version is known");
  Check(os.InitOsServices() == 97, "a second start of the services is refused");
  os.SetFlashProtection(true);
  Check(PolicyValue() == 1, "locking the workstation is off during the flash");
  os.SetFlashProtection(false);
  Check(PolicyValue() == 0, "and put back afterwards");
  os.KeepAwake(true);
  os.KeepAwake(false);
}

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The colour on screen at (x, y) of the window's client area.
COLORREF ScreenPixel(HWND window, int x, int y) {
  const HDC dc = GetDC(window);
  const COLORREF colour = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return colour;
}

void CheckColour(COLORREF got, COLORREF want, const std::string& what) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " is %06lX, not %06lX", got, want);
  Check(got == want, what + buf);
}

// The middle of segment i of a bar, where neither outline nor gap lies.
COLORREF SegmentPixel(HWND bar, int i) {
  const ui::ProgressControlModel* model = CNoxProgressCtrl::ModelOf(bar);
  const ui::SegmentPaint s = model->Paint().at(i);
  return ScreenPixel(bar, s.x + s.width / 2, static_cast<int>(model->SegmentHeight()) / 2);
}

// The texts of the page's controls, joined by '|'.
void CheckTexts(HWND page, std::initializer_list<int> ids, const std::string& want) {
  std::string got;
  for (int id : ids) {
    char buf[256] = {};
    GetDlgItemTextA(page, id, buf, sizeof buf);
    got.append(got.empty() ? "" : "|").append(buf);
  }
  Check(got == want, "the page shows " + got + ", not " + want);
}

int ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  }
  CloseHandle(snapshot);
  return count;
}

// A control with a model of its own, driven by its messages only.
void ControlOnItsOwn() {
  const HWND host = CreateWindowExA(0, "STATIC", "control", WS_POPUP | WS_VISIBLE, 600, 0, 220, 40, nullptr, nullptr,
                                    nullptr, nullptr);
  const HWND bar = CNoxProgressCtrl::Create(host, 7, {10, 10, 210, 30});
  if (!bar) {
    Check(false, "the control is created");
    return;
  }
  char name[64] = {}, text[64] = {};
  GetClassNameA(bar, name, sizeof name);
  GetWindowTextA(bar, text, sizeof text);
  Check(std::string(name) == "CNoxProgressCtrl" && std::string(text) == "BusyProgressCtrl",
        "the control's class and text are " + std::string(name) + ", " + text);

  // Progress mode at 50 of 0..100: the first half grey, the rest the empty fill.
  SendMessageA(bar, win32::kPcmSetMode, 2, 0);
  SendMessageA(bar, win32::kPcmSetRange, 0, 100);
  SendMessageA(bar, win32::kPcmSetPosition, 50, 0);
  UpdateWindow(bar);
  CheckColour(SegmentPixel(bar, 4), ui::kGrey, "segment 4 at 50%");
  CheckColour(SegmentPixel(bar, 5), 0xDCBEA0, "segment 5 at 50%");

  // The busy animation moves on its own thread; stopping it, or closing the window while it
  // runs, ends the thread.
  const int threads = ThreadCount();
  SendMessageA(bar, win32::kPcmSetMode, 1, 0);
  SendMessageA(bar, win32::kPcmSetInterval, 5, 0);
  SendMessageA(bar, win32::kPcmStartBusy, 0, 0);
  for (int i = 0; i < 20 && CNoxProgressCtrl::ModelOf(bar)->Position() < 3; ++i) Sleep(10);
  Check(CNoxProgressCtrl::ModelOf(bar)->Position() >= 3, "the animation steps the bar");
  SendMessageA(bar, win32::kPcmStopBusy, 0, 0);
  Check(!CNoxProgressCtrl::Animating(bar), "the animation stops when told");
  SendMessageA(bar, win32::kPcmStartBusy, 0, 0);
  DestroyWindow(host);
  Check(ThreadCount() == threads, "closing the window ends its animation thread");
}

void Report(win32::ProgressPageView& view, const ui::CallbackEffect& effect) {
  view.Refresh(effect);
  if (effect.pumpMessages) Pump();
}

}  // namespace

int main() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  Services();
  ControlOnItsOwn();

  // An 8 MiB part: 16 bars of 512 KiB, segments of 32 KiB.
  ui::ProgressPageModel model;
  win32::ProgressPageView view(model, {8u << 20, false, 0}, 48 * 128);
  PROPSHEETPAGEA page{};
  page.dwSize = sizeof page;
  page.hInstance = GetModuleHandleA(nullptr);
  page.pszTemplate = MAKEINTRESOURCEA(IDD_PAGE_PROGRESS);
  page.pfnDlgProc = win32::ProgressPageView::DialogProc;
  page.lParam = reinterpret_cast<LPARAM>(&view);
  PROPSHEETHEADERA header{};
  header.dwSize = sizeof header;
  header.dwFlags = PSH_MODELESS | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
  header.pszCaption = "Progress";
  header.nPages = 1;
  header.ppsp = &page;
  const HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
  SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  Pump();
  const HWND pageWindow = view.Handle();
  if (!pageWindow || view.Bars().size() != 16) {
    std::printf("FAIL: the page was not made with its 16 bars (%zu)\n", view.Bars().size());
    return 1;
  }
  const HWND bar0 = view.Bars()[0];
  RECT frame{}, first{}, last{};
  GetWindowRect(GetDlgItem(pageWindow, IDC_MAP_FRAME), &frame);
  GetWindowRect(bar0, &first);
  GetWindowRect(view.Bars()[15], &last);
  Check(first.left > frame.left && first.top > frame.top && last.right < frame.right && last.bottom < frame.bottom,
        "the bars lie inside the map's frame, top to bottom");
  CheckTexts(pageWindow, {IDC_MAP_FRAME}, "BIOS Map(Each Block is 32K)");

  // Erase 64 KiB at 0x10000 (segments 2 and 3 of bar 0), then program its first 32 KiB.
  model.SetRegionLabel("Main Bios.");
  model.ResetMap(ui::kGrey);
  Report(view, model.OnErasing(core::kProgressStart, 0, 0));
  Report(view, model.OnErasing(0x10000, 8u << 20, 0x10000));
  Report(view, model.OnErasing(core::kProgressEnd, 8u << 20, 0));
  Report(view, model.OnProgramming(core::kProgressStart, 0, 0));
  for (uint32_t a = 0x10000; a < 0x18000; a += 0x400) Report(view, model.OnProgramming(a, 8u << 20, 0x400));
  CheckTexts(pageWindow, {IDC_STAGE, IDC_VALUE_LABEL, IDC_VALUE}, "Programming Main Bios.|Address:|FF817C00h");
  CheckColour(SegmentPixel(bar0, 1), ui::kGrey, "an untouched segment");
  CheckColour(SegmentPixel(bar0, 2), 0x0000FF, "a programmed segment");
  CheckColour(SegmentPixel(bar0, 3), 0xFFFFFF, "an erased segment");
  CheckColour(ScreenPixel(bar0, 0, 0), 0, "the outline");
  const COLORREF legend[] = {0xFFDCBE, 0xFFFFFF, 0x0000FF, 0x00FF00};
  for (int i = 0; i < 4; ++i) {
    RECT rc{};
    const HWND square = GetDlgItem(pageWindow, IDC_LEGEND_READ + i);
    GetClientRect(square, &rc);
    CheckColour(ScreenPixel(square, rc.right / 2, rc.bottom / 2), legend[i], "legend square " + std::to_string(i));
  }

  Report(view, model.OnEcProgress(24, 48));
  view.SetMessageLines("Updating BIOS from", "Version A06 to A07.");
  const HWND ecBar = GetDlgItem(pageWindow, IDC_EC_BAR);
  CheckTexts(pageWindow, {IDC_STAGE, IDC_VALUE_LABEL, IDC_VALUE, IDC_MESSAGE1, IDC_MESSAGE2},
             "Programming EC.|Percent:|50%|Updating BIOS from|Version A06 to A07.");
  Check(SendMessageA(ecBar, PBM_GETPOS, 0, 0) == 24 && SendMessageA(ecBar, PBM_GETRANGE, FALSE, 0) == 48,
        "EC bar at 24 of 48");

  // A whole 8 MiB program pass in 1 KiB requests; its last block is drawn in the last bar.
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  constexpr uint32_t kRequests = (8u << 20) / 0x400;
  for (uint32_t a = 0; a < 8u << 20; a += 0x400) Report(view, model.OnProgramming(a, 8u << 20, 0x400));
  QueryPerformanceCounter(&end);
  CheckColour(SegmentPixel(view.Bars()[15], 15), 0x0000FF, "the last segment after a whole pass");
  std::printf("progress page: %.3f ms per 1 KiB request over an 8 MiB pass\n",
              1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart / kRequests);

  DestroyWindow(sheet);
  Check(view.Handle() == nullptr, "the view lets go of the page when it is closed");
  std::printf("win32 smoke: %s\n", failed ? "failed" : "passed");
  return failed ? 1 : 0;
}
