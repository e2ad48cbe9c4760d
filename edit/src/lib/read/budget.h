// SPDX-License-Identifier: Apache-2.0
// The output budget of a read: what a window's text may cost and how long
// the compact encoding of the results is, measured without encoding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tuvel {

/// fitting_prefix: the byte length of the longest prefix of `window` (valid
/// UTF-8) whose characters cost at most `budget`: 6 for a control character
/// (below U+0020 or U+007F..U+009F), a quotation mark or a backslash, else
/// its UTF-8 length. A character is never split.
std::size_t fitting_prefix(std::string_view window, std::size_t budget);

/// encoded_result_length: the compact encoding's length of one read result
/// object with these members.
std::size_t encoded_result_length(std::string_view path, std::string_view text, std::uint64_t total_lines,
                                  std::uint64_t start, std::uint64_t end, bool truncated);

}  // namespace tuvel
