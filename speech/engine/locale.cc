// SPDX-License-Identifier: Apache-2.0
#include "engine/locale.h"

#include <cstdlib>
#include <string_view>

#include <unicode/locid.h>

namespace tuvel::speech {
namespace {

// Reads BCP-47 tags first, then ICU/POSIX identifiers such as en_US.
icu::Locale toIcu(const std::string& identifier) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale tagged = icu::Locale::forLanguageTag(identifier, status);
  if (U_SUCCESS(status)) return tagged;  // NOLINT(readability-implicit-bool-conversion): ICU tests yield UBool
  return icu::Locale(identifier.c_str());
}

}  // namespace

Locale Locale::current() {
  std::string_view value;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* set = std::getenv(name);
    if (set != nullptr && *set != '\0') {
      value = set;
      break;
    }
  }
  // The codeset and modifier (".UTF-8", "@euro") say nothing about the language.
  value = value.substr(0, value.find_first_of(".@"));
  if (value.empty() || value == "C" || value == "POSIX") return Locale("en-US");
  return Locale(std::string(value));
}

std::string Locale::bcp47() const {
  UErrorCode status = U_ZERO_ERROR;
  std::string tag = toIcu(identifier_).toLanguageTag<std::string>(status);
  if (U_FAILURE(status) || tag.empty()) return "und";  // NOLINT(readability-implicit-bool-conversion): ICU tests yield UBool
  return tag;
}

std::optional<std::string> Locale::languageCode() const {
  // Taken from the canonical form, so that malformed identifiers give none.
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale canonical = icu::Locale::forLanguageTag(bcp47(), status);
  std::string language = U_SUCCESS(status) ? canonical.getLanguage() : "";  // NOLINT(readability-implicit-bool-conversion): ICU tests yield UBool
  if (language.empty()) return std::nullopt;
  return language;
}

}  // namespace tuvel::speech
