// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "trim.h"

namespace tuvel::speech {
namespace {

TEST(TrimTranscript, BothEndsOnly) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {"go forward", "go forward"},
      {"  go forward ten meters \n", "go forward ten meters"},
      {"\n\nline one\nline two\r\n", "line one\nline two"},
      {"a  \t b", "a  \t b"},
      // U+00A0, U+2003, U+202F, U+205F, U+3000, U+1680 (space separators)
      {"\u00A0\u2003a\u202F\u205F\u3000\u1680", "a"},
      // next line, line and paragraph separators
      {"\u0085\u2028a\u2029b\u2029", "a\u2029b"},
      // not in the set: zero width space, byte order mark, U+180E
      {"\u200Ba\uFEFF", "\u200Ba\uFEFF"},
      {"\u180Ea", "\u180Ea"},
      // undecodable bytes stay
      {" \xff a \xe2", "\xff a \xe2"},
  };
  for (auto [text, trimmed] : cases) EXPECT_EQ(trimTranscript(text), trimmed) << text;
}

}  // namespace
}  // namespace tuvel::speech
