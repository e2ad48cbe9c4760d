// SPDX-License-Identifier: Apache-2.0
#pragma once
// Locale - a locale identifier and its forms, as the locale service renders them.

#include <optional>
#include <string>

namespace tuvel::speech {

class Locale {
 public:
  /// Takes the identifier unchanged (en-US, en_US, de_AT.UTF-8, ...).
  explicit Locale(std::string identifier) : identifier_(std::move(identifier)) {}

  /// The user's current locale: LC_ALL, then LC_MESSAGES, then LANG; an unset,
  /// "C" or "POSIX" locale is en-US.
  static Locale current();

  const std::string& identifier() const { return identifier_; }

  /// The canonical BCP-47 form ("en_US" gives "en-US"); "und" when the
  /// identifier names no language the locale service understands.
  std::string bcp47() const;

  /// The language code ("en" for en-US), or none.
  std::optional<std::string> languageCode() const;

 private:
  std::string identifier_;
};

}  // namespace tuvel::speech
