#include "DriveWindows.h"

#include <commctrl.h>

#include <algorithm>

#include "DriveScript.h"

namespace noxdrive {

std::wstring ClassOf(HWND w) {
  wchar_t name[256] = {};
  GetClassNameW(w, name, 256);
  return name;
}

// A control's text has to be asked of its own process; a top-level window's caption is known
// without bothering the program (and without hanging on a busy one).
std::optional<std::wstring> TextOf(HWND w, const Deadline& deadline) {
  if ((GetWindowLongPtrW(w, GWL_STYLE) & WS_CHILD) == 0) {
    wchar_t title[1024] = {};
    GetWindowTextW(w, title, 1024);
    return std::wstring(title);
  }
  DWORD_PTR length = 0;
  const UINT ms = deadline.RemainingMs();
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, ms, &length)) return std::nullopt;
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, ms,
                           &copied)) {
    return std::nullopt;
  }
  text.resize(std::min<size_t>(copied, length));
  return text;
}

namespace {

BOOL CALLBACK Collect(HWND w, LPARAM all) {
  reinterpret_cast<std::vector<HWND>*>(all)->push_back(w);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopWindows() {
  std::vector<HWND> found;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Templates store 16-bit ids, so an id of -1 reads back as 0xFFFF or as -1.
bool HasId(HWND w, int id) {
  const int own = GetDlgCtrlID(w);
  return own == id || (id >= -1 && id <= 0xFFFF && (own & 0xFFFF) == (id & 0xFFFF));
}

// Ids repeat across kinds (a file dialog's list view and its Open button are both 1), hence
// the class; and a hidden page may hold the id of a visible control.
HWND ChildById(HWND parent, int id, const wchar_t* cls) {
  HWND hidden = nullptr;
  for (HWND w : Descendants(parent)) {
    if (!HasId(w, id) || (cls && ClassOf(w) != cls)) continue;
    if (IsWindowVisible(w)) return w;
    if (!hidden) hidden = w;
  }
  return hidden;
}

// A message box keeps its text in the static 0xFFFF.
std::wstring BoxText(HWND box, const Deadline& deadline) {
  const HWND text = ChildById(box, 0xFFFF, WC_STATICW);
  return text ? TextOf(text, deadline).value_or(L"") : L"";
}

HWND EditOf(HWND control) {
  if (ClassOf(control) == WC_EDITW) return control;
  for (HWND w : Descendants(control)) {
    if (ClassOf(w) == WC_EDITW) return w;
  }
  return control;
}

std::string Describe(HWND w) {
  std::string s = Shown(TextOf(w, Deadline(1)).value_or(L"?")) + " (" + Narrow(ClassOf(w)) + ")";
  if (!IsWindowEnabled(w)) s += " disabled";
  return s;
}

std::string ScreenReport() {
  std::string s = "windows on the screen:";
  int n = 0;
  for (HWND w : TopWindows()) {
    if (!IsWindowVisible(w)) continue;
    if (++n > 20) return s + "\n  ...";
    s.append("\n  ").append(Describe(w));
    if (ClassOf(w) == L"#32770") {
      const std::wstring text = BoxText(w, Deadline(1));
      if (!text.empty()) s.append(" ").append(Shown(text));
    }
  }
  return n == 0 ? s + " none" : s;
}

// Sent input would block noxdrive while a click opens a modal box; notified input is queued.
// Messages sent from one thread are handled in order, so the WM_NULL behind it comes back once
// the input has been handled, or as soon as the program pumps messages in a modal loop.
void Deliver(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!SendNotifyMessageW(w, message, wParam, lParam)) throw Failure{"the input cannot be delivered: " + Describe(w)};
}

void Settle(HWND w, const Deadline& deadline) {
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, deadline.RemainingMs(), &ignored) && IsWindow(w) &&
      GetLastError() == ERROR_TIMEOUT) {
    throw Failure{"the program did not take the input within the deadline"};
  }
}

// A user reaches only a visible, enabled control of an enabled window.
void RequireReachable(HWND control, bool force) {
  const HWND root = GetAncestor(control, GA_ROOT);
  if (!IsWindowVisible(control)) throw Failure{"the control is hidden: " + Describe(control)};
  if (!force && !IsWindowEnabled(control)) throw Failure{"the control is disabled: " + Describe(control)};
  if (!IsWindowEnabled(root)) throw Failure{"its window is disabled (a box of its own is open?): " + Describe(root)};
}

LRESULT Ask(HWND w, UINT message, WPARAM wParam, LPARAM lParam, const Deadline& deadline) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(w, message, wParam, lParam, SMTO_NORMAL, deadline.RemainingMs(), &result)) {
    throw Failure{"the program does not answer: " + Describe(w)};
  }
  return static_cast<LRESULT>(result);
}

RemoteBuffer::RemoteBuffer(HWND owner, size_t size) : size_(size) {
  DWORD pid = 0;
  GetWindowThreadProcessId(owner, &pid);
  process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (process_) address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  if (!address_) {
    const DWORD error = GetLastError();
    if (process_) CloseHandle(process_);
    throw Failure{"cannot reach the program's memory (error " + std::to_string(error) + ")"};
  }
}

RemoteBuffer::~RemoteBuffer() {
  VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
  CloseHandle(process_);
}

void RemoteBuffer::Write(size_t offset, const void* data, size_t size) const {
  if (offset > size_ || size > size_ - offset || !WriteProcessMemory(process_, At(offset), data, size, nullptr)) {
    throw Failure{"cannot write to the program's memory"};
  }
}

void RemoteBuffer::Read(size_t offset, void* data, size_t size) const {
  if (offset > size_ || size > size_ - offset || !ReadProcessMemory(process_, At(offset), data, size, nullptr)) {
    throw Failure{"cannot read the program's memory"};
  }
}

// Another process's window cannot be asked to print itself into our device context, but the
// screen shows it: a copy from the screen gives the pixels a user sees.
bool CaptureWindow(HWND w, uint32_t& width, uint32_t& height, std::vector<uint8_t>& rgb) {
  RECT r{};
  if (!GetWindowRect(w, &r)) return false;
  const int screenLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int screenTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int left = std::max<int>(r.left, screenLeft);
  const int top = std::max<int>(r.top, screenTop);
  const int right = std::min<int>(r.right, screenLeft + GetSystemMetrics(SM_CXVIRTUALSCREEN));
  const int bottom = std::min<int>(r.bottom, screenTop + GetSystemMetrics(SM_CYVIRTUALSCREEN));
  if (right <= left || bottom <= top) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = right - left;
  info.bmiHeader.biHeight = top - bottom;  // negative: top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  const HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool drawn = false;
  if (dib) {
    const HGDIOBJ old = SelectObject(memory, dib);
    if (BitBlt(memory, 0, 0, right - left, bottom - top, screen, left, top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      const auto* px = static_cast<const uint32_t*>(bits);
      const size_t count = static_cast<size_t>(right - left) * static_cast<size_t>(bottom - top);
      drawn = std::any_of(px, px + count, [&](uint32_t p) { return ((p ^ px[0]) & 0xFFFFFF) != 0; });
      if (drawn) {
        rgb.clear();
        rgb.reserve(count * 3);
        for (size_t i = 0; i < count; ++i) {
          rgb.insert(rgb.end(), {static_cast<uint8_t>(px[i] >> 16), static_cast<uint8_t>(px[i] >> 8),
                                 static_cast<uint8_t>(px[i])});
        }
        width = static_cast<uint32_t>(right - left);
        height = static_cast<uint32_t>(bottom - top);
      }
    }
    SelectObject(memory, old);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return drawn;
}

}  // namespace noxdrive
