// Joins the protocol core to the window: the serial port of host::SerialHost,
// received bytes handed to the link on the window's thread, and waits that
// sleep in the event loop until an event or the deadline, so clicks are
// handled inside a wait (the stop and abort buttons rely on that) and no CPU
// is burnt.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <string>

#include "app/window_port.h"
#include "host/serial_host.h"

namespace corvel::app {

class WindowHost : public QObject, public WindowPort, public host::SerialHost {
  Q_OBJECT
 public:
  explicit WindowHost(QObject* parent = nullptr);
  ~WindowHost() override;

  // WindowPort
  link::Host& host() override { return *this; }
  void SetLink(link::Link* link) override { SerialHost::SetLink(link); }
  // Closes the port again when its monitor cannot start.
  Result<void> OpenPort(const std::string& path, uint32_t baud) override { return SerialHost::OpenPort(path, baud); }
  void RequestStop() override;
  void SetClosing() override { closing_ = true; }

  // link::Host
  void PumpMessages() override;
  void WaitUntil(uint64_t deadlineMicros) override;
  bool PortLost() override;

  // serial::PortEvents (monitor thread, except OnPortError)
  void OnDataReady() override;
  void OnPortLost(const std::string& reason) override;
  void OnPortError(const std::string& text) override;

 private:
  void DeliverPending();
  void PostDelivery();

  QTimer deadline_;
  std::atomic<bool> deliveryPosted_{false};
  bool closing_ = false;
};

}  // namespace corvel::app
