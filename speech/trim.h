// SPDX-License-Identifier: Apache-2.0
#pragma once
// trimTranscript - removes white space and line breaks from both ends of a text.

#include <string_view>

namespace tuvel::speech {

/// Strips, at both ends only, the Unicode space separators, U+2028, U+2029,
/// tab, line feed, vertical tab, form feed, carriage return and next line.
/// `text` is UTF-8; anything that does not decode is kept.
std::string_view trimTranscript(std::string_view text);

}  // namespace tuvel::speech
