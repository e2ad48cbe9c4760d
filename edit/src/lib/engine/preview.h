// SPDX-License-Identifier: Apache-2.0
// preview: bounded excerpts of the changes of a preview, cut at character
// boundaries within a budget shared by all entries.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/resolve.h"
#include "protocol/json.h"

namespace tuvel {

inline constexpr std::size_t PREVIEW_MAX_ENTRIES = 32;
inline constexpr std::size_t PREVIEW_CHAR_BUDGET = 4096;
inline constexpr std::size_t PREVIEW_MAX_CHARS = 256;

/// Preview: the "preview" entries and the "preview_truncated" flag.
struct Preview {
  JsonArray entries;
  bool truncated = false;
};

/// utf8_prefix: the longest prefix of `s` holding at most `max_chars`
/// characters; `chars` receives how many it holds. Never splits a character.
std::string_view utf8_prefix(std::string_view s, std::size_t max_chars, std::size_t& chars);

/// build_preview: entries for `changes` of `text` in order, within the limits.
Preview build_preview(std::string_view text, const std::vector<Change>& changes);

}  // namespace tuvel
