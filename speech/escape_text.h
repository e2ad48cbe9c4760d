// SPDX-License-Identifier: Apache-2.0
#pragma once
// escapeText - makes a message one line of valid UTF-8, whatever a path in it holds.

#include <string>
#include <string_view>

namespace tuvel::speech {

/// `text` with each byte that is not part of valid UTF-8 written as \xNN, line
/// feed, tab and carriage return as \n, \t, \r, the other control characters
/// and the line and paragraph separators as \u{N} (hexadecimal code point),
/// and a backslash doubled; everything else unchanged.
std::string escapeText(std::string_view text);

}  // namespace tuvel::speech
