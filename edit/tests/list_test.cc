// SPDX-License-Identifier: Apache-2.0
// execute_list on real directories: order, kinds and sizes as the entries
// are, what is never shown, refusals, and the bound on the answer.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "execute/execute.h"
#include "protocol/json.h"
#include "read/read_files.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

std::string outcome(const Result<Json>& result) { return result.ok() ? to_json(*result) : result.error().render(); }

std::string list(const TempDir& repo, std::optional<std::string> path = std::nullopt,
                 std::optional<std::string> cursor = std::nullopt) {
  return outcome(execute_list(repo.path(), ListRequest{std::move(path), std::move(cursor)}));
}

std::string file_entry(const std::string& name, std::size_t size) {
  return R"({"kind":"file","name":)" + testing::json_quote(name) + R"(,"size":)" + std::to_string(size) + "}";
}

TEST(List, SortedByteWiseWithKindsAndSizes) {
  TempDir repo;
  repo.write("b.txt", "abc");
  repo.write("B", "");
  repo.write("\xC3\xA9t\xC3\xA9", "12345");  // sorts after every ASCII name
  repo.write(".gitignore", "*.o\n");
  repo.write("src/main.cc", "int main() {}\n");
  ASSERT_EQ(::symlink("b.txt", (repo / "link").c_str()), 0);
  ASSERT_EQ(::symlink("src", (repo / "dirlink").c_str()), 0);
  ASSERT_EQ(::mkfifo((repo / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(list(repo), std::string(R"({"entries":[)") + file_entry(".gitignore", 4) + "," + file_entry("B", 0) + "," +
                            file_entry("b.txt", 3) + "," + R"({"kind":"symlink","name":"dirlink"},)" +
                            R"({"kind":"other","name":"fifo"},)" + R"({"kind":"symlink","name":"link"},)" +
                            R"({"kind":"directory","name":"src"},)" + file_entry("\xC3\xA9t\xC3\xA9", 5) +
                            R"(],"next":null,"path":".","truncated":false})");
}

TEST(List, GitAndStagingEntriesAreNeverShown) {
  TempDir repo;
  repo.write(".git/HEAD", "ref: refs/heads/main\n");
  repo.write("sub/.git", "gitdir: elsewhere\n");
  repo.write(".tuvel-edit-123-0", "staged");
  repo.write("sub/.tuvel-edit-9-41", "staged");
  repo.write("sub/.tuvel-edit", "not a staging name");
  repo.write("sub/.tuvel-edit-notes.md", "mine");
  repo.write("sub/.tuvel-edit-1-2.bak", "mine");
  repo.write("sub/.git2", "");
  repo.write("sub/x\xFF", "not UTF-8");
  EXPECT_EQ(list(repo), R"({"entries":[{"kind":"directory","name":"sub"}],"next":null,"path":".","truncated":false})");
  EXPECT_EQ(list(repo, "sub"), std::string(R"({"entries":[)") + file_entry(".git2", 0) + "," +
                                   file_entry(".tuvel-edit", 18) + "," + file_entry(".tuvel-edit-1-2.bak", 4) + "," +
                                   file_entry(".tuvel-edit-notes.md", 4) + R"(],"next":null,"path":"sub","truncated":false})");
}

TEST(List, PathAnsweredAsRequested) {
  TempDir repo;
  repo.write("a/b/c", "x");
  EXPECT_EQ(list(repo, "a//b/"), std::string(R"({"entries":[)") + file_entry("c", 1) +
                                     R"(],"next":null,"path":"a//b/","truncated":false})");
  ::mkdir((repo / "empty").c_str(), 0755);
  EXPECT_EQ(list(repo, "empty"), R"({"entries":[],"next":null,"path":"empty","truncated":false})");
  // null in the request is the root, and so are "" and ".", as clients send them.
  const std::string root_entries = R"({"entries":[{"kind":"directory","name":"a"},{"kind":"directory","name":"empty"}],"next":null,"path":)";
  EXPECT_EQ(list(repo), root_entries + R"(".","truncated":false})");
  EXPECT_EQ(list(repo, ""), root_entries + R"("","truncated":false})");
  EXPECT_EQ(list(repo, "."), root_entries + R"(".","truncated":false})");
}

TEST(List, Refusals) {
  TempDir repo;
  repo.write("file.txt", "x");
  repo.write("src/a", "x");
  repo.write(".tuvel-edit-1-2/a", "x");
  ASSERT_EQ(::symlink("src", (repo / "link").c_str()), 0);
  const std::string traversal = "path must be relative, with no parent traversal";
  const std::string loop = "Too many levels of symbolic links (os error 40)";
  struct Case {
    std::string path;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"file.txt", "Not a directory (os error 20)"},
      {"src/a", "Not a directory (os error 20)"},
      {"link", loop},
      {"link/", loop},
      {"missing", "No such file or directory (os error 2)"},
      {"./", traversal},
      {"./src", traversal},
      {"..", traversal},
      {"/src", traversal},
      {"src/..", traversal},
      {".git", "Git metadata cannot be edited"},
      {"src/.git", "Git metadata cannot be edited"},
      {".tuvel-edit-1-2", "path names a staging file"},
      {std::string(4097, 'a'), "path exceeds 4096 bytes"},
      {std::string("s\0c", 3), "Invalid argument (os error 22)"},
  };
  for (const Case& c : cases) EXPECT_EQ(list(repo, c.path), c.message) << c.path.substr(0, 20);
  EXPECT_EQ(outcome(execute_list(repo / "file.txt", {})), "repo must be a directory");
}

// The answer of one page of files of size 0 from the root.
std::string listing(const std::vector<std::string>& names, std::optional<std::string> next = std::nullopt) {
  std::string text = R"({"entries":[)";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ",") + file_entry(names[i], 0);
  return text + R"(],"next":)" + (next ? testing::json_quote(*next) : "null") + R"(,"path":".","truncated":)" +
         (next ? "true" : "false") + "}";
}

// Names of files that make one page exactly `length` bytes long when it
// holds them all: the last page, or one whose next is its last name. They
// are 100 bytes long and sort in order; the first takes the remainder.
std::vector<std::string> page_of(const TempDir& repo, std::size_t length, bool last_page) {
  const std::size_t per_name = file_entry(std::string(100, 'a'), 0).size() + 1;
  const std::size_t fixed = listing({}).size() - 1 - std::string_view("nullfalse").size() +
                            (last_page ? std::string_view("nullfalse").size() : 102 + std::string_view("true").size());
  const std::size_t count = (length - fixed) / per_name;
  const std::size_t remainder = (length - fixed) % per_name;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = "f" + std::to_string(100000 + i);
    name += std::string(100 - name.size() + (i == 0 ? remainder : 0), 'a');
    repo.write(name, "");
    names.push_back(std::move(name));
  }
  return names;
}

const std::string kLongLast(200, 'z');

TEST(List, PagesFillTheReadLimitExactly) {
  {
    // Every name fits, with the last page's tail: one page of exactly the limit.
    TempDir repo;
    const std::vector<std::string> names = page_of(repo, READ_OUTPUT_LIMIT, true);
    const std::string answer = list(repo);
    EXPECT_EQ(answer.size(), READ_OUTPUT_LIMIT);
    EXPECT_EQ(answer, listing(names));
  }
  {
    // One byte more: the last name goes to a second page.
    TempDir repo;
    std::vector<std::string> names = page_of(repo, READ_OUTPUT_LIMIT + 1, true);
    const std::string last = names.back();
    names.pop_back();
    const std::string answer = list(repo);
    EXPECT_LE(answer.size(), READ_OUTPUT_LIMIT);
    EXPECT_EQ(answer, listing(names, names.back()));
    EXPECT_EQ(list(repo, std::nullopt, names.back()), listing({last}));
  }
  {
    // A page of exactly the limit that names its last entry as next, and a
    // name after it too long to take the place of that tail.
    TempDir repo;
    const std::vector<std::string> names = page_of(repo, READ_OUTPUT_LIMIT, false);
    repo.write(kLongLast, "");
    const std::string answer = list(repo);
    EXPECT_EQ(answer.size(), READ_OUTPUT_LIMIT);
    EXPECT_EQ(answer, listing(names, names.back()));
    EXPECT_EQ(list(repo, std::nullopt, names.back()), listing({kLongLast}));
  }
  {
    // One byte more, and that page gives up its last entry.
    TempDir repo;
    std::vector<std::string> names = page_of(repo, READ_OUTPUT_LIMIT + 1, false);
    repo.write(kLongLast, "");
    names.pop_back();
    EXPECT_EQ(list(repo), listing(names, names.back()));
  }
}

// Page after page through `next`: every answer within the limit, and the
// names shown in order.
std::vector<std::string> all_pages(const TempDir& repo, std::size_t& pages) {
  std::vector<std::string> shown;
  std::optional<std::string> cursor;
  for (pages = 1;; ++pages) {
    const auto result = execute_list(repo.path(), ListRequest{std::nullopt, cursor});
    EXPECT_TRUE(result.ok()) << result.error().render();
    if (!result.ok()) return shown;
    EXPECT_LE(to_json(*result).size(), READ_OUTPUT_LIMIT);
    const Json& data = *result;
    for (const Json& entry : std::get<JsonArray>(data.find("entries")->value())) {
      shown.push_back(std::get<std::string>(entry.find("name")->value()));
    }
    const Json* found = data.find("next");
    EXPECT_NE(found, nullptr);
    if (found == nullptr) return shown;
    const Json& next = *found;
    EXPECT_EQ(std::get<bool>(data.find("truncated")->value()), !std::holds_alternative<std::nullptr_t>(next.value()));
    if (std::holds_alternative<std::nullptr_t>(next.value())) return shown;
    cursor = std::get<std::string>(next.value());
    EXPECT_EQ(*cursor, shown.back());
    if (pages > 100) return shown;
  }
}

TEST(List, FiveThousandNamesReadThroughPagesNoneLostOrRepeated) {
  TempDir repo;
  std::vector<std::string> names;
  // Created out of order, with kinds, sizes and escapes that change each entry's length.
  for (int i = 0; i < 5000; ++i) {
    const int n = (i * 7919) % 5000;
    std::string name = "entry-" + std::to_string(n) + std::string(static_cast<std::size_t>(n % 23), 'x');
    if (n % 11 == 0) name += "\"q\t";
    if (n % 3 == 0) {
      ::mkdir((repo / name).c_str(), 0755);
    } else {
      repo.write(name, std::string(static_cast<std::size_t>(n % 5), 'c'));
    }
    names.push_back(name);
  }
  for (const char* staging : {".tuvel-edit-1-0", ".tuvel-edit-99-12345"}) repo.write(staging, "staged");
  std::sort(names.begin(), names.end());
  std::size_t pages = 0;
  EXPECT_EQ(all_pages(repo, pages), names);
  EXPECT_GE(pages, 3U);
}

TEST(List, CursorNeedNotNameAnEntry) {
  TempDir repo;
  for (const char* name : {"a", "b", "c", "d"}) repo.write(name, "");
  struct Case {
    std::string cursor;
    std::vector<std::string> shown;
  };
  const std::vector<Case> cases = {
      {"", {"a", "b", "c", "d"}},
      {"b", {"c", "d"}},
      {"bb", {"c", "d"}},
      {"a\xFF", {"b", "c", "d"}},
      {".git", {"a", "b", "c", "d"}},
      {"d", {}},
      {"zzz", {}},
      {"c/d", {"d"}},
  };
  for (const Case& c : cases) EXPECT_EQ(list(repo, std::nullopt, c.cursor), listing(c.shown)) << c.cursor;
  EXPECT_EQ(list(repo, "", "c"), R"({"entries":[{"kind":"file","name":"d","size":0}],"next":null,"path":"","truncated":false})");
}

TEST(List, NamesMadeOrRemovedBetweenPages) {
  TempDir repo;
  const std::vector<std::string> first = page_of(repo, READ_OUTPUT_LIMIT, false);
  const auto later = [](char c) { return std::string(200, c); };
  for (const char c : {'m', 'n', 'o'}) repo.write(later(c), "");
  EXPECT_EQ(list(repo), listing(first, first.back()));
  // Before the cursor: not shown again; after it: shown once; removed: gone.
  repo.write("e", "");
  repo.write(later('p'), "");
  ASSERT_EQ(::unlink((repo / later('n')).c_str()), 0);
  EXPECT_EQ(list(repo, std::nullopt, first.back()), listing({later('m'), later('o'), later('p')}));
}

}  // namespace
}  // namespace tuvel
