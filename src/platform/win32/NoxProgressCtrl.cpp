#include "platform/win32/NoxProgressCtrl.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace nox::win32 {

namespace {

class Guard {
 public:
  explicit Guard(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
  ~Guard() { LeaveCriticalSection(&cs_); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

// One window's state. The busy animation's thread steps the model while the window's thread
// paints it and handles messages, so every access to the model from this file holds the lock.
struct Instance {
  HWND hwnd = nullptr;
  ui::ProgressControlModel own{10, 0};
  ui::ProgressControlModel* model = &own;
  CRITICAL_SECTION lock;
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;  // manual reset: set while the animation is to end
  HDC buffer = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  // What the last WM_PAINT showed, to tell whether a model changed from outside needs a repaint.
  std::vector<ui::SegmentPaint> drawn;
  ui::ColorRef drawnBackground = 0;
  bool drawnValid = false;

  Instance() { InitializeCriticalSection(&lock); }
  ~Instance() {
    if (stop) CloseHandle(stop);
    DeleteCriticalSection(&lock);
  }
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The window procedure tells these windows from others without asking for the class name,
// which the page does for every bar on every progress report.
Instance* InstanceOf(HWND hwnd) {
  if (!hwnd || GetWindowLongPtrA(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(WindowProc)) return nullptr;
  return reinterpret_cast<Instance*>(GetWindowLongPtrA(hwnd, 0));
}

void LayoutToClient(Instance& self) {
  RECT rc{};
  GetClientRect(self.hwnd, &rc);
  self.model->Layout(rc.right - rc.left, rc.bottom - rc.top);
}

void DropBuffer(Instance& self) {
  if (!self.buffer) return;
  SelectObject(self.buffer, self.oldBitmap);
  DeleteObject(self.bitmap);
  DeleteDC(self.buffer);
  self.buffer = nullptr;
  self.bitmap = nullptr;
  self.drawnValid = false;
}

bool SamePicture(const std::vector<ui::SegmentPaint>& a, const std::vector<ui::SegmentPaint>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ui::SegmentPaint& x, const ui::SegmentPaint& y) {
    return x.x == y.x && x.width == y.width && x.fill == y.fill && x.outline == y.outline &&
           x.partialWidth == y.partialWidth && (x.partialWidth == 0 || x.partialFill == y.partialFill);
  });
}

// Draws the picture into dc with the DC pen and brush, which need no objects made per segment.
void Render(HDC dc, int width, int height, ui::ColorRef background, const std::vector<ui::SegmentPaint>& segments) {
  const RECT all{0, 0, width, height};
  const HBRUSH brush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
  SetDCBrushColor(dc, background);
  FillRect(dc, &all, brush);
  const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
  const HGDIOBJ oldBrush = SelectObject(dc, brush);
  for (const ui::SegmentPaint& s : segments) {
    if (s.width <= 0) continue;  // gaps wider than the client leave no room for segments
    SetDCPenColor(dc, s.outline);
    SetDCBrushColor(dc, s.fill);
    Rectangle(dc, s.x, 0, s.x + s.width, height);
    if (s.partialWidth > 0) {
      const RECT part{s.x + 1, 1, s.x + 1 + s.partialWidth, height - 1};
      SetDCBrushColor(dc, s.partialFill);
      FillRect(dc, &part, brush);
    }
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

struct Picture {
  std::vector<ui::SegmentPaint> segments;
  ui::ColorRef background = 0;
  int height = 0;
};

Picture Snapshot(Instance& self) {
  Guard guard(self.lock);
  return {self.model->Paint(), self.model->Background(), static_cast<int>(self.model->SegmentHeight())};
}

void Paint(Instance& self) {
  PAINTSTRUCT ps;
  const HDC dc = BeginPaint(self.hwnd, &ps);
  RECT rc{};
  GetClientRect(self.hwnd, &rc);
  if (dc && rc.right > 0 && rc.bottom > 0) {
    if (!self.buffer) {
      self.buffer = CreateCompatibleDC(dc);
      self.bitmap = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
      self.oldBitmap = SelectObject(self.buffer, self.bitmap);
    }
    Picture picture = Snapshot(self);
    Render(self.buffer, rc.right, picture.height, picture.background, picture.segments);
    BitBlt(dc, 0, 0, rc.right, rc.bottom, self.buffer, 0, 0, SRCCOPY);
    self.drawn = std::move(picture.segments);
    self.drawnBackground = picture.background;
    self.drawnValid = true;
  }
  EndPaint(self.hwnd, &ps);
}

DWORD WINAPI Animate(void* param) {
  Instance& self = *static_cast<Instance*>(param);
  while (WaitForSingleObject(self.stop, 0) == WAIT_TIMEOUT) {
    DWORD interval = 0;
    {
      Guard guard(self.lock);
      self.model->BusyStep();
      interval = self.model->IntervalMs();
    }
    InvalidateRect(self.hwnd, nullptr, FALSE);
    if (WaitForSingleObject(self.stop, interval) != WAIT_TIMEOUT) break;
  }
  return 0;
}

bool ThreadEnded(Instance& self) {
  if (self.thread && WaitForSingleObject(self.thread, 0) == WAIT_OBJECT_0) {
    CloseHandle(self.thread);
    self.thread = nullptr;
  }
  return !self.thread;
}

// Tells the animation to end and waits at most twice the interval. The thread wakes on the
// event, so in practice it has ended long before.
void StopAnimation(Instance& self) {
  if (!self.thread) return;
  SetEvent(self.stop);
  uint64_t bound = 0;
  {
    Guard guard(self.lock);
    bound = 2ull * self.model->IntervalMs();
  }
  WaitForSingleObject(self.thread, static_cast<DWORD>(std::min<uint64_t>(bound, INFINITE - 1)));
  ThreadEnded(self);
}

// Before the window's state goes away or a new thread reuses the stop event, the old thread
// must really be gone; it only ever finishes one step, so this wait is short.
void FinishAnimation(Instance& self) {
  StopAnimation(self);
  if (self.thread) {
    WaitForSingleObject(self.thread, INFINITE);
    ThreadEnded(self);
  }
}

bool StartAnimation(Instance& self) {
  {
    Guard guard(self.lock);
    if (self.model->Mode() != ui::BarMode::kBusy) return false;
  }
  FinishAnimation(self);
  if (!self.stop) self.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!self.stop) return false;
  ResetEvent(self.stop);
  self.thread = CreateThread(nullptr, 0, Animate, &self, 0, nullptr);
  return self.thread != nullptr;
}

// Runs one of the control's own messages on the model; false for any other message.
bool ModelMessage(Instance& self, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message < kPcmSetSegmentCount || message > kPcmBusyStep) return false;
  const int value = static_cast<int>(static_cast<INT_PTR>(wParam));
  bool repaint = true;
  result = 1;
  if (message == kPcmStartBusy) {
    result = StartAnimation(self);
    return true;
  }
  // Stopping waits for the thread, so it happens before the lock is taken.
  if (message == kPcmStopBusy || message == kPcmSetMode) StopAnimation(self);
  if (message == kPcmStopBusy) return true;
  {
    Guard guard(self.lock);
    ui::ProgressControlModel& model = *self.model;
    switch (message) {
      case kPcmSetSegmentCount: model.SetSegmentCount(value); break;
      case kPcmSetPosition: model.SetPosition(value); break;
      case kPcmSetGap: model.SetGap(value); break;
      case kPcmSetInterval: model.SetInterval(static_cast<uint32_t>(wParam)); repaint = false; break;
      case kPcmSetRange: model.SetRange(value, static_cast<int>(lParam)); repaint = false; break;
      case kPcmSetMode: result = model.SetMode(static_cast<uint32_t>(wParam)); break;
      case kPcmBusyStep: model.BusyStep(); break;
      default: break;
    }
  }
  if (repaint) InvalidateRect(self.hwnd, nullptr, FALSE);
  return true;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = new Instance;
    self->hwnd = hwnd;
    self->own.SetBackground(GetSysColor(COLOR_BTNFACE));
    SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(self));
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  auto* self = reinterpret_cast<Instance*>(GetWindowLongPtrA(hwnd, 0));
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);

  LRESULT result = 0;
  if (ModelMessage(*self, message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_CREATE:
    case WM_SIZE: {
      DropBuffer(*self);
      Guard guard(self->lock);
      LayoutToClient(*self);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel; erasing first would flicker
    case WM_PAINT:
      Paint(*self);
      return 0;
    case WM_PRINTCLIENT: {
      RECT rc{};
      GetClientRect(hwnd, &rc);
      const Picture picture = Snapshot(*self);
      Render(reinterpret_cast<HDC>(wParam), rc.right, picture.height, picture.background, picture.segments);
      return 0;
    }
    case WM_DESTROY:
      FinishAnimation(*self);
      DropBuffer(*self);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd, 0, 0);
      delete self;
      return DefWindowProcA(hwnd, message, wParam, lParam);
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

}  // namespace

bool CNoxProgressCtrl::Register() {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExA(module, kProgressCtrlClass, &wc)) return true;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = module;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.lpszClassName = kProgressCtrlClass;
  return RegisterClassExA(&wc) != 0;
}

HWND CNoxProgressCtrl::Create(HWND parent, int id, const RECT& rect, ui::ProgressControlModel* model) {
  if (!Register()) return nullptr;
  const HWND control = CreateWindowExA(0, kProgressCtrlClass, kProgressCtrlText, WS_CHILD | WS_VISIBLE, rect.left,
                                       rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                                       nullptr);
  if (control && model) AttachModel(control, model);
  return control;
}

void CNoxProgressCtrl::AttachModel(HWND control, ui::ProgressControlModel* model) {
  Instance* self = InstanceOf(control);
  if (!self) return;
  {
    Guard guard(self->lock);
    self->model = model ? model : &self->own;
    self->model->SetBackground(GetSysColor(COLOR_BTNFACE));
    LayoutToClient(*self);
    self->drawnValid = false;
  }
  InvalidateRect(control, nullptr, FALSE);
}

ui::ProgressControlModel* CNoxProgressCtrl::ModelOf(HWND control) {
  Instance* self = InstanceOf(control);
  return self ? self->model : nullptr;
}

bool CNoxProgressCtrl::RepaintIfChanged(HWND control) {
  Instance* self = InstanceOf(control);
  if (!self) return false;
  if (self->drawnValid) {
    const Picture now = Snapshot(*self);
    if (now.background == self->drawnBackground && SamePicture(now.segments, self->drawn)) return false;
  }
  InvalidateRect(control, nullptr, FALSE);
  UpdateWindow(control);
  return true;
}

bool CNoxProgressCtrl::Animating(HWND control) {
  Instance* self = InstanceOf(control);
  return self && !ThreadEnded(*self);
}

}  // namespace nox::win32
