// SPDX-License-Identifier: Apache-2.0
#include "resolve_locale.h"

#include <algorithm>
#include <optional>

namespace tuvel::speech {
namespace {

std::optional<Locale> match(const std::vector<Locale>& supported, const Locale& wanted) {
  const std::string tag = wanted.bcp47();
  auto found = std::find_if(supported.begin(), supported.end(),
                            [&](const Locale& locale) { return locale.bcp47() == tag; });
  if (found == supported.end()) return std::nullopt;
  return *found;
}

}  // namespace

Expected<Locale, HelperError> resolveLocale(SpeechEngine& engine, const Locale& requested) {
  const std::vector<Locale> supported = engine.supportedLocales();
  if (std::optional<Locale> exact = match(supported, requested)) return *exact;

  if (std::optional<std::string> language = requested.languageCode()) {
    for (const Locale& locale : supported)
      if (locale.languageCode() == language) return locale;
  }

  if (std::optional<Locale> fallback = match(supported, Locale("en-US"))) return *fallback;

  return HelperError{"no speech model for " + requested.bcp47() + " (or en-US)", 3};
}

}  // namespace tuvel::speech
