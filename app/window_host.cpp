#include "app/window_host.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace corvel::app {

WindowHost::WindowHost(QObject* parent) : QObject(parent) {
  deadline_.setSingleShot(true);
  deadline_.setTimerType(Qt::PreciseTimer);
}

WindowHost::~WindowHost() { ClosePort(); }

void WindowHost::RequestStop() { port().RequestStop(); }

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

bool WindowHost::PortLost() { return closing_ || SerialHost::PortLost(); }

void WindowHost::OnDataReady() { PostDelivery(); }

void WindowHost::PostDelivery() {
  if (deliveryPosted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, [this] { DeliverPending(); }, Qt::QueuedConnection);
}

void WindowHost::DeliverPending() {
  deliveryPosted_.store(false);
  // One pass per event; what is left goes with the next one.
  DeliverReceived();
  if (port().HasData()) PostDelivery();
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
