// SPDX-License-Identifier: Apache-2.0
// search_tree and find_tree on real trees: what the walk reaches and never
// reaches, the rules of ignore files and hidden entries, binary and large
// files, lines as shown (context, long lines, CRLF, invalid UTF-8), pages
// that lose and repeat nothing, and refusals.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/json.h"
#include "search/find_tree.h"
#include "search/search_tree.h"
#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

std::string outcome(const Result<Json>& result) { return result.ok() ? to_json(*result) : result.error().render(); }

Result<Json> run_search(const TempDir& dir, const SearchRequest& request) {
  Result<Repo> repo = open_repo(dir.path());
  if (!repo.ok()) return repo.error();
  return search_tree(*repo, request);
}

Result<Json> run_find(const TempDir& dir, const FindRequest& request) {
  Result<Repo> repo = open_repo(dir.path());
  if (!repo.ok()) return repo.error();
  return find_tree(*repo, request);
}

SearchRequest files_of(std::string pattern) {
  SearchRequest request;
  request.pattern = std::move(pattern);
  request.files_only = true;
  return request;
}

/// The paths of a search or find answer, in order.
std::vector<std::string> paths(const Json& data) {
  std::vector<std::string> out;
  for (const Json& file : std::get<JsonArray>(data.find("files")->value()))
    out.push_back(std::get<std::string>(file.find("path")->value()));
  return out;
}

std::vector<std::string> searched_paths(const TempDir& dir, SearchRequest request) {
  const Result<Json> result = run_search(dir, request);
  EXPECT_TRUE(result.ok()) << outcome(result);
  return result.ok() ? paths(*result) : std::vector<std::string>{};
}

TEST(SearchTree, ContentAnswerWithRevisionOfTheBytesSearched) {
  TempDir repo;
  const std::string text = "alpha\nbeta needle\ngamma\nneedle again\n";
  repo.write("a.txt", text);
  SearchRequest request;
  request.pattern = "needle";
  EXPECT_EQ(outcome(run_search(repo, request)),
            R"({"files":[{"matches":[{"line":2,"text":"beta needle","truncated":false},)"
            R"({"line":4,"text":"needle again","truncated":false}],"path":"a.txt","revision":")" +
                testing::digest(text) +
                R"("}],"next":null,"searched":1,"skipped":{"binary":0,"too_large":0,"unreadable":0},"truncated":false})");
  request.files_only = true;
  EXPECT_EQ(outcome(run_search(repo, request)),
            R"({"files":[{"count":2,"path":"a.txt","revision":")" + testing::digest(text) +
                R"("}],"next":null,"searched":1,"skipped":{"binary":0,"too_large":0,"unreadable":0},"truncated":false})");
}

TEST(SearchTree, PathOrderIsByteOrderOfWholePaths) {
  TempDir repo;
  for (const char* path : {"a/x", "a.txt", "a-b", "b", "a/b/c", "A"}) repo.write(path, "hit\n");
  EXPECT_EQ(searched_paths(repo, files_of("hit")),
            (std::vector<std::string>{"A", "a-b", "a.txt", "a/b/c", "a/x", "b"}));
}

TEST(SearchTree, WalkLeavesOutGitLinksSpecialAndStagingFiles) {
  TempDir repo;
  TempDir outside;
  outside.write("secret.txt", "hit outside\n");
  repo.write("in.txt", "hit\n");
  repo.write(".git/config", "hit\n");
  repo.write("sub/.git/HEAD", "hit\n");
  repo.write(".tuvel-edit-1-2", "hit\n");
  ASSERT_EQ(::symlink("in.txt", (repo / "link-in").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (repo / "link-out").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "secret.txt").c_str(), (repo / "file-out").c_str()), 0);
  ASSERT_EQ(::mkfifo((repo / "fifo").c_str(), 0644), 0);
  SearchRequest request = files_of("hit");
  request.hidden = true;
  request.no_ignore = true;
  EXPECT_EQ(searched_paths(repo, request), std::vector<std::string>{"in.txt"});
  FindRequest find{"*", std::nullopt, true, true, 100, std::nullopt};
  const Result<Json> found = run_find(repo, find);
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(paths(*found), std::vector<std::string>{"in.txt"});
}

TEST(SearchTree, IgnoreFilesAndHiddenEntries) {
  TempDir repo;
  repo.write(".gitignore", "*.log\nbuild/\n/top.txt\n");
  repo.write("sub/.gitignore", "!keep.log\nlocal.txt\n");
  repo.write("sub/deeper/.ignore", "*.md\n");
  for (const char* path : {"a.log", "top.txt", "build/x.txt", "sub/keep.log", "sub/other.log", "sub/local.txt",
                           "sub/top.txt", "sub/deeper/r.md", "sub/deeper/s.txt", ".hidden/h.txt", ".dot.txt"})
    repo.write(path, "hit\n");
  EXPECT_EQ(searched_paths(repo, files_of("hit")),
            (std::vector<std::string>{"sub/deeper/s.txt", "sub/keep.log", "sub/top.txt"}));
  SearchRequest hidden = files_of("hit");
  hidden.hidden = true;
  EXPECT_EQ(searched_paths(repo, hidden), (std::vector<std::string>{".dot.txt", ".hidden/h.txt", "sub/deeper/s.txt",
                                                                     "sub/keep.log", "sub/top.txt"}));
  SearchRequest no_ignore = files_of("hit");
  no_ignore.no_ignore = true;
  EXPECT_EQ(searched_paths(repo, no_ignore).size(), 9u);
  // A directory given as the path still has its ancestors' rules.
  SearchRequest below = files_of("hit");
  below.path = "sub";
  EXPECT_EQ(searched_paths(repo, below), (std::vector<std::string>{"sub/deeper/s.txt", "sub/keep.log", "sub/top.txt"}));
  // Globs narrow; they never bring back what the rules leave out.
  SearchRequest globbed = files_of("hit");
  globbed.globs = {"*.log", "*.md"};
  EXPECT_EQ(searched_paths(repo, globbed), std::vector<std::string>{"sub/keep.log"});
  globbed.globs = {"!sub/deeper"};
  EXPECT_EQ(searched_paths(repo, globbed), (std::vector<std::string>{"sub/keep.log", "sub/top.txt"}));
}

TEST(SearchTree, BinaryAndLargeFilesAreSkippedAndCounted) {
  TempDir repo;
  repo.write("bin", std::string("hit\n\0late", 10));
  repo.write("big", std::string(MAX_SOURCE_BYTES, 'x') + "\nhit\n");
  repo.write("text", "hit\n");
  const Result<Json> result = run_search(repo, files_of("hit"));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(paths(*result), std::vector<std::string>{"text"});
  EXPECT_EQ(to_json(*result->find("skipped")), R"({"binary":1,"too_large":1,"unreadable":0})");
  EXPECT_EQ(to_json(*result->find("searched")), "1");
}

TEST(SearchTree, LinesAsShown) {
  TempDir repo;
  const std::string long_line = std::string(600, 'a') + "hit";
  std::string cut(509, 'b');
  cut += "\xC3\xA9\xC3\xA9hit";  // the cut would fall inside the second é
  repo.write("f.txt", "crlf hit\r\n" + long_line + "\n" + "bad \xFF\xC3 hit\n" + cut + "\n" + "last hit");
  SearchRequest request;
  request.pattern = "hit";
  const Result<Json> result = run_search(repo, request);
  ASSERT_TRUE(result.ok());
  const Json& matches = *std::get<JsonArray>(result->find("files")->value())[0].find("matches");
  EXPECT_EQ(to_json(matches),
            R"([{"line":1,"text":"crlf hit\r","truncated":false},{"line":2,"text":")" + std::string(512, 'a') +
                R"(","truncated":true},{"line":3,"text":"bad )" + "\xEF\xBF\xBD\xEF\xBF\xBD" +
                R"( hit","truncated":false},{"line":4,"text":")" + std::string(509, 'b') + "\xC3\xA9" +
                R"(","truncated":true},{"line":5,"text":"last hit","truncated":false}])");
}

TEST(SearchTree, ContextAroundMatchesWithoutRepeats) {
  TempDir repo;
  repo.write("c.txt", "1\n2\nhit3\n4\nhit5\n6\n7\n8\n9\nhit10\n");
  SearchRequest request;
  request.pattern = "hit";
  request.context = 2;
  const Result<Json> result = run_search(repo, request);
  ASSERT_TRUE(result.ok());
  const Json& file = std::get<JsonArray>(result->find("files")->value())[0];
  const auto numbers = [](const Json& lines) {
    std::vector<std::uint64_t> out;
    for (const Json& line : std::get<JsonArray>(lines.value())) out.push_back(std::get<std::uint64_t>(line.find("line")->value()));
    return out;
  };
  EXPECT_EQ(numbers(*file.find("matches")), (std::vector<std::uint64_t>{3, 5, 10}));
  EXPECT_EQ(numbers(*file.find("context")), (std::vector<std::uint64_t>{1, 2, 4, 6, 7, 8, 9}));
}

TEST(SearchTree, PagesLoseAndRepeatNothing) {
  TempDir repo;
  std::set<std::pair<std::string, std::uint64_t>> expected;
  for (int f = 0; f < 30; ++f) {
    std::string text;
    for (int line = 1; line <= 20; ++line) {
      const bool hit = (line * 7 + f) % 3 == 0;
      text += hit ? "hit\n" : "miss\n";
      if (hit) expected.insert({"d" + std::to_string(f % 4) + "/f" + std::to_string(f), line});
    }
    repo.write("d" + std::to_string(f % 4) + "/f" + std::to_string(f), text);
  }
  // Files of the start directory itself, before and after the others.
  repo.write("a", "hit\n");
  repo.write("z", "hit\n");
  expected.insert({"a", 1});
  expected.insert({"z", 1});
  for (const std::uint64_t page_size : {1u, 7u, 100u}) {
    std::set<std::pair<std::string, std::uint64_t>> seen;
    SearchRequest request;
    request.pattern = "hit";
    request.max_results = page_size;
    for (int page = 0; page < 1000; ++page) {
      const Result<Json> result = run_search(repo, request);
      ASSERT_TRUE(result.ok()) << outcome(result);
      for (const Json& file : std::get<JsonArray>(result->find("files")->value())) {
        const std::string path = std::get<std::string>(file.find("path")->value());
        for (const Json& match : std::get<JsonArray>(file.find("matches")->value()))
          EXPECT_TRUE(seen.insert({path, std::get<std::uint64_t>(match.find("line")->value())}).second) << path;
      }
      const Json& next = *result->find("next");
      EXPECT_EQ(std::get<bool>(result->find("truncated")->value()), !std::holds_alternative<std::nullptr_t>(next.value()));
      if (std::holds_alternative<std::nullptr_t>(next.value())) break;
      request.cursor = std::get<std::string>(next.value());
    }
    EXPECT_EQ(seen, expected) << page_size;
  }
  // Files pages and find pages the same way.
  for (const std::uint64_t page_size : {1u, 4u}) {
    std::vector<std::string> all;
    SearchRequest request = files_of("hit");
    request.max_results = page_size;
    FindRequest find{"*", std::nullopt, false, false, page_size, std::nullopt};
    std::vector<std::string> found;
    for (int page = 0; page < 100; ++page) {
      const Result<Json> result = run_search(repo, request);
      ASSERT_TRUE(result.ok());
      for (const std::string& path : paths(*result)) all.push_back(path);
      const Result<Json> listed = run_find(repo, find);
      ASSERT_TRUE(listed.ok());
      for (const std::string& path : paths(*listed)) found.push_back(path);
      const Json& next = *result->find("next");
      if (std::holds_alternative<std::nullptr_t>(next.value())) break;
      request.cursor = std::get<std::string>(next.value());
      find.cursor = std::get<std::string>(listed->find("next")->value());
    }
    EXPECT_EQ(all.size(), 32u);
    EXPECT_EQ(found, all);
  }
}

TEST(SearchTree, AnswerStaysWithinTheBudget) {
  TempDir repo;
  std::string text;
  for (int i = 0; i < 400; ++i) text += std::string(500, '\x01') + "hit\n";
  repo.write("wide.txt", text);
  SearchRequest request;
  request.pattern = "hit";
  request.max_results = 1000;
  const Result<Json> result = run_search(repo, request);
  ASSERT_TRUE(result.ok());
  const std::string answer = to_json(*result);
  EXPECT_LE(answer.size(), 65408u);
  EXPECT_GT(answer.size(), 60000u);
  EXPECT_EQ(to_json(*result->find("truncated")), "true");
}

TEST(SearchTree, Refusals) {
  TempDir repo;
  repo.write("a.txt", "x\n");
  ASSERT_EQ(::symlink("a.txt", (repo / "link").c_str()), 0);
  const auto refused = [&](SearchRequest request) { return outcome(run_search(repo, std::move(request))); };
  SearchRequest request;
  request.pattern = "(unclosed";
  EXPECT_EQ(refused(request), "pattern is not a valid regular expression: missing ): (unclosed");
  request.pattern = std::string(4097, 'a');
  EXPECT_EQ(refused(request), "pattern exceeds 4096 bytes");
  request.pattern = "x";
  request.context = 11;
  EXPECT_EQ(refused(request), "context exceeds 10 lines");
  request.context = 0;
  request.max_results = 0;
  EXPECT_EQ(refused(request), "max_results must be from 1 to 1000");
  request.max_results = 1001;
  EXPECT_EQ(refused(request), "max_results must be from 1 to 1000");
  request.max_results = 10;
  request.globs = std::vector<std::string>(65, "*");
  EXPECT_EQ(refused(request), "glob list exceeds 64 globs");
  request.globs = {"[x"};
  EXPECT_EQ(refused(request), "invalid glob `[x`: glob has an unclosed character class");
  request.globs.clear();
  request.cursor = "a.txt";
  EXPECT_EQ(refused(request), "cursor is not the next value of a content search");
  request.cursor = std::string(5000, 'a') + ":3";
  EXPECT_EQ(refused(request), "cursor exceeds 4096 bytes");
  request.cursor.reset();
  request.path = "../x";
  EXPECT_EQ(refused(request), "path must be relative, with no parent traversal");
  request.path = "link";
  EXPECT_EQ(refused(request), "Too many levels of symbolic links (os error 40)");
  request.path = ".git";
  EXPECT_EQ(refused(request), "Git metadata cannot be edited");
  request.path = "missing";
  EXPECT_EQ(refused(request), "No such file or directory (os error 2)");
}

TEST(SearchTree, OneFileAsThePath) {
  TempDir repo;
  repo.write(".gitignore", "*.txt\n");
  repo.write("sub/a.txt", "one hit\n");
  SearchRequest request = files_of("hit");
  request.path = "sub/a.txt";
  EXPECT_EQ(searched_paths(repo, request), std::vector<std::string>{"sub/a.txt"});
}

TEST(SearchTree, MatchesStayWithinALine) {
  TempDir repo;
  repo.write("m.txt", "a\nb\nab\n");
  const std::pair<const char*, std::uint64_t> cases[] = {{"a\\sb", 0}, {"a[^x]b", 0}, {"^b$", 1}, {"a\\nb", 0},
                                                         {"(?s)a.b", 0}, {"^", 3}, {"$", 3}};
  for (const auto& [pattern, count] : cases) {
    const Result<Json> result = run_search(repo, files_of(pattern));
    ASSERT_TRUE(result.ok()) << pattern << " " << outcome(result);
    const JsonArray& files = std::get<JsonArray>(result->find("files")->value());
    EXPECT_EQ(files.empty() ? 0 : std::get<std::uint64_t>(files[0].find("count")->value()), count) << pattern;
  }
}

TEST(SearchTree, DirectoriesSwappedForLinksNeverLeadOutside) {
  TempDir repo;
  TempDir outside;
  for (int i = 0; i < 20; ++i) {
    outside.write("d/f" + std::to_string(i), "OUTSIDE marker\n");
    repo.write("d/f" + std::to_string(i), "inside marker\n");
  }
  repo.write("e/g", "inside marker\n");
  std::atomic<bool> stop{false};
  // Swaps d for a link to the outside tree and back, as fast as it can.
  std::thread attacker([&] {
    const std::string dir = repo / "d";
    const std::string aside = repo / "d.aside";
    while (!stop) {
      if (std::rename(dir.c_str(), aside.c_str()) == 0) {
        (void)::symlink((outside / "d").c_str(), dir.c_str());
        (void)::unlink(dir.c_str());
        (void)std::rename(aside.c_str(), dir.c_str());
      }
    }
  });
  SearchRequest request;
  request.pattern = "marker";
  request.hidden = true;
  request.no_ignore = true;
  FindRequest find{"*", std::nullopt, true, true, 1000, std::nullopt};
  for (int round = 0; round < 300; ++round) {
    // No line from outside is ever reported; a find runs through as well.
    const Result<Json> found = run_search(repo, request);
    EXPECT_TRUE(found.ok()) << outcome(found);
    if (found.ok()) {
      EXPECT_EQ(to_json(*found).find("OUTSIDE"), std::string::npos);
    }
    EXPECT_TRUE(run_find(repo, find).ok());
  }
  stop = true;
  attacker.join();
}

}  // namespace
}  // namespace tuvel
