// SPDX-License-Identifier: Apache-2.0
// execute_list on real directories: order, kinds and sizes as the entries
// are, what is never shown, refusals, and the bound on the answer.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
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

std::string list(const TempDir& repo, std::optional<std::string> path = std::nullopt) {
  return outcome(execute_list(repo.path(), ListRequest{std::move(path)}));
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
                            R"(],"path":".","truncated":false})");
}

TEST(List, GitAndStagingEntriesAreNeverShown) {
  TempDir repo;
  repo.write(".git/HEAD", "ref: refs/heads/main\n");
  repo.write("sub/.git", "gitdir: elsewhere\n");
  repo.write(".tuvel-edit-123-0", "staged");
  repo.write("sub/.tuvel-edit-9-41", "staged");
  repo.write("sub/.tuvel-edit", "not a staging name");
  repo.write("sub/.git2", "");
  repo.write("sub/x\xFF", "not UTF-8");
  EXPECT_EQ(list(repo), R"({"entries":[{"kind":"directory","name":"sub"}],"path":".","truncated":false})");
  EXPECT_EQ(list(repo, "sub"), std::string(R"({"entries":[)") + file_entry(".git2", 0) + "," +
                                   file_entry(".tuvel-edit", 18) + R"(],"path":"sub","truncated":false})");
}

TEST(List, PathAnsweredAsRequested) {
  TempDir repo;
  repo.write("a/b/c", "x");
  EXPECT_EQ(list(repo, "a//b/"), std::string(R"({"entries":[)") + file_entry("c", 1) +
                                     R"(],"path":"a//b/","truncated":false})");
  ::mkdir((repo / "empty").c_str(), 0755);
  EXPECT_EQ(list(repo, "empty"), R"({"entries":[],"path":"empty","truncated":false})");
  // null in the request is the root as well.
  EXPECT_EQ(list(repo), R"({"entries":[{"kind":"directory","name":"a"},{"kind":"directory","name":"empty"}],"path":".","truncated":false})");
}

TEST(List, Refusals) {
  TempDir repo;
  repo.write("file.txt", "x");
  repo.write("src/a", "x");
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
      {"", traversal},
      {".", traversal},
      {"./src", traversal},
      {"/src", traversal},
      {"src/..", traversal},
      {".git", "Git metadata cannot be edited"},
      {"src/.git", "Git metadata cannot be edited"},
      {std::string(4097, 'a'), "path exceeds 4096 bytes"},
      {std::string("s\0c", 3), "Invalid argument (os error 22)"},
  };
  for (const Case& c : cases) EXPECT_EQ(list(repo, c.path), c.message) << c.path.substr(0, 20);
  EXPECT_EQ(outcome(execute_list(repo / "file.txt", {})), "repo must be a directory");
}

// A directory of files named so that the listing is exactly `length` bytes
// long if all are shown: names of 100 bytes, the last one padded.
std::vector<std::string> fill_to(const TempDir& repo, std::size_t length) {
  const std::string empty = R"({"entries":[],"path":".","truncated":false})";
  const std::size_t entry_fixed = file_entry("", 0).size();
  std::vector<std::string> names;
  std::size_t total = empty.size();
  for (std::size_t i = 0;; ++i) {
    const std::size_t separator = names.empty() ? 0 : 1;
    const std::size_t room = length - total - separator - entry_fixed;
    std::string name = "f" + std::to_string(100000 + i);
    if (room <= 2 * 100) {
      name += std::string(room - name.size(), 'z');
      names.push_back(name);
      repo.write(name, "");
      return names;
    }
    name += std::string(100 - name.size(), 'a');
    names.push_back(name);
    repo.write(name, "");
    total += separator + entry_fixed + name.size();
  }
}

std::string listing(const std::vector<std::string>& names, bool truncated) {
  std::string text = R"({"entries":[)";
  for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? "" : ",") + file_entry(names[i], 0);
  return text + R"(],"path":".","truncated":)" + (truncated ? "true" : "false") + "}";
}

TEST(List, AnswerStaysWithinTheReadLimit) {
  {
    TempDir repo;
    const std::vector<std::string> names = fill_to(repo, READ_OUTPUT_LIMIT);
    const std::string answer = list(repo);
    EXPECT_EQ(answer.size(), READ_OUTPUT_LIMIT);
    EXPECT_EQ(answer, listing(names, false));
  }
  {
    // One byte more: the last entry is dropped, and "true" is one byte shorter.
    TempDir repo;
    std::vector<std::string> names = fill_to(repo, READ_OUTPUT_LIMIT + 1);
    names.pop_back();
    const std::string answer = list(repo);
    EXPECT_EQ(answer, listing(names, true));
    EXPECT_LE(answer.size(), READ_OUTPUT_LIMIT);
  }
  {
    // Entries up to the limit exactly with "true", and one more after them.
    TempDir repo;
    const std::vector<std::string> names = fill_to(repo, READ_OUTPUT_LIMIT + 1);
    repo.write("zz", "");
    const std::string answer = list(repo);
    EXPECT_EQ(answer.size(), READ_OUTPUT_LIMIT);
    EXPECT_EQ(answer, listing(names, true));
  }
  {
    // Many more entries than fit: a sorted prefix, as long as fits.
    TempDir repo;
    std::vector<std::string> names = fill_to(repo, READ_OUTPUT_LIMIT + 5000);
    const std::string answer = list(repo);
    EXPECT_LE(answer.size(), READ_OUTPUT_LIMIT);
    std::size_t shown = 0;
    for (std::size_t length = listing({}, true).size(); shown < names.size(); ++shown) {
      length += (shown == 0 ? 0 : 1) + file_entry(names[shown], 0).size();
      if (length > READ_OUTPUT_LIMIT) break;
    }
    ASSERT_LT(shown, names.size());
    names.resize(shown);
    EXPECT_EQ(answer, listing(names, true));
  }
}

}  // namespace
}  // namespace tuvel
