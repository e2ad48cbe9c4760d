// SPDX-License-Identifier: Apache-2.0
#include "trim.h"

#include <array>

namespace tuvel::speech {
namespace {

// The trimmed set in UTF-8, longest encodings included.
constexpr std::array<std::string_view, 25> TRIMMED = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\u0085",  // next line
    "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005",
    "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u202F", "\u205F", "\u3000",
    "\u2028", "\u2029",  // line and paragraph separators
};

std::size_t trimmedPrefix(std::string_view text) {
  for (std::string_view space : TRIMMED)
    if (text.starts_with(space)) return space.size();
  return 0;
}

std::size_t trimmedSuffix(std::string_view text) {
  for (std::string_view space : TRIMMED)
    if (text.ends_with(space)) return space.size();
  return 0;
}

}  // namespace

std::string_view trimTranscript(std::string_view text) {
  while (std::size_t n = trimmedPrefix(text)) text.remove_prefix(n);
  while (std::size_t n = trimmedSuffix(text)) text.remove_suffix(n);
  return text;
}

}  // namespace tuvel::speech
