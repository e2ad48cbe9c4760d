// SPDX-License-Identifier: Apache-2.0
// The line index of a text: only the line feed ends a line. line_starts(text)
// is [0], then i + 1 for every line feed at i that is not the last byte, then
// the length; N entries mean N - 1 lines. Large texts are served without
// materialising it: the entry count and chosen entries are found by scanning.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "error/error.h"

namespace tuvel {

/// The whole index (one entry per line; for small texts and tests).
std::vector<std::uint64_t> line_starts(std::string_view text);

/// N, the number of entries of line_starts(text).
std::uint64_t line_entry_count(std::string_view text);
/// The same, from the number of line feeds in `text` counted already.
std::uint64_t line_entry_count(std::string_view text, std::uint64_t line_feeds);

/// Fills out[i] with entry ks[i] of line_starts(text). `ks` must be ascending
/// and every value below line_entry_count(text). One forward scan.
void line_entries(std::string_view text, std::span<const std::uint64_t> ks, std::span<std::uint64_t> out);

/// The "invalid_range" failure of a line window or line edit, for a text
/// with `entries` index entries.
Error invalid_range(std::uint64_t entries);

/// Number of line feed bytes in `text` (vectorised).
std::uint64_t count_line_feeds(std::string_view text);

}  // namespace tuvel
