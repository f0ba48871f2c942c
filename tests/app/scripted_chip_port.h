// A port with a scripted chip behind it, for the window's tests: each
// command frame and burst written gets the chip's answer, handed to the link
// through the event loop as a real port does, without the chip's delay. No
// wall-clock sleeps.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "app/window_port.h"
#include "link/host.h"
#include "link/link.h"
#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"

namespace corvel::testing {

class ScriptedChipPort : public QObject, public app::WindowPort, public link::Host {
 public:
  ScriptedChipPort() {
    deadline_.setSingleShot(true);
    // Unanswered, so a disconnect adds no console text to the log the tests read.
    chip.status[link::cmd::kDisconnect] = kSilent;
  }

  ScriptedChip chip;
  bool openOk = true;
  std::vector<std::pair<std::string, uint32_t>> opens;
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

  bool QueueWrite(const uint8_t* data, size_t length) override { return Answer(data, length); }
  bool QueueBurst(const uint8_t* data, size_t length) override { return Answer(data, length); }
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
  bool Answer(const uint8_t* data, size_t length) {
    if (!open_) return false;
    if (auto answer = chip.AnswerTo(Bytes(data, data + length))) Receive(answer->bytes);
    return true;
  }
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
