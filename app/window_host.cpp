#include "app/window_host.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <thread>

namespace corvel::app {

WindowHost::WindowHost(QObject* parent) : QObject(parent) {
  deliver_ = [this](const uint8_t* data, size_t count) -> size_t {
    return link_ != nullptr ? link_->Deliver(data, count) : count;
  };
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::PreciseTimer);
}

WindowHost::~WindowHost() {
  port_.RequestStop();
  port_.WaitStopped();
}

Result<void> WindowHost::OpenPort(const std::string& path, uint32_t baud) {
  Result<void> opened = port_.OpenPort(*this, path, baud);
  if (!opened.ok()) return opened;
  (void)port_.StartMonitor();
  return {};
}

void WindowHost::RequestStop() { port_.RequestStop(); }

bool WindowHost::QueueWrite(const uint8_t* data, size_t length) { return port_.QueueWrite(data, length); }

bool WindowHost::QueueBurst(const uint8_t* data, size_t length) { return port_.QueueBurst(data, length); }

void WindowHost::PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void WindowHost::WaitUntil(uint64_t deadlineMicros) {
  const uint64_t now = NowMicros();
  if (now >= deadlineMicros || closing_) return;
  // The timer's own event ends the wait at the deadline; any other event
  // (a received chunk, a click) ends it sooner.
  const uint64_t millis = (deadlineMicros - now + 999) / 1000;
  deadline_.start(static_cast<int>(std::min<uint64_t>(millis, 60000)));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  deadline_.stop();
}

uint64_t WindowHost::NowMicros() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void WindowHost::SleepMicros(uint64_t micros) { std::this_thread::sleep_for(std::chrono::microseconds(micros)); }

void WindowHost::SetRts(bool high) {
  if (high) {
    port_.SetRts();
  } else {
    port_.ClearRts();
  }
}

Result<void> WindowHost::SetBaudRate(uint32_t rate) { return port_.SetBaudRate(rate); }

bool WindowHost::PortLost() { return closing_ || port_.Lost(); }

void WindowHost::OnDataReady() { PostDelivery(); }

void WindowHost::PostDelivery() {
  if (deliveryPosted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] { DeliverPending(); }, Qt::QueuedConnection);
}

void WindowHost::DeliverPending() {
  deliveryPosted_.store(false);
  // One pass per event: the link stops right after a byte that completes a
  // frame, and the waiting operation must read that frame before the next
  // pass. What is left goes with the next event.
  (void)port_.Consume(deliver_);
  if (port_.HasData()) PostDelivery();
}

void WindowHost::OnPortLost(const std::string& reason) {
  QMetaObject::invokeMethod(
      this,
      [this, reason] {
        if (onPortLost) onPortLost(reason);
      },
      Qt::QueuedConnection);
}

void WindowHost::OnPortError(const std::string& text) {
  if (onPortError) onPortError(text);
}

}  // namespace corvel::app
