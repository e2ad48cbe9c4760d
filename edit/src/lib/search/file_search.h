// SPDX-License-Identifier: Apache-2.0
// search_file: one file of a search, read once; its matching lines are
// found and its revision computed on those same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/line_pattern.h"
#include "source/text_buffer.h"

namespace tuvel {

/// Longest text of a line in a result, in bytes of UTF-8; longer lines are
/// cut on a character boundary and marked.
inline constexpr std::size_t LINE_TEXT_BYTES = 512;

/// ShownLine: one line of a result as the caller sees it.
struct ShownLine {
  std::uint64_t line = 0;  ///< 1-based
  std::string text;        ///< without its line feed; U+FFFD for each invalid sequence
  bool truncated = false;  ///< `text` was cut at LINE_TEXT_BYTES
  bool match = true;       ///< false for a line of context
};

/// What reading a file came to.
enum class FileOutcome : std::uint8_t {
  Searched,
  Binary,      ///< holds a NUL byte
  TooLarge,    ///< over the source limit
  Unreadable,  ///< gone, replaced, not a regular file, or an error reading it
};

struct SearchOptions {
  bool lines = false;           ///< collect lines (content), or only count them
  std::uint64_t after_line = 0;  ///< lines up to this one are not collected
  std::size_t max_matches = 0;   ///< matching lines collected at most
  std::size_t max_bytes = 0;     ///< and text collected at most, roughly
  unsigned context = 0;          ///< lines of context around each collected match
};

struct FileHits {
  FileOutcome outcome = FileOutcome::Unreadable;
  std::uint64_t count = 0;       ///< matching lines (all of them when not collecting lines)
  std::string revision;          ///< of the bytes searched, when something is reported
  std::vector<ShownLine> lines;  ///< matches and context in line order
  bool more = false;             ///< matches after `after_line` beyond those collected
};

/// search_file: reads `name` in the directory `dir` into `buffer` (opened
/// with no link followed and without blocking; only a regular file is read)
/// and searches it.
FileHits search_file(const LinePattern& pattern, int dir, const char* name, const SearchOptions& options,
                     TextBuffer& buffer);

/// search_text: the search of bytes already read (no NUL check, no revision).
void search_text(const LinePattern& pattern, std::string_view text, const SearchOptions& options, FileHits& hits);

/// shown_text: `line` as a result shows it.
ShownLine shown_line(std::uint64_t number, std::string_view line, bool match);

}  // namespace tuvel
