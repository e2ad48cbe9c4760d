// SPDX-License-Identifier: Apache-2.0
#pragma once
// Expected - a result value or the failure that took its place.

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tuvel::speech {

/// PlatformError - a failure of the engine or the audio input, with the
/// platform's own description, printed unchanged.
struct PlatformError {
  std::string description;
};

/// Expected<T, E> - holds a T or an E; callers must look before using it.
template <class T, class E = PlatformError>
class [[nodiscard]] Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, E> state_;
};

/// Expected<void, E> - success, or an E.
template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }

  const E& error() const& { return *error_; }
  E&& error() && { return *std::move(error_); }

 private:
  std::optional<E> error_;
};

}  // namespace tuvel::speech
