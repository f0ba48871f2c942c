// Ctrl-C, Ctrl-Break and closing the console window on Windows: the system
// calls the handler on a thread of its own, so the work runs there as
// ordinary code, as on the watcher's thread elsewhere.
#include <windows.h>

#include <atomic>

#include "cli/signal_watcher.h"

namespace corvel::cli {
namespace {

std::atomic<SignalWatcher*> watching{nullptr};
std::function<void()>* handler = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: case CTRL_BREAK_EVENT: case CTRL_CLOSE_EVENT:
      if (watching.load() != nullptr && handler != nullptr) (*handler)();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  handler = &onSignal_;
  watching = this;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatcher::~SignalWatcher() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  watching = nullptr;
}

void SignalWatcher::Watch() {}

}  // namespace corvel::cli
