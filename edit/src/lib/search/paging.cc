// SPDX-License-Identifier: Apache-2.0
#include "search/paging.h"

#include <charconv>

#include "protocol/json.h"
#include "source/source.h"

namespace tuvel {

Status check_max_results(std::uint64_t max_results) {
  if (max_results == 0 || max_results > MAX_RESULTS_LIMIT) return Error::plain("max_results must be from 1 to 1000");
  return Ok{};
}

Result<Cursor> parse_cursor(std::string_view text, bool with_line) {
  Cursor cursor;
  if (with_line) {
    const std::size_t colon = text.rfind(':');
    std::uint64_t line = 0;
    const char* last = text.data() + text.size();
    if (colon == std::string_view::npos || colon + 1 == text.size() ||
        std::from_chars(text.data() + colon + 1, last, line).ptr != last || line == 0)
      return Error::plain("cursor is not the next value of a content search");
    cursor.line = line;
    text = text.substr(0, colon);
  }
  if (text.size() > MAX_PATH_BYTES) return Error::plain("cursor exceeds 4096 bytes");
  cursor.path = std::string(text);
  return cursor;
}

std::string cursor_text(std::string_view path, std::optional<std::uint64_t> line) {
  std::string text(path);
  if (line) text += ':' + std::to_string(*line);
  return text;
}

std::size_t decimal_digits(std::uint64_t n) {
  std::size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

std::size_t quoted_length(std::string_view s) { return json_string_body_length(s) + 2; }

}  // namespace tuvel
