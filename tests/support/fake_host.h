// A host for unit tests: a fake clock that only moves when the core waits,
// scripted incoming bytes, and a record of every write. No test sleeps.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/host.h"
#include "link/link.h"
#include "log/log.h"

namespace corvel::testing {

using Bytes = std::vector<uint8_t>;

// Collects what the core logs.
class RecordingSink : public log::LogSink {
 public:
  void AppendLine(std::string_view line) override { lines.emplace_back(line); }
  void AppendText(std::string_view text) override { text_ += text; }
  void Clear() override {
    lines.clear();
    ++clears;
  }
  void AppendHint(std::string_view hint) override { hints.emplace_back(hint); }
  std::string text() const { return text_; }

  std::vector<std::string> lines;
  // Kept apart from the lines, as the command line keeps them off stdout.
  std::vector<std::string> hints;
  int clears = 0;

 private:
  std::string text_;
};

inline Bytes MakeFrame(uint8_t code, const Bytes& payload) {
  Bytes frame(payload.size() + link::kFrameOverhead);
  frame.resize(link::BuildFrame(code, payload.data(), payload.size(), frame.data()));
  return frame;
}

// A response frame: the status byte, then the data.
inline Bytes MakeResponse(uint8_t code, uint8_t status, const Bytes& data = {}) {
  Bytes payload{status};
  payload.insert(payload.end(), data.begin(), data.end());
  return MakeFrame(code, payload);
}

class FakeHost : public link::Host {
 public:
  // Called for every queued write; a test answers through Reply().
  std::function<void(const Bytes&)> onWrite;

  bool QueueWrite(const uint8_t* data, size_t length) override {
    writes.emplace_back(data, data + length);
    if (onWrite) onWrite(writes.back());
    return writeOk;
  }

  void PumpMessages() override {
    ++pumps;
    MoveDue();
    Feed();
  }

  void WaitUntil(uint64_t deadlineMicros) override {
    ++waits;
    if (!HasPending()) {
      uint64_t next = deadlineMicros;
      if (!incoming.empty() && incoming.front().at < next) next = incoming.front().at;
      if (next > now) now = next;
    }
    MoveDue();
    Feed();
  }

  uint64_t NowMicros() override { return now; }
  void SleepMicros(uint64_t micros) override {
    now += micros;
    lineSteps.push_back("sleep " + std::to_string(micros));
  }
  void SetRts(bool high) override { rts.push_back(high); }
  Result<void> SetBaudRate(uint32_t rate) override {
    rates.push_back(rate);
    lineSteps.push_back("rate " + std::to_string(rate));
    if (!rateOk) return MakeError(ErrorKind::kIo, "rate refused");
    return {};
  }
  bool DrainOutput(uint64_t limitMicros) override {
    lineSteps.push_back("drain " + std::to_string(limitMicros));
    return drainOk;
  }
  // What has arrived by now is dropped; later arrivals still come.
  void DiscardInput() override {
    lineSteps.push_back("discard");
    MoveDue();
    pending.clear();
    pendingPos = 0;
  }
  bool PortLost() override { return lost; }

  // Schedules bytes to arrive `delayMicros` after now (in order of arrival).
  void Reply(const Bytes& bytes, uint64_t delayMicros = 0) {
    const uint64_t at = now + delayMicros;
    auto it = incoming.begin();
    while (it != incoming.end() && it->at <= at) ++it;
    incoming.insert(it, Arrival{at, bytes});
  }

  bool HasPending() const { return pendingPos < pending.size(); }

  link::Link* link = nullptr;  // where received bytes go
  uint64_t now = 1000ull * 1000000ull;  // whole seconds at the start
  std::vector<Bytes> writes;
  std::vector<bool> rts;
  std::vector<uint32_t> rates;
  // The line calls in order: "drain <limit>", "rate <rate>", "discard", "sleep <micros>".
  std::vector<std::string> lineSteps;
  bool writeOk = true;
  bool rateOk = true;
  bool drainOk = true;
  bool lost = false;
  int pumps = 0;
  int waits = 0;

 private:
  struct Arrival {
    uint64_t at;
    Bytes bytes;
  };

  void MoveDue() {
    while (!incoming.empty() && incoming.front().at <= now) {
      pending.insert(pending.end(), incoming.front().bytes.begin(), incoming.front().bytes.end());
      incoming.pop_front();
    }
  }

  // Like the real hosts: hand over what has arrived.
  void Feed() {
    if (link == nullptr || !HasPending()) return;
    link->Deliver(pending.data() + pendingPos, pending.size() - pendingPos);
    pending.clear();
    pendingPos = 0;
  }

  std::deque<Arrival> incoming;
  Bytes pending;
  size_t pendingPos = 0;
};

// Puts a link's receiver in `state` through its own transitions, as a
// connection does: the sync pattern itself moves it from hunting to synced.
inline void EnterReceiverState(link::Link& link, link::ReceiverState state) {
  switch (state) {
    case link::ReceiverState::kText:
      link.BackToText();
      return;
    case link::ReceiverState::kSyncHunt:
      link.EnterSyncHunt();
      return;
    case link::ReceiverState::kSynced: {
      link.EnterSyncHunt();
      const Bytes sync(link::kSyncCount, link::kSyncByte);
      link.Deliver(sync.data(), sync.size());
      return;
    }
    case link::ReceiverState::kFramed:
      EnterReceiverState(link, link::ReceiverState::kSynced);
      link.EnableFrames();
      return;
  }
}

// A link wired to a fake host and a recording sink.
struct LinkFixture {
  LinkFixture() : log(sink), link(host, log) { host.link = &link; }
  RecordingSink sink;
  FakeHost host;
  log::Log log;
  link::Link link;
};

// The same with the receiver assembling frames, as after a handshake.
struct ConnectedLinkFixture : LinkFixture {
  ConnectedLinkFixture() { EnterReceiverState(link, link::ReceiverState::kFramed); }
};

}  // namespace corvel::testing
