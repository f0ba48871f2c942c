// Joins the protocol core to the window: the one serial port, received bytes
// handed to the link on the window's thread, and waits that sleep in the
// event loop until an event or the deadline, so clicks are handled inside a
// wait (the stop and abort buttons rely on that) and no CPU is burnt.
#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/window_port.h"
#include "serial/serial_port.h"

namespace corvel::app {

class WindowHost : public QObject, public WindowPort, public serial::PortEvents {
  Q_OBJECT
 public:
  explicit WindowHost(QObject* parent = nullptr);
  ~WindowHost() override;

  // WindowPort
  void SetLink(link::Link* link) override { link_ = link; }
  Result<void> OpenPort(const std::string& path, uint32_t baud) override;
  void RequestStop() override;
  void SetClosing() override { closing_ = true; }

  // link::Host
  bool QueueWrite(const uint8_t* data, size_t length) override;
  bool QueueBurst(const uint8_t* data, size_t length) override;
  void PumpMessages() override;
  void WaitUntil(uint64_t deadlineMicros) override;
  uint64_t NowMicros() override;
  void SleepMicros(uint64_t micros) override;
  void SetRts(bool high) override;
  Result<void> SetBaudRate(uint32_t rate) override;
  bool PortLost() override;

  // serial::PortEvents (monitor thread, except OnPortError)
  void OnDataReady() override;
  void OnPortLost(const std::string& reason) override;
  void OnPortError(const std::string& text) override;

 private:
  void DeliverPending();
  void PostDelivery();

  serial::SerialPort port_;
  link::Link* link_ = nullptr;
  std::function<size_t(const uint8_t*, size_t)> deliver_;  // built once: no allocation per chunk
  QTimer deadline_;
  std::atomic<bool> deliveryPosted_{false};
  bool closing_ = false;
};

}  // namespace corvel::app
