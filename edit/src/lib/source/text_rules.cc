// SPDX-License-Identifier: Apache-2.0
#include "source/text_rules.h"

#include <cstring>

#include "source/source.h"

namespace tuvel {

Error source_too_large() { return Error::plain("source exceeds 16 MiB"); }

Error source_contains_nul() { return Error::plain("source contains NUL"); }

Error source_not_utf8(const Utf8Error& error) { return Error::with_cause("source is not UTF-8", describe(error)); }

Status check_source_text(std::string_view text) {
  if (text.size() > MAX_SOURCE_BYTES) return source_too_large();
  if (!text.empty() && std::memchr(text.data(), '\0', text.size()) != nullptr) return source_contains_nul();
  if (const auto error = find_utf8_error(text)) return source_not_utf8(*error);
  return Ok{};
}

}  // namespace tuvel
