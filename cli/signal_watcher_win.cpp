// Ctrl-C, Ctrl-Break and closing the console window on Windows: the system
// calls the handler on a thread of its own, so the work runs there as
// ordinary code, as on the watcher's thread elsewhere.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cli/signal_watcher.h"

namespace corvel::cli {
namespace {

// Windows ends the process five seconds after a close event; the run gets
// most of that to stop and let the chip go.
constexpr auto kCloseGrace = std::chrono::milliseconds(4500);

// Never destroyed: a handler thread may still touch them while the process
// exits.
struct Watching {
  std::mutex guard;
  std::condition_variable changed;
  const std::function<void()>* handler = nullptr;
  int running = 0;
};
Watching& State() {
  static Watching* state = new Watching;
  return *state;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  Watching& state = State();
  std::unique_lock<std::mutex> lock(state.guard);
  if (state.handler == nullptr) return TRUE;
  const std::function<void()>* handler = state.handler;
  ++state.running;
  lock.unlock();
  (*handler)();
  lock.lock();
  --state.running;
  state.changed.notify_all();
  // The process ends when this returns: wait for the run to finish first.
  if (event == CTRL_CLOSE_EVENT) state.changed.wait_for(lock, kCloseGrace, [&state] { return state.handler == nullptr; });
  return TRUE;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  Watching& state = State();
  {
    std::lock_guard<std::mutex> lock(state.guard);
    state.handler = &onSignal_;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatcher::~SignalWatcher() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  Watching& state = State();
  std::unique_lock<std::mutex> lock(state.guard);
  state.handler = nullptr;
  state.changed.notify_all();
  // A handler already running calls onSignal_, which dies with this object.
  state.changed.wait(lock, [&state] { return state.running == 0; });
}

void SignalWatcher::Watch() {}

}  // namespace corvel::cli
