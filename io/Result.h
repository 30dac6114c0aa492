// What a function of this project that can fail gives back: its value, a status and a
// message, in one object. The functions whose returns are fixed by the tool's long-
// standing interfaces (the control-file table, the fit, the readers' statuses) keep them.
#pragma once

#include <string>
#include <utility>

namespace brevo {

// The value is always there: on failure it is empty or what could be made (each function
// says which). Status zero is success, any other value the function's own code; message
// says why in one line without a newline (a function that reports several problems at
// once gives one a line, and says so), and is empty on success.
template <class T, class Status = int>
struct Result {
  T value{};
  Status status{};
  std::string message;
  bool ok() const { return status == Status{}; }
  explicit operator bool() const { return ok(); }
};

// A call that gives back nothing but whether it succeeded and why not.
template <class Status>
struct Result<void, Status> {
  Status status{};
  std::string message;
  bool ok() const { return status == Status{}; }
  explicit operator bool() const { return ok(); }
};

// A failure of status 1 (or the one given) with its message and an empty value.
template <class T = void>
Result<T> failure(std::string message, int status = 1) {
  Result<T> r;
  r.status = status;
  r.message = std::move(message);
  return r;
}

// A success holding value.
template <class T>
Result<T> success(T value) {
  Result<T> r;
  r.value = std::move(value);
  return r;
}

}  // namespace brevo
