// SPDX-License-Identifier: Apache-2.0
// BoundedLine: a line put together from the chunks that reads of an input
// bring, kept only while it stays within a bound. A longer line is read on to
// its line feed without being kept, so the line after it starts cleanly and
// memory never holds more than the bound.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tuvel {

struct BoundedLine {
  std::string bytes;      ///< line feed included when there was one
  bool overlong = false;  ///< the line passed the bound; `bytes` is empty
};

/// take_chunk: the unread `input` up to and including its first line feed
/// (all of it when there is none) goes onto `line`, or marks it overlong
/// where the line would pass `bound` bytes. Gives the number of bytes taken;
/// `complete` tells whether a line feed ended them.
std::size_t take_chunk(BoundedLine& line, std::string_view input, std::size_t bound, bool& complete);

}  // namespace tuvel
