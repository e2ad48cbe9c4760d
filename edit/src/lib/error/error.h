// SPDX-License-Identifier: Apache-2.0
// Error values of tuvel-edit: an EditError with its own code, or a plain
// failure (a message with its chain of causes) that callers see as
// "io_or_request". Failures travel up as values and become output in one place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tuvel {

/// Codes of failures the caller can act on.
enum class EditCode : std::uint8_t {
  InvalidRange,      // a line window or line edit outside the file
  MatchCount,        // a replace found a different number of occurrences
  OverlappingEdits,  // two changes overlap or share an insertion point
  OutputLimit,       // a read answer would exceed its budget
  StaleRevision,     // the file no longer has the caller's revision
  SizeLimit,         // new length arithmetic overflowed
  ConcurrentChange,  // the file changed under us; read and retry
  Busy,              // another writer holds the lock; retry
};

/// The snake_case code as written in envelopes.
std::string_view code_name(EditCode code);

/// EditError: a failure with its own code.
struct EditError {
  EditCode code;
  std::string message;
};

/// Failure: a plain failure; `causes` are rendered after it, joined by ": ".
/// `os_errno` is set when the failure is itself an operating-system error.
struct Failure {
  std::string message;
  std::vector<std::string> causes;
  int os_errno = 0;
};

/// Error: what every operation of tuvel-edit may fail with.
class Error {
 public:
  Error(EditError e) : value_(std::move(e)) {}  // NOLINT(google-explicit-constructor)
  Error(Failure f) : value_(std::move(f)) {}    // NOLINT(google-explicit-constructor)

  static Error edit(EditCode code, std::string message) { return EditError{code, std::move(message)}; }
  static Error plain(std::string message) { return Failure{std::move(message), {}, 0}; }
  /// An operating-system error: "{description} (os error {n})".
  static Error os(int err);
  /// A plain failure whose cause is `cause`'s rendering.
  static Error with_cause(std::string message, std::string cause);

  bool is_edit() const { return std::holds_alternative<EditError>(value_); }
  /// "io_or_request" for every plain failure.
  std::string_view code() const;
  /// The message with its whole chain of causes.
  std::string render() const;
  /// The errno of an operating-system error, else 0.
  int os_errno() const;
  /// Puts `context` in front of the message; the code stays.
  void prefix(std::string_view context);

 private:
  std::variant<EditError, Failure> value_;
};

/// The platform's text for an errno, with " (os error {n})".
std::string os_error_text(int err);

/// Result<T>: a value or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)
  Result(EditError error) : Result(Error(std::move(error))) {}  // NOLINT(google-explicit-constructor)
  Result(Failure error) : Result(Error(std::move(error))) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const& { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

struct Ok {};

/// Status: success or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Ok) {}  // NOLINT(google-explicit-constructor)
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT(google-explicit-constructor)
  Result(EditError error) : Result(Error(std::move(error))) {}  // NOLINT(google-explicit-constructor)
  Result(Failure error) : Result(Error(std::move(error))) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const& { return error_; }
  Error&& error() && { return std::move(error_); }

 private:
  Error error_ = Failure{};
  bool failed_ = false;
};

using Status = Result<void>;

}  // namespace tuvel

/// TUVEL_TRY(var, expr): evaluates a Result, returns its error, else binds the value.
#define TUVEL_CONCAT_INNER(a, b) a##b
#define TUVEL_CONCAT(a, b) TUVEL_CONCAT_INNER(a, b)
#define TUVEL_TRY(var, expr)                                     \
  auto TUVEL_CONCAT(tuvel_result_, __LINE__) = (expr);           \
  if (!TUVEL_CONCAT(tuvel_result_, __LINE__).ok())               \
    return std::move(TUVEL_CONCAT(tuvel_result_, __LINE__)).error(); \
  var = std::move(TUVEL_CONCAT(tuvel_result_, __LINE__)).value()  // NOLINT(bugprone-macro-parentheses): `var` is a declaration
/// TUVEL_CHECK(expr): returns the error of a Status.
#define TUVEL_CHECK(expr)                                        \
  do {                                                           \
    auto tuvel_status_ = (expr);                                 \
    if (!tuvel_status_.ok()) return std::move(tuvel_status_).error(); \
  } while (0)
