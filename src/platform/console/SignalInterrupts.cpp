#include "platform/console/SignalInterrupts.h"

#include <cstddef>
#include <csignal>
#include <iterator>

namespace nox::console {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A handler may touch nothing but a flag of this type.
volatile std::sig_atomic_t g_signal = 0;

extern "C" void NoteSignal(int signal) {
  if (g_signal == 0) g_signal = signal;
}

}  // namespace

SignalInterrupts::SignalInterrupts() {
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = 0;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], nullptr, &saved_[i]);
    // A program started with the signal ignored (nohup, a background job of a shell without
    // job control) keeps it ignored, as whoever started it asked.
    if (saved_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
  }
}

SignalInterrupts::~SignalInterrupts() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &saved_[i], nullptr);
}

uint32_t SignalInterrupts::Requested() const {
  const int signal = g_signal;
  return signal == 0 ? 0 : 128 + static_cast<uint32_t>(signal);
}

}  // namespace nox::console
