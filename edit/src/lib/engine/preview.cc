// SPDX-License-Identifier: Apache-2.0
#include "engine/preview.h"

#include <algorithm>
#include <cstdint>

namespace tuvel {

std::string_view utf8_prefix(std::string_view s, std::size_t max_chars, std::size_t& chars) {
  // A character starts at every byte that is not a continuation byte; stop
  // at the start of the first character beyond the allowance.
  chars = 0;
  std::size_t i = 0;
  for (; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
    if (chars == max_chars) break;
    ++chars;
  }
  return s.substr(0, i);
}

Preview build_preview(std::string_view text, const std::vector<Change>& changes) {
  Preview preview;
  std::size_t remaining = PREVIEW_CHAR_BUDGET;
  bool any_cut = false;
  for (const Change& change : changes) {
    if (remaining == 0 || preview.entries.size() == PREVIEW_MAX_ENTRIES) break;
    const std::string_view range =
        text.substr(static_cast<std::size_t>(change.start_byte),
                    static_cast<std::size_t>(change.end_byte - change.start_byte));
    std::size_t before_chars = 0;
    const std::string_view before = utf8_prefix(range, std::min(remaining, PREVIEW_MAX_CHARS), before_chars);
    std::size_t after_chars = 0;
    const std::string_view after =
        utf8_prefix(change.replacement, std::min(remaining - before_chars, PREVIEW_MAX_CHARS), after_chars);
    const bool cut = before.size() != range.size() || after.size() != change.replacement.size();
    any_cut = any_cut || cut;
    preview.entries.emplace_back(JsonObject{
        {"start_byte", Json(change.start_byte)},
        {"end_byte", Json(change.end_byte)},
        {"before", Json(before)},
        {"after", Json(after)},
        {"truncated", Json(cut)},
    });
    remaining -= before_chars + after_chars;
  }
  preview.truncated = preview.entries.size() < changes.size() || any_cut;
  return preview;
}

}  // namespace tuvel
