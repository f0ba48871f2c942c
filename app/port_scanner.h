// Keeps the port list up to date: a worker lists the system's serial ports
// every 600 ms and hands each list to the window's thread. Paused while a
// port is open; a pause takes effect between two scans.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace corvel::app {

// One entry of the port list: the device path, which is what opening uses,
// and what the list shows beside it.
struct PortChoice {
  // Implicit: a bare path is a choice without a label.
  PortChoice(QString devicePath, QString shownLabel = {})  // NOLINT(google-explicit-constructor)
      : path(std::move(devicePath)), label(std::move(shownLabel)) {}
  // "/dev/ttyUSB0 (CP2102 USB to UART Bridge Controller)", or the bare path.
  QString DisplayText() const;
  bool operator==(const PortChoice&) const = default;

  QString path;
  QString label;  // the adapter's product name, the simulated chip's mark, or empty
};

// The simulated chip's pseudo-terminal, marked as such in the list.
PortChoice SimulatedChipChoice(const QString& path);

class PortScanner : public QObject {
  Q_OBJECT
 public:
  using Lister = std::function<QList<PortChoice>()>;
  static constexpr int kIntervalMs = 600;

  explicit PortScanner(Lister lister, QObject* parent = nullptr);
  ~PortScanner() override;

  // Lists once on the calling thread (start-up).
  QList<PortChoice> ScanNow() const;

  // Starts the worker (once); it scans at once and then every interval.
  void Start(int intervalMs = kIntervalMs);
  void Pause();
  void Resume();
  bool paused() const { return paused_.load(); }
  bool started() const { return worker_.joinable(); }

 signals:
  // On the window's thread; not sent while paused.
  void PortsFound(const QList<corvel::app::PortChoice>& ports);

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
