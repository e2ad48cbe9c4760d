// SPDX-License-Identifier: Apache-2.0
// resolve: edits into sorted, disjoint byte-range changes of one snapshot.
#include "engine/resolve.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/content.h"

namespace tuvel {
namespace {

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Edit lines(std::uint64_t start, std::uint64_t end, std::string text) {
  return Edit{Edit::Lines{start, end, std::move(text)}};
}
Edit replace(std::string old_text, std::string new_text, std::uint64_t count) {
  return Edit{Edit::Replace{std::move(old_text), std::move(new_text), count}};
}

/// What resolve made of a request: the ranges and the text they produce, or
/// "{code}: {message}".
struct Outcome {
  Ranges ranges;
  std::string text;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "{";
  for (const auto& [s, e] : o.ranges) os << "(" << s << "," << e << ")";
  return os << " \"" << o.text << "\"}";
}

Outcome run(std::string_view text, const std::vector<Edit>& edits) {
  auto changes = resolve(text, edits);
  if (!changes) return {{}, std::string(changes.error().code()) + ": " + changes.error().render()};
  Outcome out;
  for (const Change& c : *changes) out.ranges.emplace_back(c.start_byte, c.end_byte);
  auto length = new_length(text, *changes);
  if (!length) return {out.ranges, std::string(length.error().code()) + ": " + length.error().render()};
  out.text = std::string(build_content(text, *changes, *length).view());
  return out;
}

Outcome fails(std::string message) { return {{}, std::move(message)}; }

struct Case {
  const char* name;
  std::string text;
  std::vector<Edit> edits;
  Outcome expected;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(run(c.text, c.edits), c.expected) << c.name;
}

const char* const kRange4 = "invalid_range: expected 1 <= start <= end <= 4; end is exclusive";

TEST(Resolve, WorkedExample) {
  const std::string abc = "a\nb\nc\n";
  check({
      {"replace line 2 with a line", abc, {lines(2, 3, "x\n")}, {{{2, 4}}, "a\nx\nc\n"}},
      {"replace line 2 without its feed", abc, {lines(2, 3, "x")}, {{{2, 4}}, "a\nxc\n"}},
      {"append after the last line", abc, {lines(4, 4, "d\n")}, {{{6, 6}}, "a\nb\nc\nd\n"}},
      {"insert before the first line", abc, {lines(1, 1, "z\n")}, {{{0, 0}}, "z\na\nb\nc\n"}},
      {"delete every line", abc, {lines(1, 4, "")}, {{{0, 6}}, ""}},
      {"start 0", abc, {lines(0, 1, "")}, fails(kRange4)},
      {"start after end", abc, {lines(3, 2, "")}, fails(kRange4)},
      {"end past N", abc, {lines(1, 5, "")}, fails(kRange4)},
      {"replace b", abc, {replace("b", "B", 1)}, {{{2, 3}}, "a\nB\nc\n"}},
      {"replace feeds with a wrong count", abc, {replace("\n", "", 2)},
       fails("match_count: expected 2 exact matches, found 3; source was not changed")},
      {"append to a last line without feed", "a\nb", {lines(3, 3, "c")}, {{{3, 3}}, "a\nbc"}},
  });
}

TEST(Resolve, LineCountOfSmallTexts) {
  check({
      {"empty: N is 1", "", {lines(1, 2, "")}, fails("invalid_range: expected 1 <= start <= end <= 1; end is exclusive")},
      {"empty: insert at 0", "", {lines(1, 1, "x")}, {{{0, 0}}, "x"}},
      {"empty: replace finds nothing", "", {replace("a", "b", 1)},
       fails("match_count: expected 1 exact matches, found 0; source was not changed")},
      {"one feed: N is 2", "\n", {lines(1, 3, "")}, fails("invalid_range: expected 1 <= start <= end <= 2; end is exclusive")},
      {"one feed: append", "\n", {lines(2, 2, "x")}, {{{1, 1}}, "\nx"}},
      {"two feeds: N is 3", "\n\n", {lines(1, 4, "")}, fails("invalid_range: expected 1 <= start <= end <= 3; end is exclusive")},
      {"two feeds: second line", "\n\n", {lines(2, 3, "y")}, {{{1, 2}}, "\ny"}},
      {"carriage return is text", "a\r\nb", {lines(2, 3, "c")}, {{{3, 4}}, "a\r\nc"}},
      {"multi-byte lines", "\xC3\xA9\n\xE2\x82\xAC\n", {lines(2, 3, "")}, {{{3, 7}}, "\xC3\xA9\n"}},
  });
}

TEST(Resolve, Occurrences) {
  check({
      {"aa in aaaa is two", "aaaa", {replace("aa", "b", 2)}, {{{0, 2}, {2, 4}}, "bb"}},
      {"aa in aaaa is not three", "aaaa", {replace("aa", "b", 3)},
       fails("match_count: expected 3 exact matches, found 2; source was not changed")},
      {"count too small", "xax", {replace("x", "y", 1)},
       fails("match_count: expected 1 exact matches, found 2; source was not changed")},
      {"exact bytes, no case folding", "Ab ab", {replace("ab", "c", 1)}, {{{3, 5}}, "Ab c"}},
      {"longer replacement", "a.b", {replace(".", "::", 1)}, {{{1, 2}}, "a::b"}},
  });
}

TEST(Resolve, TouchingRangesInAnyOrder) {
  const std::string abc = "a\nb\nc\n";
  const Outcome touching{{{0, 2}, {2, 4}, {4, 6}}, "X\nZ"};
  check({
      {"ascending", abc, {replace("a\n", "", 1), lines(2, 3, "X\n"), lines(3, 4, "Z")}, touching},
      {"descending", abc, {lines(3, 4, "Z"), lines(2, 3, "X\n"), replace("a\n", "", 1)}, touching},
      {"mixed", abc, {lines(2, 3, "X\n"), lines(3, 4, "Z"), replace("a\n", "", 1)}, touching},
      {"insertion after a replaced line", abc, {lines(4, 4, "d"), lines(3, 4, "C\n")}, {{{4, 6}, {6, 6}}, "a\nb\nC\nd"}},
      {"insertion before a range that ends at it", abc, {lines(2, 2, "i"), lines(1, 2, "")}, {{{0, 2}, {2, 2}}, "ib\nc\n"}},
  });
}

TEST(Resolve, CollisionsRefused) {
  const std::string abc = "a\nb\nc\n";
  const Outcome overlap = fails("overlapping_edits: edits overlap or share an insertion point");
  check({
      {"two insertions at one line", abc, {lines(2, 2, "x"), lines(2, 2, "y")}, overlap},
      {"insertion at the start of a replaced range", abc, {lines(3, 3, "x"), lines(3, 4, "y")}, overlap},
      {"same range twice", abc, {lines(2, 3, "x"), lines(2, 3, "x")}, overlap},
      {"ranges with one start", abc, {lines(2, 3, "x"), lines(2, 4, "y")}, overlap},
      {"occurrence inside a lines range", abc, {lines(1, 3, ""), replace("b", "B", 1)}, overlap},
      {"crossing ranges", abc, {lines(1, 3, ""), replace("\nb\nc", "", 1)}, overlap},
  });
}

TEST(Resolve, Precedence) {
  const std::string abc = "a\nb\nc\n";
  std::vector<Edit> too_many(257, lines(0, 0, ""));
  check({
      {"no edits", abc, {}, fails("io_or_request: apply accepts 1..256 edits")},
      {"edit count before any edit", abc, too_many, fails("io_or_request: apply accepts 1..256 edits")},
      {"third edit reported before the fourth", abc,
       {lines(1, 1, "x"), replace("b", "B", 1), lines(2, 9, ""), replace("", "", 1)}, fails(kRange4)},
      {"empty old before a later bad range", abc, {replace("", "x", 1), lines(9, 9, "")},
       fails("io_or_request: replace requires nonempty old text and positive count")},
      {"count 0", abc, {replace("a", "x", 0)},
       fails("io_or_request: replace requires nonempty old text and positive count")},
      {"match count before overlap", abc, {lines(1, 3, ""), replace("b", "B", 1), replace("c", "C", 2)},
       fails("match_count: expected 2 exact matches, found 1; source was not changed")},
      {"overlap before NUL", abc, {lines(2, 3, std::string("x\0y", 3)), replace("b", "B", 1)},
       fails("overlapping_edits: edits overlap or share an insertion point")},
      {"NUL in a valid request", abc, {lines(2, 3, "x"), replace("c", std::string("\0", 1), 1)},
       fails("io_or_request: replacement contains NUL")},
  });
}

TEST(Resolve, EditCountBounds) {
  std::string text(300, '\n');
  std::vector<Edit> edits;
  for (std::uint64_t k = 1; k <= 256; ++k) edits.push_back(lines(k, k, "x"));
  auto changes = resolve(text, edits);
  ASSERT_TRUE(changes.ok()) << changes.error().render();
  EXPECT_EQ(changes->size(), 256u);
  EXPECT_EQ(changes->back().start_byte, 255u);

  edits.push_back(lines(257, 257, "x"));
  auto refused = resolve(text, edits);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().render(), "apply accepts 1..256 edits");
}

std::string repeated(std::string_view piece, std::size_t times) {
  std::string s;
  s.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) s += piece;
  return s;
}

TEST(Resolve, OccurrenceBounds) {
  const std::string at_limit = repeated("ab\n", 100000);
  const std::string over_limit = at_limit + "ab";
  const std::string halves = repeated("a-", 60000) + repeated("b-", 60000);

  auto all = resolve(at_limit, {replace("ab", "c", 100000)});
  ASSERT_TRUE(all.ok()) << all.error().render();
  ASSERT_EQ(all->size(), 100000u);
  EXPECT_EQ(all->back().start_byte, 3u * 99999);

  check({
      {"100,001 found, count matching", over_limit, {replace("ab", "c", 100001)},
       fails("io_or_request: too many replacement matches")},
      {"100,001 found, count small", over_limit, {replace("ab", "c", 3)},
       fails("io_or_request: too many replacement matches")},
      {"far more found", repeated("x", 1 << 20), {replace("x", "y", 1)},
       fails("io_or_request: too many replacement matches")},
      {"two halves, each matching", halves, {replace("a", "A", 60000), replace("b", "B", 60000)},
       fails("io_or_request: too many replacement matches")},
      {"a lines change counts as collected", at_limit, {lines(1, 1, "x"), replace("ab", "c", 100000)},
       fails("io_or_request: too many replacement matches")},
  });
}

TEST(Resolve, ChangesBorrowFromTheRequest) {
  const std::vector<Edit> edits{replace("b", "B", 2)};
  auto changes = resolve("abab", edits);
  ASSERT_TRUE(changes.ok());
  const auto& wanted = std::get<Edit::Replace>(edits[0].kind).new_text;
  for (const Change& c : *changes) EXPECT_EQ(c.replacement.data(), wanted.data());
}

}  // namespace
}  // namespace tuvel
