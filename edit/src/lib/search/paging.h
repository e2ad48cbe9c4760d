// SPDX-License-Identifier: Apache-2.0
// The bounds that search and find share, their cursors, and the measure of
// an answer against the output budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.h"

namespace tuvel {

inline constexpr std::uint64_t MAX_RESULTS_LIMIT = 1000;
inline constexpr std::size_t MAX_PATTERN_BYTES = 4096;
inline constexpr std::size_t MAX_GLOBS = 64;
inline constexpr std::uint64_t MAX_CONTEXT_LINES = 10;

/// check_max_results: 1 to MAX_RESULTS_LIMIT.
Status check_max_results(std::uint64_t max_results);

/// Cursor: a page starts after `path` or, with `line`, after that line of it.
struct Cursor {
  std::string path;
  std::optional<std::uint64_t> line;
};

/// parse_cursor: "path" or, `with_line`, "path:line" as a page's "next" gave it.
Result<Cursor> parse_cursor(std::string_view text, bool with_line);
/// cursor_text: the "next" value of a page that ended at `path` (and `line`).
std::string cursor_text(std::string_view path, std::optional<std::uint64_t> line = std::nullopt);

std::size_t decimal_digits(std::uint64_t n);
/// The compact length of `s` as a JSON string, quotes included.
std::size_t quoted_length(std::string_view s);

}  // namespace tuvel
