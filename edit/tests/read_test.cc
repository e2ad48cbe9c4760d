// SPDX-License-Identifier: Apache-2.0
// execute for reads through the library: windows, defaults, ranges, the text
// budget and the output limit, and failures of whole requests.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/json.h"
#include "read/budget.h"
#include "execute/execute.h"
#include "read/read_files.h"
#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

Request read_request(std::vector<ReadSpec> files) { return Request{Op::Read, ReadRequest{std::move(files)}}; }

ReadSpec spec(std::string path, std::uint64_t start = 1, std::optional<std::uint64_t> end = std::nullopt) {
  return ReadSpec{std::move(path), start, end};
}

// The compact JSON of the data value, or "{code}: {message}".
std::string run_read(const std::string& repo, std::vector<ReadSpec> files) {
  auto result = execute(repo, read_request(std::move(files)));
  if (!result.ok()) return std::string(result.error().code()) + ": " + result.error().render();
  return to_json(*result);
}

const Json& file_result(const Json& data, std::size_t i) {
  return std::get<JsonArray>(data.find("files")->value()).at(i);
}

std::string text_of(const Json& result) { return std::get<std::string>(result.find("text")->value()); }
bool truncated_of(const Json& result) { return std::get<bool>(result.find("truncated")->value()); }

std::string lines(std::uint64_t from, std::uint64_t to) {
  std::string text;
  for (std::uint64_t i = from; i < to; ++i) text += "line " + std::to_string(i) + "\n";
  return text;
}

TEST(Read, WholeAnswerBytes) {
  TempDir dir;
  dir.write("f", "a\nb");
  EXPECT_EQ(run_read(dir.path(), {spec("f")}),
            R"({"files":[{"end":3,"path":"f","revision":"e1220d74c5179666f88b611a728a8b846863d0f5782760124b44f51b8c76a347",)"
            R"("start":1,"text":"a\nb","total_lines":2,"truncated":false}]})");
}

TEST(Read, Windows) {
  TempDir dir;
  dir.write("ab", "a\nb");
  dir.write("ab_nl", "a\nb\n");
  dir.write("empty", "");
  dir.write("nl", "\n");
  dir.write("crlf", "one\r\ntwo\r\nthree");
  dir.write("500", lines(1, 501));

  const auto range = [](std::uint64_t n) {
    return "invalid_range: expected 1 <= start <= end <= " + std::to_string(n) + "; end is exclusive";
  };
  // {"total_lines", "end", "text"} as compact JSON fragments, or the failure.
  const auto window = [](std::uint64_t total, std::uint64_t end, const std::string& text) {
    std::string out;
    write_json_string(text, out);
    return "total_lines=" + std::to_string(total) + " end=" + std::to_string(end) + " text=" + out;
  };
  const struct {
    ReadSpec request;
    std::string expected;
  } cases[] = {
      {spec("ab"), window(2, 3, "a\nb")},
      {spec("ab_nl"), window(2, 3, "a\nb\n")},
      {spec("ab", 2), window(2, 3, "b")},
      {spec("ab", 1, 2), window(2, 2, "a\n")},
      {spec("ab", 2, 2), window(2, 2, "")},
      {spec("ab", 3), window(2, 3, "")},
      {spec("ab", 1, 4), range(3)},
      {spec("ab_nl", 1, 4), range(3)},
      {spec("ab", 4), range(3)},
      {spec("ab", 0), range(3)},
      {spec("ab", 0, 0), range(3)},
      {spec("ab", 0, 2), range(3)},
      {spec("ab", 3, 2), range(3)},
      {spec("ab", kMax), range(3)},
      {spec("ab", kMax, kMax), range(3)},
      {spec("empty"), window(0, 1, "")},
      {spec("empty", 1, 1), window(0, 1, "")},
      {spec("empty", 1, 2), range(1)},
      {spec("empty", 2), range(1)},
      {spec("nl"), window(1, 2, "\n")},
      {spec("crlf", 2), window(3, 4, "two\r\nthree")},
      {spec("crlf", 1, 2), window(3, 2, "one\r\n")},
      {spec("500"), window(500, 201, lines(1, 201))},
      {spec("500", 450), window(500, 501, lines(450, 501))},
      {spec("500", 301), window(500, 501, lines(301, 501))},
      {spec("500", 300), window(500, 500, lines(300, 500))},
      {spec("500", 499, 501), window(500, 501, lines(499, 501))},
      {spec("500", 501), window(500, 501, "")},
  };
  for (const auto& c : cases) {
    auto result = execute(dir.path(), read_request({c.request}));
    std::string got;
    if (result.ok()) {
      const Json& file = file_result(*result, 0);
      EXPECT_EQ(std::get<std::uint64_t>(file.find("start")->value()), c.request.start);
      EXPECT_FALSE(truncated_of(file));
      got = window(std::get<std::uint64_t>(file.find("total_lines")->value()),
                   std::get<std::uint64_t>(file.find("end")->value()), text_of(file));
    } else {
      got = std::string(result.error().code()) + ": " + result.error().render();
    }
    EXPECT_EQ(got, c.expected) << c.request.path << " start " << c.request.start << " end "
                               << (c.request.end ? std::to_string(*c.request.end) : "none");
  }
}

TEST(Read, FileCountAndOrder) {
  TempDir dir;
  dir.write("a", "1\n");
  dir.write("b", "2\n");
  const std::string refused = "io_or_request: read accepts 1..32 files";
  EXPECT_EQ(run_read(dir.path(), {}), refused);
  // Entries that do not exist show no file is opened before the count check.
  EXPECT_EQ(run_read(dir.path(), std::vector<ReadSpec>(33, spec("missing"))), refused);
  EXPECT_EQ(run_read(dir / "no_repo", {}), "io_or_request: No such file or directory (os error 2)");
  EXPECT_EQ(run_read(dir / "a", {}), "io_or_request: repo must be a directory");

  auto all = execute(dir.path(), read_request(std::vector<ReadSpec>(32, spec("a"))));
  ASSERT_TRUE(all.ok()) << all.error().render();
  EXPECT_EQ(std::get<JsonArray>(all->find("files")->value()).size(), 32u);

  // The same path twice is read twice, in request order, path as received.
  auto twice = execute(dir.path(), read_request({spec("b"), spec("a//"), spec("b")}));
  ASSERT_TRUE(twice.ok()) << twice.error().render();
  EXPECT_EQ(std::get<std::string>(file_result(*twice, 0).find("path")->value()), "b");
  EXPECT_EQ(std::get<std::string>(file_result(*twice, 1).find("path")->value()), "a//");
  EXPECT_EQ(text_of(file_result(*twice, 1)), "1\n");
  EXPECT_EQ(std::get<std::string>(file_result(*twice, 2).find("path")->value()), "b");
}

TEST(Read, OneFailingEntryFailsTheWholeRequest) {
  TempDir dir;
  for (const char* name : {"one", "two", "four", "five"}) dir.write(name, "x\n");
  EXPECT_EQ(run_read(dir.path(), {spec("one"), spec("two"), spec("three"), spec("four"), spec("five")}),
            "io_or_request: No such file or directory (os error 2)");
  EXPECT_EQ(run_read(dir.path(), {spec("one"), spec("two", 5)}),
            "invalid_range: expected 1 <= start <= end <= 2; end is exclusive");
  EXPECT_EQ(run_read(dir.path(), {spec("one"), spec(".git/config")}), "io_or_request: Git metadata cannot be edited");
}

TEST(Budget, CharacterCosts) {
  const struct {
    std::string window;
    std::size_t budget;
    std::size_t fits;
  } cases[] = {
      {"abc", 0, 0},
      {"abc", 2, 2},
      {"abc", 3, 3},
      {"abc", 100, 3},
      {"a\"b", 6, 1},
      {"a\"b", 7, 2},
      {"a\\b", 7, 2},
      {"\t", 5, 0},
      {"\t", 6, 1},
      {"\n\n", 11, 1},
      {std::string(1, '\0'), 6, 1},
      {"\x1f", 6, 1},
      {" ~", 2, 2},
      {"\x7f", 5, 0},
      {"\x7f", 6, 1},
      {"\xc2\x80", 5, 0},           // U+0080
      {"\xc2\x80", 6, 2},
      {"\xc2\x9f", 5, 0},           // U+009F
      {"\xc2\xa0", 2, 2},           // U+00A0
      {"a\xc3\xa9", 2, 1},          // é is never split
      {"a\xc3\xa9", 3, 3},
      {"\xe2\x82\xac", 2, 0},       // €
      {"\xe2\x82\xac", 3, 3},
      {"\xf0\x9d\x84\x9e", 3, 0},   // U+1D11E
      {"\xf0\x9d\x84\x9e", 4, 4},
  };
  for (const auto& c : cases) EXPECT_EQ(fitting_prefix(c.window, c.budget), c.fits) << c.window << " / " << c.budget;
}

TEST(Budget, MeasuredLengthEqualsTheEncoding) {
  const struct {
    std::string path;
    std::string text;
    std::uint64_t total, start, end;
    bool truncated;
  } cases[] = {
      {"f", "", 0, 1, 1, false},
      {"a\"b\\c", "\t\n\x01\x7f\xc2\x80\"", 123, 45, 6789, true},
      {"d/\xc3\xa9", "x\r\n", kMax, kMax, kMax, false},
  };
  for (const auto& c : cases) {
    JsonObject object;
    object.emplace("path", Json(c.path));
    object.emplace("revision", Json(std::string(64, '0')));
    object.emplace("total_lines", Json(c.total));
    object.emplace("start", Json(c.start));
    object.emplace("end", Json(c.end));
    object.emplace("text", Json(c.text));
    object.emplace("truncated", Json(c.truncated));
    EXPECT_EQ(encoded_result_length(c.path, c.text, c.total, c.start, c.end, c.truncated),
              to_json(Json(std::move(object))).size());
  }
}

TEST(Read, TextIsCutToTheBudget) {
  TempDir dir;
  const std::size_t first_budget = READ_OUTPUT_BUDGET - READ_FILE_RESERVE - 2;
  dir.write("letters", std::string(70000, 'a'));
  dir.write("tabs", std::string(70000, '\t'));
  // A two-byte character straddling the budget is left out whole.
  dir.write("straddle", std::string(first_budget - 1, 'a') + "\xc3\xa9" + "tail");
  dir.write("feed_left_out", std::string(first_budget, 'a') + "\n");
  dir.write("exact", std::string(first_budget - 6, 'a') + "\n");

  const struct {
    std::string path;
    std::string text;
    bool truncated;
  } cases[] = {
      {"letters", std::string(first_budget, 'a'), true},
      {"tabs", std::string(first_budget / 6, '\t'), true},
      {"straddle", std::string(first_budget - 1, 'a'), true},
      {"feed_left_out", std::string(first_budget, 'a'), true},
      {"exact", std::string(first_budget - 6, 'a') + "\n", false},
  };
  for (const auto& c : cases) {
    auto result = execute(dir.path(), read_request({spec(c.path)}));
    ASSERT_TRUE(result.ok()) << result.error().render();
    const Json& file = file_result(*result, 0);
    EXPECT_EQ(text_of(file), c.text) << c.path;
    EXPECT_EQ(truncated_of(file), c.truncated) << c.path;
    // The end stays the window's end when the text is cut.
    EXPECT_EQ(std::get<std::uint64_t>(file.find("end")->value()), 2u) << c.path;
  }
}

TEST(Read, LaterFilesShareWhatIsLeft) {
  TempDir dir;
  dir.write("letters", std::string(70000, 'a'));
  dir.write("short", "s\n");

  // The first file spends the budget; the second gets an empty cut text.
  auto result = execute(dir.path(), read_request({spec("letters"), spec("short")}));
  ASSERT_TRUE(result.ok()) << result.error().render();
  EXPECT_EQ(text_of(file_result(*result, 1)), "");
  EXPECT_TRUE(truncated_of(file_result(*result, 1)));

  // The first result encodes to 64,667 bytes and an empty second one to 150
  // plus its path, so with the brackets and comma the results are exactly
  // 65,408 bytes with a 588-byte path, one too many with 589.
  const auto padded = [](std::size_t n) { return "short" + std::string(n - 5, '/'); };
  auto at_limit = execute(dir.path(), read_request({spec("letters"), spec(padded(588))}));
  ASSERT_TRUE(at_limit.ok()) << at_limit.error().render();
  EXPECT_EQ(to_json(*at_limit->find("files")).size(), READ_OUTPUT_LIMIT);
  EXPECT_EQ(run_read(dir.path(), {spec("letters"), spec(padded(589))}),
            "output_limit: read output exceeds 64 KiB; request fewer files");

  // A second text that would still fit after a small first file.
  auto both = execute(dir.path(), read_request({spec("short"), spec("letters")}));
  ASSERT_TRUE(both.ok()) << both.error().render();
  const std::size_t first_length = to_json(file_result(*both, 0)).size();
  EXPECT_EQ(text_of(file_result(*both, 1)).size(), READ_OUTPUT_BUDGET - READ_FILE_RESERVE - (first_length + 2));
  EXPECT_LE(to_json(*both->find("files")).size(), READ_OUTPUT_LIMIT);
}

TEST(Read, FarWindowOfManyLines) {
  TempDir dir;
  const std::uint64_t count = 3'000'000;
  dir.write("feeds", std::string(count, '\n'));
  auto result = execute(dir.path(), read_request({spec("feeds", count - 1)}));
  ASSERT_TRUE(result.ok()) << result.error().render();
  const Json& file = file_result(*result, 0);
  EXPECT_EQ(std::get<std::uint64_t>(file.find("total_lines")->value()), count);
  EXPECT_EQ(std::get<std::uint64_t>(file.find("end")->value()), count + 1);
  EXPECT_EQ(text_of(file), "\n\n");
}

TEST(Execute, RepositoryFailsFirstForEdits) {
  TempDir dir;
  for (Op op : {Op::Preview, Op::Apply}) {
    auto result = execute(dir / "missing", Request{op, EditRequest{"f", std::string(64, '0'), {}}});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().render(), "No such file or directory (os error 2)");
  }
}

}  // namespace
}  // namespace tuvel
