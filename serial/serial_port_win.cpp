// The Windows backend of SerialPort: CreateFileW on \\.\COMn with no sharing,
// a DCB for the line, overlapped ReadFile/WriteFile, and a monitor wait in
// WaitForMultipleObjects over the pending read, the pending write, the
// communication event and two events of our own (stop; writes queued or a
// chunk taken by the owner).
//
// Reads: the timeouts make a read return what the driver holds at once. The
// read stays pending when the driver completes reads only on arrival (Wine
// does); when it returns empty, WaitCommEvent(EV_RXCHAR) tells when bytes
// come. A driver whose WaitCommEvent ends at once as aborted (Wine on a
// pseudo-terminal) is looked at again every kPollMillis instead.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <vector>

#include "serial/line_rate.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"
#include "text/translation.h"
#include "text/wide_text.h"

namespace corvel::serial {
namespace {

constexpr DWORD kDriverQueueBytes = 4096;
constexpr size_t kWriteBlock = 4096;
constexpr int kPollMillis = 5;

// "COM7" names the device \\.\COM7 (the only form that reaches COM10 and
// above); a name with a folder in it is taken as it is.
std::wstring DevicePath(const std::string& path) {
  if (path.find_first_of("\\/") != std::string::npos) return WideFromUtf8(path);
  return L"\\\\.\\" + WideFromUtf8(path);
}

// The name other instances of this tool claim the port under.
std::wstring ClaimName(const std::string& path) {
  std::wstring name = WideFromUtf8(path.substr(path.find_last_of("\\/") + 1));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return L"Local\\corvel-port-" + name;
}

// Why an open port was lost. The codes a driver gives when its device goes
// away (a pseudo-terminal's other end closing, a USB adapter pulled out) say
// what the POSIX side says of a hang-up; anything else keeps the system's text.
std::string LostText(const char* call, DWORD error) {
  switch (error) {
    case ERROR_BROKEN_PIPE: case ERROR_DEVICE_NOT_CONNECTED: case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND: case ERROR_GEN_FAILURE:
      return Tr("设备已挂断");
    default:
      return std::string(call) + "(): " + SystemErrorText(error);
  }
}

Error OpenError(DWORD error) {
  ErrorKind kind = ErrorKind::kIo;
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_BAD_NETPATH:
    case ERROR_DEV_NOT_EXIST:
      kind = ErrorKind::kNotFound;
      break;
    // A COM port another program holds answers "access denied".
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_BUSY:
      kind = ErrorKind::kBusy;
      break;
    default:
      break;
  }
  return MakeError(kind, SystemErrorText(error));
}

class Overlapped {
 public:
  Overlapped() { io_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() {
    if (io_.hEvent != nullptr) CloseHandle(io_.hEvent);
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;

  OVERLAPPED* Start() {
    ResetEvent(io_.hEvent);
    io_.Internal = io_.InternalHigh = 0;
    io_.Offset = io_.OffsetHigh = 0;
    pending = false;
    return &io_;
  }
  HANDLE event() const { return io_.hEvent; }
  OVERLAPPED* get() { return &io_; }
  bool pending = false;

 private:
  OVERLAPPED io_{};
};

class WinBackend final : public PortBackend {
 public:
  WinBackend()
      : stopEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), wakeEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  ~WinBackend() override {
    if (IsOpen()) Close();
    CloseHandle(stopEvent_);
    CloseHandle(wakeEvent_);
  }

  Result<void> Open(const std::string& path) override {
    if (stopEvent_ == nullptr || wakeEvent_ == nullptr) return MakeError(ErrorKind::kIo, SystemErrorText(GetLastError()));
    ResetEvent(stopEvent_);
    ResetEvent(wakeEvent_);
    // The device itself keeps other programs out (no sharing); the claim
    // also keeps out other instances of this tool where the driver lets a
    // second opening through (Wine's does).
    HANDLE claim = CreateEventW(nullptr, TRUE, FALSE, ClaimName(path).c_str());
    if (claim == nullptr) return OpenError(GetLastError());
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(claim);
      return MakeError(ErrorKind::kBusy, SystemErrorText(ERROR_SHARING_VIOLATION));
    }
    HANDLE port = CreateFileW(DevicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      CloseHandle(claim);
      return OpenError(error);
    }
    // Only a communications device has an event mask: a file or another
    // device ends here. (Not GetCommState: Wine fails it while the line runs
    // at a rate it has no name for.)
    DWORD mask = 0;
    if (!GetCommMask(port, &mask)) {
      const DWORD error = GetLastError();
      CloseHandle(port);
      CloseHandle(claim);
      return MakeError(ErrorKind::kNotSerialDevice, SystemErrorText(error == 0 ? ERROR_INVALID_HANDLE : error));
    }
    port_ = port;
    claim_ = claim;
    readBuffer_.resize(SerialPort::kReadChunk);
    writeBuffer_.resize(kWriteBlock);
    std::lock_guard<std::mutex> lock(mutex_);
    readReady_ = 0;
    readOffset_ = 0;
    commEventsWork_ = true;
    writeFailed_.clear();
    return {};
  }

  std::optional<StepError> ConfigureLine(uint32_t rate, char parity, int dataBits, int stopBits) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    // A state that cannot be read is written whole; DTR then goes high as
    // it does when a port opens on Linux.
    if (!GetCommState(port_, &dcb)) {
      dcb = DCB{};
      dcb.DCBlength = sizeof dcb;
      dcb.fDtrControl = DTR_CONTROL_ENABLE;
      dcb.XonChar = 0x11;
      dcb.XoffChar = 0x13;
    }
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // DTR is left as the driver has it; RTS is the chip's reset line.
    dcb.fRtsControl = rtsHigh_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    if (dataBits < 5 || dataBits > 8) return StepError{"SetCommState", SystemErrorText(ERROR_INVALID_PARAMETER)};
    dcb.ByteSize = static_cast<BYTE>(dataBits);
    switch (parity) {
      case 'N': case 'n': dcb.Parity = NOPARITY; break;
      case 'E': case 'e': dcb.Parity = EVENPARITY; break;
      case 'O': case 'o': dcb.Parity = ODDPARITY; break;
      case 'M': case 'm': dcb.Parity = MARKPARITY; break;
      case 'S': case 's': dcb.Parity = SPACEPARITY; break;
      default: return StepError{"SetCommState", SystemErrorText(ERROR_INVALID_PARAMETER)};
    }
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    if (std::optional<StepError> failed = ApplyRate(dcb, rate)) return failed;
    if (!SetupComm(port_, kDriverQueueBytes, kDriverQueueBytes)) return Failed("SetupComm");
    // A read returns at once with what the driver holds; the monitor waits
    // for more with the communication event. Writes have no limit.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(port_, &timeouts)) return Failed("SetCommTimeouts");
    if (!SetCommMask(port_, EV_RXCHAR | EV_ERR)) return Failed("SetCommMask");
    return std::nullopt;
  }

  void FinishOpening() override { PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR); }

  std::optional<StepError> SetRate(uint32_t rate) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_, &dcb)) return Failed("GetCommState");
    return ApplyRate(dcb, rate);
  }

  // A device without modem lines (Wine's pseudo-terminal) refuses; there is
  // nothing to switch, which is not an error.
  void SetRts(bool high) override {
    rtsHigh_ = high;
    EscapeCommFunction(port_, high ? SETRTS : CLRRTS);
  }

  bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }

  void Close() override {
    // Nothing may still write into our buffers once the handle is gone.
    CancelIo(port_);
    for (Overlapped* io : {&read_, &write_, &comm_}) {
      DWORD ignored = 0;
      if (io->pending) GetOverlappedResult(port_, io->get(), &ignored, TRUE);
      io->pending = false;
    }
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    CloseHandle(claim_);
    claim_ = nullptr;
  }

  PortWait Wait(bool read, bool write, int timeoutMillis) override {
    PortWait result;
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) {
      result.stop = true;
      return result;
    }
    HANDLE handles[5] = {stopEvent_, wakeEvent_};
    DWORD count = 2;
    int readSlot = -1;
    int commSlot = -1;
    int writeSlot = -1;
    DWORD timeout = timeoutMillis < 0 ? INFINITE : static_cast<DWORD>(timeoutMillis);
    if (read) {
      if (!StartRead(result)) return result;
      if (Ready()) {
        result.readable = true;
        return result;
      }
      if (read_.pending) {
        readSlot = static_cast<int>(count);
        handles[count++] = read_.event();
      } else if (commEventsWork_) {
        if (!StartCommWait(result)) return result;
        if (!comm_.pending) {
          result.again = true;  // bytes came: read them
          return result;
        }
        commSlot = static_cast<int>(count);
        handles[count++] = comm_.event();
      } else {
        timeout = std::min<DWORD>(timeout, kPollMillis);
      }
    }
    if (write && write_.pending) {
      writeSlot = static_cast<int>(count);
      handles[count++] = write_.event();
    }
    const DWORD woke = WaitForMultipleObjects(count, handles, FALSE, timeout);
    if (woke == WAIT_FAILED) {
      result.lost = "WaitForMultipleObjects(): " + SystemErrorText(GetLastError());
      return result;
    }
    if (woke == WAIT_TIMEOUT) return result;
    const int slot = static_cast<int>(woke - WAIT_OBJECT_0);
    if (slot == 0) {
      result.stop = true;
    } else if (slot == readSlot) {
      FinishRead(result);
      result.readable = Ready();
    } else if (slot == commSlot) {
      FinishCommWait(result);
    } else if (slot == writeSlot) {
      if (!FinishWrite()) result.lost = WriteFailure();
    }
    return result;
  }

  bool WaitWritable(int timeoutMillis) override {
    if (!write_.pending) return WriteFailure().empty();
    if (WaitForSingleObject(write_.event(), static_cast<DWORD>(std::max(timeoutMillis, 0))) != WAIT_OBJECT_0) {
      return true;  // still going: the caller's limit decides
    }
    return FinishWrite();
  }

  Transfer Read(uint8_t* data, size_t length) override {
    Transfer result;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t count = std::min(length, readReady_ - readOffset_);
    std::copy_n(readBuffer_.data() + readOffset_, count, data);
    readOffset_ += count;
    if (readOffset_ == readReady_) readReady_ = readOffset_ = 0;
    result.count = count;
    return result;
  }

  Transfer Write(const uint8_t* data, size_t length) override {
    Transfer result;
    if (write_.pending) {
      if (!HasOverlappedIoCompleted(write_.get())) {
        result.blocked = true;
        return result;
      }
      if (!FinishWrite()) {
        result.lost = WriteFailure();
        return result;
      }
    }
    const size_t count = std::min(length, writeBuffer_.size());
    std::copy_n(data, count, writeBuffer_.data());
    DWORD written = 0;
    if (WriteFile(port_, writeBuffer_.data(), static_cast<DWORD>(count), &written, write_.Start())) {
      result.count = written;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      // Handed to the driver: the bytes are on their way.
      std::lock_guard<std::mutex> lock(mutex_);
      write_.pending = true;
      pendingBytes_ = count;
      result.count = count;
    } else {
      result.lost = LostText("WriteFile", GetLastError());
    }
    return result;
  }

  size_t OutputQueued() override {
    DWORD errors = 0;
    COMSTAT status{};
    size_t queued = ClearCommError(port_, &errors, &status) ? status.cbOutQue : 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (write_.pending && !HasOverlappedIoCompleted(write_.get())) queued = std::max(queued, pendingBytes_);
    return queued;
  }

  void PurgeInput() override {
    PurgeComm(port_, PURGE_RXCLEAR);
    std::lock_guard<std::mutex> lock(mutex_);
    readReady_ = readOffset_ = 0;
  }

  void DiscardOutput() override { PurgeComm(port_, PURGE_TXCLEAR | PURGE_TXABORT); }

  void Wake() override { SetEvent(wakeEvent_); }

  void RequestStop() override { SetEvent(stopEvent_); }

 private:
  StepError Failed(const char* step) const { return StepError{step, SystemErrorText(GetLastError())}; }

  // Rate 0 and a rate the driver reads back differently (Wine falls back to
  // 38400 for a rate its host cannot make) are refused; the old DCB stays.
  std::optional<StepError> ApplyRate(DCB dcb, uint32_t rate) {
    DCB old{};
    old.DCBlength = sizeof old;
    const bool restorable = GetCommState(port_, &old);
    if (rate == 0) return StepError{"SetCommState", SystemErrorText(ERROR_INVALID_PARAMETER)};
    dcb.BaudRate = rate;
    if (!SetCommState(port_, &dcb)) return Failed("SetCommState");
    DCB now{};
    now.DCBlength = sizeof now;
    if (!GetCommState(port_, &now)) return Failed("GetCommState");
    if (!RateAccepted(rate, now.BaudRate)) {
      if (restorable) SetCommState(port_, &old);
      return StepError{"SetCommState", RateRefusedText(rate, now.BaudRate)};
    }
    return std::nullopt;
  }

  bool Ready() {
    std::lock_guard<std::mutex> lock(mutex_);
    return readReady_ > readOffset_;
  }

  // Starts a read unless one is pending or bytes wait to be taken. False
  // when the device failed (the reason in `result`).
  bool StartRead(PortWait& result) {
    if (read_.pending || Ready()) return true;
    DWORD got = 0;
    if (ReadFile(port_, readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), &got, read_.Start())) {
      std::lock_guard<std::mutex> lock(mutex_);
      readReady_ = got;
      readOffset_ = 0;
      return true;
    }
    if (GetLastError() == ERROR_IO_PENDING) {
      read_.pending = true;
      return true;
    }
    result.lost = LostText("ReadFile", GetLastError());
    return false;
  }

  void FinishRead(PortWait& result) {
    DWORD got = 0;
    const bool ok = GetOverlappedResult(port_, read_.get(), &got, FALSE);
    const DWORD error = ok ? 0 : GetLastError();
    read_.pending = false;
    if (ok) {
      std::lock_guard<std::mutex> lock(mutex_);
      readReady_ = got;
      readOffset_ = 0;
    } else if (error == ERROR_OPERATION_ABORTED) {
      result.again = true;  // a purge ended it
    } else {
      result.lost = LostText("ReadFile", error);
    }
  }

  bool StartCommWait(PortWait& result) {
    if (comm_.pending) return true;
    commMask_ = 0;
    if (WaitCommEvent(port_, &commMask_, comm_.Start())) return true;
    if (GetLastError() == ERROR_IO_PENDING) {
      comm_.pending = true;
      return true;
    }
    result.lost = LostText("WaitCommEvent", GetLastError());
    return false;
  }

  void FinishCommWait(PortWait& result) {
    DWORD ignored = 0;
    const bool ok = GetOverlappedResult(port_, comm_.get(), &ignored, FALSE);
    const DWORD error = ok ? 0 : GetLastError();
    comm_.pending = false;
    result.again = true;
    if (ok && commMask_ != 0) return;
    if (ok || error == ERROR_OPERATION_ABORTED) {
      // Ended without an event and without our asking: this driver's event
      // wait does not work, so the monitor looks for bytes on a short timer.
      commEventsWork_ = false;
      return;
    }
    result.again = false;
    result.lost = LostText("WaitCommEvent", error);
  }

  // Reaps the pending write; false when it failed.
  bool FinishWrite() {
    DWORD written = 0;
    const bool ok = GetOverlappedResult(port_, write_.get(), &written, FALSE);
    const DWORD error = ok ? 0 : GetLastError();
    std::lock_guard<std::mutex> lock(mutex_);
    write_.pending = false;
    pendingBytes_ = 0;
    if (!ok) writeFailed_ = LostText("WriteFile", error);
    return ok;
  }

  std::string WriteFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writeFailed_;
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE claim_ = nullptr;
  HANDLE stopEvent_;
  HANDLE wakeEvent_;
  Overlapped read_;
  Overlapped write_;
  Overlapped comm_;
  DWORD commMask_ = 0;
  bool commEventsWork_ = true;
  bool rtsHigh_ = false;
  // Allocated once per opening.
  std::vector<uint8_t> readBuffer_;
  std::vector<uint8_t> writeBuffer_;

  // What the owner's thread also touches (purging, the output queue).
  std::mutex mutex_;
  size_t readReady_ = 0;
  size_t readOffset_ = 0;
  size_t pendingBytes_ = 0;
  std::string writeFailed_;
};

}  // namespace

std::unique_ptr<PortBackend> MakePortBackend() { return std::make_unique<WinBackend>(); }

}  // namespace corvel::serial
