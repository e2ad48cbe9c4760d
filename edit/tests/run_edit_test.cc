// SPDX-License-Identifier: Apache-2.0
// run_edit through the library on real files: result objects, the order of
// checks, unchanged files on every refusal, and the preview allowance.
#include "engine/run_edit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/json.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;
using testing::digest;

Edit lines(std::uint64_t start, std::uint64_t end, std::string text) {
  return Edit{Edit::Lines{start, end, std::move(text)}};
}
Edit replace(std::string old_text, std::string new_text, std::uint64_t count) {
  return Edit{Edit::Replace{std::move(old_text), std::move(new_text), count}};
}

Result<Json> edit(const TempDir& dir, const std::string& path, const std::string& rev, std::vector<Edit> edits,
                  bool preview) {
  auto repo = open_repo(dir.path());
  if (!repo) return std::move(repo).error();
  return run_edit(*repo, EditRequest{path, rev, std::move(edits)}, preview);
}

/// The compact JSON of a result, or "{code}: {message}".
std::string text_of(const Result<Json>& result) {
  if (!result) return std::string(result.error().code()) + ": " + result.error().render();
  return to_json(*result);
}

std::string summary(const std::string& path, bool applied, bool changed, const std::string& before,
                    const std::string& after, std::uint64_t replacements) {
  return R"({"applied":)" + std::string(applied ? "true" : "false") + R"(,"bytes_after":)" +
         std::to_string(after.size()) + R"(,"bytes_before":)" + std::to_string(before.size()) + R"(,"changed":)" +
         (changed ? "true" : "false") + R"(,"durability_warning":null,"path":")" + path + R"(","replacements":)" +
         std::to_string(replacements) + R"(,"revision_after":")" + digest(after) + R"(","revision_before":")" +
         digest(before) + R"("})";
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st;
}

TEST(RunEdit, ApplyResult) {
  TempDir dir;
  const std::string before = "a\nb\nc\nb\n";
  const std::string after = "a\nx\nc\nB\n";
  dir.write("src/f.txt", before, 0640);
  const auto result = edit(dir, "src/f.txt", digest(before), {lines(4, 5, "B\n"), lines(2, 3, "x\n")}, false);
  EXPECT_EQ(text_of(result), summary("src/f.txt", true, true, before, after, 2));
  EXPECT_EQ(dir.read("src/f.txt"), after);
  EXPECT_EQ(stat_of(dir / "src/f.txt").st_mode & 07777, 0640u);
  EXPECT_EQ(dir.list("src"), std::vector<std::string>{"f.txt"});
}

TEST(RunEdit, PreviewResult) {
  TempDir dir;
  const std::string before = "one\ntwo\n";
  const std::string after = "0ne\ntw0\nthree\n";
  dir.write("f.txt", before);
  const auto result = edit(dir, "f.txt", digest(before), {replace("o", "0", 2), lines(3, 3, "three\n")}, true);
  EXPECT_EQ(text_of(result),
            R"({"applied":false,"bytes_after":14,"bytes_before":8,"changed":true,"durability_warning":null,)"
            R"("path":"f.txt","preview":[)"
            R"({"after":"0","before":"o","end_byte":1,"start_byte":0,"truncated":false},)"
            R"({"after":"0","before":"o","end_byte":7,"start_byte":6,"truncated":false},)"
            R"({"after":"three\n","before":"","end_byte":8,"start_byte":8,"truncated":false}],)"
            R"("preview_truncated":false,"replacements":3,)"
            R"("revision_after":")" + digest(after) + R"(","revision_before":")" + digest(before) + R"("})");
  EXPECT_EQ(dir.read("f.txt"), before);
}

TEST(RunEdit, RevisionShapeCheckedBeforeAnyFile) {
  TempDir dir;
  const std::string good = digest("");
  const char* const shape = "io_or_request: revision must be a BLAKE3 hex digest from read or tuvel-search";
  const struct {
    const char* name;
    std::string path;
    std::string revision;
  } cases[] = {
      {"63 digits", "missing/none.txt", good.substr(1)},
      {"65 digits", "missing/none.txt", good + "0"},
      {"a non-hex digit", "missing/none.txt", good.substr(1) + "g"},
      {"empty", "missing/none.txt", ""},
      {"before the path policy", "../outside", good + "0"},
      {"before Git metadata", ".git/config", "xyz"},
  };
  for (const auto& c : cases) {
    for (bool preview : {true, false}) {
      EXPECT_EQ(text_of(edit(dir, c.path, c.revision, {lines(1, 1, "x")}, preview)), shape) << c.name;
    }
  }
  // A well-formed revision lets the path be looked at.
  EXPECT_EQ(text_of(edit(dir, "missing/none.txt", good, {lines(1, 1, "x")}, false)),
            "io_or_request: No such file or directory (os error 2)");
}

TEST(RunEdit, StaleRevisions) {
  TempDir dir;
  const std::string content = "hello\n";
  dir.write("f.txt", content);
  std::string upper = digest(content);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string stale = "source changed; current revision is " + digest(content) + "; read the affected range and retry";
  for (bool preview : {true, false}) {
    EXPECT_EQ(text_of(edit(dir, "f.txt", upper, {lines(1, 1, "x")}, preview)), "stale_revision: " + stale);
    EXPECT_EQ(text_of(edit(dir, "f.txt", digest("other"), {lines(9, 9, "")}, preview)), "stale_revision: " + stale)
        << "the revision comes before the edits";
  }
  EXPECT_EQ(dir.read("f.txt"), content);
}

TEST(RunEdit, IdenticalTextChangesNothing) {
  TempDir dir;
  const std::string content = "keep me\nkeep me\n";
  dir.write("f.txt", content);
  const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f.txt").c_str(), old_times, 0), 0);
  const struct stat before = stat_of(dir / "f.txt");

  const auto result = edit(dir, "f.txt", digest(content), {replace("keep", "keep", 2)}, false);
  EXPECT_EQ(text_of(result), summary("f.txt", false, false, content, content, 2));
  const struct stat after = stat_of(dir / "f.txt");
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
  EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"f.txt"});
}

TEST(RunEdit, ChecksInOrder) {
  TempDir dir;
  const std::string content = "a\nb\n";
  dir.write("ro.txt", content, 0444);
  dir.write("f.txt", content);
  // A read-only file is refused for apply only.
  EXPECT_EQ(text_of(edit(dir, "ro.txt", digest(content), {lines(1, 2, "")}, false)),
            "io_or_request: source is read-only");
  EXPECT_TRUE(edit(dir, "ro.txt", digest(content), {lines(1, 2, "")}, true).ok());
  // Resolution failures follow the revision check and leave the file alone.
  EXPECT_EQ(text_of(edit(dir, "f.txt", digest(content), {lines(1, 4, "")}, false)),
            "invalid_range: expected 1 <= start <= end <= 3; end is exclusive");

  // Another writer's lock: apply is busy even on a stale revision; a preview takes no lock.
  const int held = ::open((dir / "f.txt").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(text_of(edit(dir, "f.txt", digest("stale"), {lines(1, 2, "")}, false)),
            "busy: another writer holds the file lock; retry");
  EXPECT_TRUE(edit(dir, "f.txt", digest(content), {lines(1, 2, "")}, true).ok());
  ::close(held);
  EXPECT_EQ(dir.read("f.txt"), content);
}

TEST(RunEdit, SixteenMiBResultBoundary) {
  TempDir dir;
  const std::string content(16 * 1024 * 1024 - 1, 'a');
  dir.write("big.txt", content);
  EXPECT_EQ(text_of(edit(dir, "big.txt", digest(content), {lines(2, 2, "bc")}, false)),
            "io_or_request: result exceeds 16 MiB");
  EXPECT_EQ(stat_of(dir / "big.txt").st_size, 16 * 1024 * 1024 - 1);

  const auto result = edit(dir, "big.txt", digest(content), {lines(2, 2, "b")}, false);
  ASSERT_TRUE(result.ok()) << result.error().render();
  EXPECT_EQ(to_json(*result->find("bytes_after")), "16777216");
  EXPECT_EQ(to_json(*result->find("applied")), "true");
  EXPECT_EQ(dir.read("big.txt"), content + "b");
}

TEST(RunEdit, PathEchoedAsWritten) {
  TempDir dir;
  dir.write("d/f.txt", "x\n");
  for (const std::string path : {"d//f.txt", "d/./f.txt", "d/f.txt/"}) {
    const auto result = edit(dir, path, digest("x\n"), {lines(1, 1, "")}, true);
    ASSERT_TRUE(result.ok()) << path << ": " << result.error().render();
    EXPECT_EQ(to_json(*result->find("path")), "\"" + path + "\"");
  }
}

// Preview allowance: the entries as (before, after, truncated) triples.
struct Shown {
  std::string before, after;
  bool truncated;
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
  return os << "{" << s.before.size() << "B, " << s.after.size() << "B, " << s.truncated << "}";
}

struct Excerpt {
  std::vector<Shown> entries;
  bool truncated = false;
};

Excerpt preview_of(const std::string& content, std::vector<Edit> edits) {
  TempDir dir;
  dir.write("f.txt", content);
  const auto result = edit(dir, "f.txt", digest(content), std::move(edits), true);
  Excerpt out;
  EXPECT_TRUE(result.ok()) << result.error().render();
  if (!result.ok()) return out;
  for (const Json& entry : std::get<JsonArray>(result->find("preview")->value())) {
    out.entries.push_back({std::get<std::string>(entry.find("before")->value()),
                           std::get<std::string>(entry.find("after")->value()),
                           std::get<bool>(entry.find("truncated")->value())});
  }
  out.truncated = std::get<bool>(result->find("preview_truncated")->value());
  return out;
}

std::string times(std::string_view piece, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += piece;
  return s;
}

/// `n` lines, each `width` copies of `piece` and a line feed.
std::string block(std::string_view piece, std::size_t width, std::size_t n) { return times(times(piece, width) + "\n", n); }

/// Replaces each of the first `n` lines by `text`.
std::vector<Edit> each_line(std::size_t n, const std::string& text) {
  std::vector<Edit> edits;
  for (std::size_t k = 1; k <= n; ++k) edits.push_back(lines(k, k + 1, text));
  return edits;
}

TEST(RunEditPreview, EntryCountLimit) {
  const Excerpt forty = preview_of(block("a", 1, 40), each_line(40, "b\n"));
  EXPECT_EQ(forty.entries.size(), 32u);
  EXPECT_EQ(forty.entries.front(), (Shown{"a\n", "b\n", false}));
  EXPECT_TRUE(forty.truncated);

  const Excerpt thirty_two = preview_of(block("a", 1, 32), each_line(32, "b\n"));
  EXPECT_EQ(thirty_two.entries.size(), 32u);
  EXPECT_FALSE(thirty_two.truncated);
}

TEST(RunEditPreview, PerTextAndSharedAllowance) {
  // A 300-character replacement shows 256, and so does a 5000-character range.
  const std::string long_line = times("y", 300);
  const Excerpt first = preview_of("a\n" + times("z", 5000) + "\n", {lines(1, 2, long_line), replace(times("z", 5000), "", 1)});
  ASSERT_EQ(first.entries.size(), 2u);
  EXPECT_EQ(first.entries[0], (Shown{"a\n", times("y", 256), true}));
  EXPECT_EQ(first.entries[1], (Shown{times("z", 256), "", true}));
  EXPECT_TRUE(first.truncated);

  // Three-byte characters are counted as characters and never split.
  const Excerpt euro = preview_of(times("\xE2\x82\xAC", 300) + "\n", {lines(1, 2, times("\xC3\xA9", 10))});
  ASSERT_EQ(euro.entries.size(), 1u);
  EXPECT_EQ(euro.entries[0], (Shown{times("\xE2\x82\xAC", 256), times("\xC3\xA9", 10), true}));
  EXPECT_EQ(euro.entries[0].before.size(), 768u);

  // Eight entries of 250 + 250 characters leave 96: the ninth shows an 80-character
  // range and 16 of its 50 replacement characters; the tenth is left out.
  std::string content = block("r", 249, 8) + times("s", 79) + "\n" + "t\n";
  std::vector<Edit> edits = each_line(8, times("\xC3\xA9", 250));
  edits.push_back(lines(9, 10, times("\xE2\x82\xAC", 50)));
  edits.push_back(lines(10, 11, "u\n"));
  const Excerpt shared = preview_of(content, std::move(edits));
  ASSERT_EQ(shared.entries.size(), 9u);
  EXPECT_EQ(shared.entries[7], (Shown{times("r", 249) + "\n", times("\xC3\xA9", 250), false}));
  EXPECT_EQ(shared.entries[8], (Shown{times("s", 79) + "\n", times("\xE2\x82\xAC", 16), true}));
  EXPECT_TRUE(shared.truncated);
}

TEST(RunEditPreview, BudgetEndingExactlyAtTheLastChange) {
  // Sixteen entries of 128 + 128 characters use the 4096 exactly.
  const std::string content = block("p", 127, 16);
  const Excerpt exact = preview_of(content, each_line(16, times("q", 128)));
  ASSERT_EQ(exact.entries.size(), 16u);
  EXPECT_FALSE(exact.truncated) << "nothing left out, nothing cut";

  // One more change: the budget ran out before it.
  std::vector<Edit> edits = each_line(16, times("q", 128));
  edits.push_back(lines(17, 17, "tail"));
  const Excerpt more = preview_of(content, std::move(edits));
  EXPECT_EQ(more.entries.size(), 16u);
  EXPECT_TRUE(more.truncated);
}

TEST(RunEditPreview, InsertionsAndDeletions) {
  const Excerpt excerpt = preview_of("a\nb\n", {lines(1, 1, "new\n"), lines(2, 3, "")});
  ASSERT_EQ(excerpt.entries.size(), 2u);
  EXPECT_EQ(excerpt.entries[0], (Shown{"", "new\n", false}));
  EXPECT_EQ(excerpt.entries[1], (Shown{"b\n", "", false}));
  EXPECT_FALSE(excerpt.truncated);
}

}  // namespace
}  // namespace tuvel
