// SPDX-License-Identifier: Apache-2.0
// OccurrenceFinder against a plain reference search, on texts that keep the
// vector filter busy, defeat it (repetitive texts) and end mid-block.
#include "engine/search.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tuvel {
namespace {

std::vector<std::size_t> all_of(std::string_view text, std::string_view needle) {
  std::vector<std::size_t> found;
  OccurrenceFinder finder(text, needle);
  for (std::size_t at = finder.next(); at != OccurrenceFinder::npos; at = finder.next()) found.push_back(at);
  return found;
}

std::vector<std::size_t> reference(std::string_view text, std::string_view needle) {
  std::vector<std::size_t> found;
  for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size()))
    found.push_back(at);
  return found;
}

TEST(OccurrenceFinder, SmallCases) {
  struct Case {
    std::string text, needle;
    std::vector<std::size_t> expected;
  };
  const std::vector<Case> cases{
      {"aaaa", "aa", {0, 2}},
      {"aaaaa", "aa", {0, 2}},
      {"abcabc", "abc", {0, 3}},
      {"", "a", {}},
      {"ab", "abc", {}},
      {"xay", "a", {1}},
      {"a\nb\nc\n", "\n", {1, 3, 5}},
      {std::string(63, 'x') + "needle", "needle", {63}},
      {std::string(200, 'x') + "ab", "ab", {200}},
      {"ab" + std::string(200, 'x'), "ab", {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(all_of(c.text, c.needle), c.expected) << c.text << " / " << c.needle;
}

TEST(OccurrenceFinder, AgreesWithReferenceOnRandomTexts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    const int alphabet = 1 + static_cast<int>(rng() % 3);  // tiny alphabets give many candidates
    std::string text(rng() % 700, 'a');
    for (char& c : text) c = static_cast<char>('a' + static_cast<int>(rng() % alphabet));
    std::string needle(1 + rng() % 6, 'a');
    for (char& c : needle) c = static_cast<char>('a' + static_cast<int>(rng() % alphabet));
    ASSERT_EQ(all_of(text, needle), reference(text, needle)) << text << " / " << needle;
  }
}

TEST(OccurrenceFinder, RepetitiveTextHandsOverAndStaysExact) {
  // Every position passes the first/last-byte filter and fails in the middle.
  const std::string needle = std::string(1000, 'a') + "b" + std::string(1000, 'a');
  std::string text(1 << 20, 'a');
  text.replace(text.size() / 2, needle.size(), needle);
  text.replace(text.size() - needle.size(), needle.size(), needle);
  EXPECT_EQ(all_of(text, needle), reference(text, needle));
}

}  // namespace
}  // namespace tuvel
