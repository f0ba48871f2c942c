// A port with a scripted chip behind it, for the window's tests: each
// command frame written gets the reply the script gives, handed to the link
// through the event loop as a real port does; the sync burst is answered
// with the sync pattern when the script says so. No wall-clock sleeps.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window_port.h"
#include "link/host.h"
#include "link/link.h"
#include "tests/support/fake_host.h"

namespace corvel::testing {

class ScriptedChipPort : public QObject, public app::WindowPort, public link::Host {
 public:
  // Reply to one command (code, payload); nullopt: no answer.
  using Script = std::function<std::optional<Bytes>(uint8_t code, const Bytes& payload)>;

  ScriptedChipPort() {
    deadline_.setSingleShot(true);
    script = [](uint8_t code, const Bytes&) -> std::optional<Bytes> {
      if (code == 0x11) return MakeResponse(code, 0x20);
      if (code == 0x81 || code == 0x12) return std::nullopt;
      return MakeResponse(code, 0x00);
    };
  }

  Script script;
  bool answerBursts = true;
  bool openOk = true;
  std::vector<std::pair<std::string, uint32_t>> opens;
  std::vector<Bytes> frames;  // every command frame written
  int bursts = 0;
  int stops = 0;
  std::vector<uint32_t> rates;

  link::Host& host() override { return *this; }
  void SetLink(link::Link* link) override { link_ = link; }
  Result<void> OpenPort(const std::string& path, uint32_t baud) override {
    opens.emplace_back(path, baud);
    open_ = openOk;
    if (!openOk) return MakeError(ErrorKind::kBusy, "Device or resource busy");
    return {};
  }
  void RequestStop() override {
    ++stops;
    open_ = false;
  }
  void SetClosing() override { closing_ = true; }

  // Bytes from the chip, as if they had just arrived (console text, say).
  void Receive(const Bytes& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    Post();
  }

  bool QueueWrite(const uint8_t* data, size_t length) override {
    if (!open_) return false;
    Bytes frame(data, data + length);
    frames.push_back(frame);
    if (length >= link::kFrameOverhead && frame[0] == link::kFrameStart) {
      const Bytes payload(frame.begin() + 4, frame.end() - 3);
      if (auto reply = script(frame[1], payload)) Receive(*reply);
    }
    return true;
  }
  bool QueueBurst(const uint8_t*, size_t) override {
    if (!open_) return false;
    ++bursts;
    if (answerBursts) Receive(Bytes(8, link::kSyncByte));
    return true;
  }
  void PumpMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  void WaitUntil(uint64_t deadlineMicros) override {
    const uint64_t now = NowMicros();
    if (now >= deadlineMicros || closing_) return;
    deadline_.start(static_cast<int>((deadlineMicros - now + 999) / 1000));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    deadline_.stop();
  }
  uint64_t NowMicros() override {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMicros(uint64_t) override {}
  Result<void> SetBaudRate(uint32_t rate) override {
    rates.push_back(rate);
    return {};
  }
  bool PortLost() override { return closing_; }

 private:
  void Post() {
    if (posted_) return;
    posted_ = true;
    QMetaObject::invokeMethod(this, [this] { Deliver(); }, Qt::QueuedConnection);
  }
  void Deliver() {
    posted_ = false;
    if (link_ == nullptr || pending_.empty()) return;
    link_->Deliver(pending_.data(), pending_.size());
    pending_.clear();
  }

  link::Link* link_ = nullptr;
  Bytes pending_;
  QTimer deadline_;
  bool posted_ = false;
  bool open_ = false;
  bool closing_ = false;
};

}  // namespace corvel::testing
