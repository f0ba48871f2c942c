#include "cli/signal_watcher.h"

#include <csignal>

namespace corvel::cli {
namespace {

// SIGUSR1, sent to the watcher alone, ends it.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
}

void SignalWatcher::Watch() {
  const sigset_t set = WatchedSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (signal == SIGUSR1) return;
    onSignal_();
  }
}

}  // namespace corvel::cli
