// SPDX-License-Identifier: Apache-2.0
// LineReader: the lines of a descriptor, each at most MAX_LINE_BYTES long.
// A longer line is read through to its line feed without being kept, so the
// line after it starts cleanly and memory never holds more than the bound.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "error/error.h"
#include "cli/bounded_line.h"

namespace tuvel::mcp {

/// Longest message line accepted, its line feed included: room for a create
/// of 16 MiB of text that JSON escaping has grown.
inline constexpr std::size_t MAX_LINE_BYTES = std::size_t{20} * 1024 * 1024;

/// Line: the bytes of one line, or nothing but the mark that it was too long.
using Line = BoundedLine;

class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  /// The next line; none at the end of input. A failed read is not retried.
  Result<std::optional<Line>> next();

 private:
  static constexpr std::size_t kBufferBytes = 64 * 1024;

  int fd_;
  std::array<char, kBufferBytes> buffer_{};
  std::size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  std::size_t end_ = 0;
};

}  // namespace tuvel::mcp
