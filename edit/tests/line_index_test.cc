// SPDX-License-Identifier: Apache-2.0
// The line index, and the scans that answer it without building it.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "read/line_index.h"

namespace tuvel {
namespace {

using Entries = std::vector<std::uint64_t>;

TEST(LineStarts, OnlyLineFeedsEndLines) {
  const struct {
    std::string text;
    Entries starts;
  } cases[] = {
      {"", {0}},
      {"\n", {0, 1}},
      {"a", {0, 1}},
      {"a\nb", {0, 2, 3}},
      {"a\nb\n", {0, 2, 4}},
      {"\n\n", {0, 1, 2}},
      {"a\r\nb\rc", {0, 3, 6}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(line_starts(c.text), c.starts) << c.text;
    EXPECT_EQ(line_entry_count(c.text), c.starts.size()) << c.text;
  }
}

// Texts whose line feeds fall inside, at the edges of and across the blocks
// the scans work in.
std::vector<std::string> scan_texts() {
  std::vector<std::string> texts;
  for (std::size_t length : {1u, 15u, 16u, 17u, 4079u, 4080u, 4081u, 9000u, 20000u}) {
    for (std::size_t every : {1u, 7u, 64u, 5000u}) {
      std::string text(length, 'x');
      for (std::size_t i = every - 1; i < length; i += every) text[i] = '\n';
      texts.push_back(text);
      text.back() = 'y';
      texts.push_back(text);
    }
  }
  return texts;
}

TEST(LineEntries, AgreeWithTheWholeIndex) {
  for (const std::string& text : scan_texts()) {
    const Entries starts = line_starts(text);
    ASSERT_EQ(line_entry_count(text), starts.size());
    std::size_t feeds = 0;
    for (char c : text) feeds += c == '\n';
    EXPECT_EQ(count_line_feeds(text), feeds);

    // Every entry, and pairs with repeats, looked up in one scan.
    Entries ks;
    for (std::uint64_t k = 0; k < starts.size(); ++k) ks.push_back(k);
    Entries out(ks.size());
    line_entries(text, ks, out);
    EXPECT_EQ(out, starts) << text.size();

    const std::uint64_t last = starts.size() - 1;
    const Entries pairs = {0, 0, last / 3, last / 3, last / 2, last, last};
    Entries got(pairs.size());
    line_entries(text, pairs, got);
    for (std::size_t i = 0; i < pairs.size(); ++i) EXPECT_EQ(got[i], starts[pairs[i]]) << text.size() << " k " << pairs[i];
  }
}

}  // namespace
}  // namespace tuvel
