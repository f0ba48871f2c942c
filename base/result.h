// Result of an operation that can fail: a value, or an error with a kind from a
// closed set and a text for the user. No exceptions cross the component borders.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace corvel {

enum class ErrorKind {
  kIo,               // the OS refused a read, write or configuration step
  kPermission,       // the device or file may not be opened
  kBusy,             // the device is in use by another program
  kNotFound,         // no device at the given path
  kNotSerialDevice,  // the path is a directory, a file or a device that is not a terminal
  kBadInput,         // a file, argument or length the operation cannot accept
};

struct Error {
  ErrorKind kind;
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return ok_; }
  explicit operator bool() const { return ok_; }
  const Error& error() const { return error_; }

 private:
  Error error_{ErrorKind::kIo, {}};
  bool ok_ = true;
};

inline Error MakeError(ErrorKind kind, std::string text) { return Error{kind, std::move(text)}; }

}  // namespace corvel
