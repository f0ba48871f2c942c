// Ctrl-C and SIGTERM for the command line: the signals are blocked in every
// thread and one thread waits for them, so the work they trigger runs as
// ordinary code rather than inside a signal handler.
#pragma once

#include <pthread.h>

#include <functional>
#include <thread>

namespace corvel::cli {

class SignalWatcher {
 public:
  // Construct before any other thread starts, so all threads inherit the
  // blocked signals. `onSignal` runs on the watcher's thread.
  explicit SignalWatcher(std::function<void()> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void()> onSignal_;
  std::thread thread_;
};

}  // namespace corvel::cli
