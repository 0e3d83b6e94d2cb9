// What noxdrive knows about another program's windows: finding them, reading them, and
// handing them input the way the program's own message loop would receive it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace noxdrive {

class Deadline {
 public:
  explicit Deadline(double seconds) : end_(GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000)) {}
  bool Passed() const { return GetTickCount64() >= end_; }
  UINT RemainingMs() const {
    const ULONGLONG now = GetTickCount64();
    return now >= end_ ? 1 : static_cast<UINT>(end_ - now);
  }

 private:
  ULONGLONG end_;
};

// Runs probe until it returns true or the deadline passes; it runs at least once.
template <class Probe>
bool Poll(const Deadline& deadline, Probe probe) {
  for (;;) {
    if (probe()) return true;
    if (deadline.Passed()) return false;
    Sleep(20);
  }
}

std::wstring ClassOf(HWND w);
// Nothing when the program does not answer before the deadline.
std::optional<std::wstring> TextOf(HWND w, const Deadline& deadline);
using Accept = std::function<bool(HWND)>;
std::vector<HWND> TopWindows();
// The first visible top-level window that `accept` takes, polled until the deadline; or none.
HWND FindTop(const Deadline& deadline, const Accept& accept);
// The first descendant that `accept` takes, a visible one before a hidden one: a hidden page
// may hold the id of a visible control.
HWND Child(HWND parent, const Accept& accept);
bool HasId(HWND w, int id);
// By id (and class, when given).
HWND ChildById(HWND parent, int id, const wchar_t* cls = nullptr);
// The text of a message box.
std::wstring BoxText(HWND box, const Deadline& deadline);
// An edit, or the edit inside a combo box.
HWND EditOf(HWND control);

// "Title" (Class) and whether it is disabled; and every visible top-level window so.
std::string Describe(HWND w);
std::string ScreenReport();

// Input is queued without waiting for it to be handled; Settle returns once the program has
// handled everything queued before, or has entered a modal loop again. Both throw Failure.
void Deliver(HWND w, UINT message, WPARAM wParam, LPARAM lParam);
void Settle(HWND w, const Deadline& deadline);
// Throws Failure unless a user could operate the control.
void RequireReachable(HWND control);
// Clicks a button as a user would, and waits until the program has taken the click.
void Press(HWND button, const Deadline& deadline);
// A message whose answer is needed; throws Failure when the program does not answer.
LRESULT Ask(HWND w, UINT message, WPARAM wParam, LPARAM lParam, const Deadline& deadline);

// The screen's pixels where the window is, as a PNG file's bytes; none while they are all one
// colour (nothing drawn yet) or when the capture fails.
std::vector<uint8_t> Screenshot(HWND w);

}  // namespace noxdrive
