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

HWND FindTop(const Deadline& deadline, const Accept& accept) {
  HWND found = nullptr;
  Poll(deadline, [&] {
    for (HWND w : TopWindows()) {
      if (IsWindowVisible(w) && accept(w)) return (found = w) != nullptr;
    }
    return false;
  });
  return found;
}

HWND Child(HWND parent, const Accept& accept) {
  std::vector<HWND> all;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&all));
  HWND hidden = nullptr;
  for (HWND w : all) {
    if (!accept(w)) continue;
    if (IsWindowVisible(w)) return w;
    if (!hidden) hidden = w;
  }
  return hidden;
}

// Templates store 16-bit ids, so an id of -1 reads back as 0xFFFF or as -1.
bool HasId(HWND w, int id) {
  const int own = GetDlgCtrlID(w);
  return own == id || (id >= -1 && id <= 0xFFFF && (own & 0xFFFF) == (id & 0xFFFF));
}

// Ids repeat across kinds (a file dialog's list view and its Open button are both 1), hence
// the class.
HWND ChildById(HWND parent, int id, const wchar_t* cls) {
  return Child(parent, [&](HWND w) { return HasId(w, id) && (!cls || ClassOf(w) == cls); });
}

// A message box keeps its text in the static 0xFFFF.
std::wstring BoxText(HWND box, const Deadline& deadline) {
  const HWND text = ChildById(box, 0xFFFF, WC_STATICW);
  return text ? TextOf(text, deadline).value_or(L"") : L"";
}

HWND EditOf(HWND control) {
  const auto edit = [](HWND w) { return ClassOf(w) == WC_EDITW; };
  const HWND inside = edit(control) ? nullptr : Child(control, edit);
  return inside ? inside : control;
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
void RequireReachable(HWND control) {
  const HWND root = GetAncestor(control, GA_ROOT);
  if (!IsWindowVisible(control)) throw Failure{"the control is hidden: " + Describe(control)};
  if (!IsWindowEnabled(control)) throw Failure{"the control is disabled: " + Describe(control)};
  if (!IsWindowEnabled(root)) throw Failure{"its window is disabled (a box of its own is open?): " + Describe(root)};
}

void Press(HWND button, const Deadline& deadline) {
  if (!button) throw Failure{"the button is gone"};
  RequireReachable(button);
  Deliver(button, BM_CLICK, 0, 0);
  Settle(button, deadline);
}

LRESULT Ask(HWND w, UINT message, WPARAM wParam, LPARAM lParam, const Deadline& deadline) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(w, message, wParam, lParam, SMTO_NORMAL, deadline.RemainingMs(), &result)) {
    throw Failure{"the program does not answer: " + Describe(w)};
  }
  return static_cast<LRESULT>(result);
}

namespace {

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// The chunk's CRC covers its type and data but not its length.
void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBigEndian(png, static_cast<uint32_t>(data.size()));
  const size_t from = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = from; i < png.size(); ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  PutBigEndian(png, ~crc);
}

// 8-bit RGB without compression (stored deflate blocks of at most 65535 bytes), so that
// screenshots need no image library on the Windows side. Each row starts with its filter
// byte.
std::vector<uint8_t> Png(uint32_t width, uint32_t height, const std::vector<uint8_t>& rows) {
  std::vector<uint8_t> header, z = {0x78, 0x01};
  PutBigEndian(header, width);
  PutBigEndian(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter set 0, no interlace
  for (size_t at = 0; at < rows.size(); at += 65535) {
    const auto n = static_cast<uint16_t>(std::min<size_t>(rows.size() - at, 65535));
    z.insert(z.end(), {at + n == rows.size(), static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
    z.insert(z.end(), rows.begin() + static_cast<std::ptrdiff_t>(at), rows.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  uint32_t a = 1, b = 0;  // Adler-32
  for (uint8_t byte : rows) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(z, b << 16 | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", z);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace

// Another process's window cannot be asked to print itself into our device context, but the
// screen shows it: a copy from the screen gives the pixels a user sees.
std::vector<uint8_t> Screenshot(HWND w) {
  RECT r{};
  if (!GetWindowRect(w, &r)) return {};
  const int screenLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int screenTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int left = std::max<int>(r.left, screenLeft);
  const int top = std::max<int>(r.top, screenTop);
  const int right = std::min<int>(r.right, screenLeft + GetSystemMetrics(SM_CXVIRTUALSCREEN));
  const int bottom = std::min<int>(r.bottom, screenTop + GetSystemMetrics(SM_CYVIRTUALSCREEN));
  if (right <= left || bottom <= top) return {};
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
  std::vector<uint8_t> png;
  if (dib) {
    const HGDIOBJ old = SelectObject(memory, dib);
    if (BitBlt(memory, 0, 0, right - left, bottom - top, screen, left, top, SRCCOPY | CAPTUREBLT)) {
      GdiFlush();
      const auto* px = static_cast<const uint32_t*>(bits);
      const auto width = static_cast<size_t>(right - left), count = width * static_cast<size_t>(bottom - top);
      if (std::any_of(px, px + count, [&](uint32_t p) { return ((p ^ px[0]) & 0xFFFFFF) != 0; })) {
        std::vector<uint8_t> rows;
        rows.reserve(count * 3 + count / width);
        for (size_t i = 0; i < count; ++i) {
          if (i % width == 0) rows.push_back(0);  // the row's filter: none
          rows.insert(rows.end(), {static_cast<uint8_t>(px[i] >> 16), static_cast<uint8_t>(px[i] >> 8),
                                   static_cast<uint8_t>(px[i])});
        }
        png = Png(static_cast<uint32_t>(width), static_cast<uint32_t>(bottom - top), rows);
      }
    }
    SelectObject(memory, old);
    DeleteObject(dib);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return png;
}

}  // namespace noxdrive
