#include "app/port_scanner.h"

#include <QMetaObject>

#include "text/translation.h"

namespace corvel::app {
namespace {

// What the list shows beside the simulated chip's device.
constexpr const char* kSimulatedChipLabel = "模拟芯片";

}  // namespace

QString PortChoice::DisplayText() const {
  return label.isEmpty() ? path : path + QStringLiteral(" (") + label + QStringLiteral(")");
}

PortChoice SimulatedChipChoice(const QString& path) { return {path, QString::fromUtf8(Tr(kSimulatedChipLabel))}; }

PortScanner::PortScanner(Lister lister, QObject* parent) : QObject(parent), lister_(std::move(lister)) {}

PortScanner::~PortScanner() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

QList<PortChoice> PortScanner::ScanNow() const { return lister_ ? lister_() : QList<PortChoice>{}; }

void PortScanner::Start(int intervalMs) {
  if (worker_.joinable()) return;
  worker_ = std::thread([this, intervalMs] { Run(intervalMs); });
}

void PortScanner::Pause() { paused_.store(true); }

void PortScanner::Resume() {
  paused_.store(false);
  wake_.notify_all();
}

void PortScanner::Run(int intervalMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (!paused_.load()) {
      lock.unlock();
      QList<PortChoice> ports = ScanNow();
      // The window drops a list that arrives after a port was opened.
      QMetaObject::invokeMethod(
          this,
          [this, ports = std::move(ports)] {
            if (!paused_.load()) emit PortsFound(ports);
          },
          Qt::QueuedConnection);
      lock.lock();
    }
    wake_.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return stop_; });
  }
}

}  // namespace corvel::app
