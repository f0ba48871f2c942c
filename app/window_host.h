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

#include "link/host.h"
#include "link/link.h"
#include "serial/serial_port.h"

namespace corvel::app {

class WindowHost : public QObject, public link::Host, public serial::PortEvents {
  Q_OBJECT
 public:
  explicit WindowHost(QObject* parent = nullptr);
  ~WindowHost() override;

  // Where received bytes go (text mode: the console text; else frames).
  void SetLink(link::Link* link) { link_ = link; }

  // Opens the port and starts its monitor; false when the device is absent
  // or in use. A configuration step that fails goes to onPortError and the
  // port still counts as open.
  bool OpenPort(const std::string& path, uint32_t baud);
  // Asks the monitor to finish and close the port; returns at once.
  void RequestStop();
  bool IsOpen() const { return port_.IsOpen(); }

  // Set while the window closes: every wait ends at once.
  void SetClosing() { closing_ = true; }

  // Window thread. The configuration error texts, and the port going away.
  std::function<void(const std::string& text)> onPortError;
  std::function<void(const std::string& reason)> onPortLost;

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
