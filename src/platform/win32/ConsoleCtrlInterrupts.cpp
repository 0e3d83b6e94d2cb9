#include "platform/win32/ConsoleCtrlInterrupts.h"

#include <atomic>

namespace nox::win32 {
namespace {

constexpr uint32_t kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

std::atomic<uint32_t> g_requested{0};

BOOL WINAPI OnControlEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_requested.store(kControlCExit);
      return TRUE;  // handled: the program goes on to a point where it can stop
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_requested.store(kControlCExit);
      // The system ends the process as soon as this handler returns, and anyway after a few
      // seconds (about 5 for a closed console): holding this thread here is as long as a
      // flash can be held. The program's own thread ends the process earlier when it can:
      // at once outside a flash, after the region being written during one. A flash that
      // needs longer is cut off by the system, which no program can prevent.
      for (;;) Sleep(INFINITE);
    default:
      return FALSE;
  }
}

}  // namespace

ConsoleCtrlInterrupts::ConsoleCtrlInterrupts() { SetConsoleCtrlHandler(OnControlEvent, TRUE); }

ConsoleCtrlInterrupts::~ConsoleCtrlInterrupts() { SetConsoleCtrlHandler(OnControlEvent, FALSE); }

uint32_t ConsoleCtrlInterrupts::Requested() const { return g_requested.load(); }

}  // namespace nox::win32
