// Keeps the port list up to date: a worker lists the system's serial ports
// every 600 ms and hands each list to the window's thread. Paused while a
// port is open; a pause takes effect between two scans.
#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvel::app {

class PortScanner : public QObject {
  Q_OBJECT
 public:
  using Lister = std::function<std::vector<std::string>()>;
  static constexpr int kIntervalMs = 600;

  explicit PortScanner(Lister lister, QObject* parent = nullptr);
  ~PortScanner() override;

  // Lists once on the calling thread (start-up).
  QStringList ScanNow() const;

  // Starts the worker (once); it scans at once and then every interval.
  void Start(int intervalMs = kIntervalMs);
  void Pause();
  void Resume();
  bool paused() const { return paused_.load(); }
  bool started() const { return worker_.joinable(); }

 signals:
  // On the window's thread; not sent while paused.
  void PortsFound(const QStringList& ports);

 private:
  void Run(int intervalMs);

  Lister lister_;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> paused_{false};
};

}  // namespace corvel::app
