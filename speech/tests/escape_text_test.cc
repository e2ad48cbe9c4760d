// SPDX-License-Identifier: Apache-2.0
// escapeText: what is kept, and the escaped form of everything that could
// break a message line or is not UTF-8.

#include "escape_text.h"

#include <gtest/gtest.h>

namespace tuvel::speech {
namespace {

TEST(EscapeText, KeepsTextAndEscapesWhatBreaksALine) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"/tmp/plain name.wav", "/tmp/plain name.wav"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa4", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa4"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"back\\slash", "back\\\\slash"},
      {std::string_view("nul\0x", 5), "nul\\u{0}x"},
      {"\x1b[31mred\x7f", "\\u{1b}[31mred\\u{7f}"},
      {"next\xc2\x85line", "next\\u{85}line"},
      {"sep\xe2\x80\xa8par\xe2\x80\xa9", "sep\\u{2028}par\\u{2029}"},
      // Not UTF-8: a stray byte, a lead byte without its tail, an overlong
      // form, a surrogate, a sequence cut off at the end.
      {"\xff.wav", "\\xff.wav"},
      {"\xc3(", "\\xc3("},
      {"\xc0\xaf", "\\xc0\\xaf"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"end\xe2\x82", "end\\xe2\\x82"},
      {"", ""},
  };
  for (const auto& [text, escaped] : cases) EXPECT_EQ(escapeText(text), escaped) << text;
}

}  // namespace
}  // namespace tuvel::speech
