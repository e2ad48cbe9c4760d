// SPDX-License-Identifier: Apache-2.0
// search and find through the real binary: exact answers, the loop from a
// hit to an edit with the revision the search gave, several searches of the
// root in one session, and argument faults as tool errors.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "session.h"

namespace tuvel::mcp {
namespace {

using nlohmann::json;
using testing::call_request;
using testing::error_payload;
using testing::session;
using testing::tool_answer;
using tuvel::testing::digest;
using tuvel::testing::TempDir;

std::vector<std::string> lines_of(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (std::size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(out.substr(at, end - at));
  return lines;
}

TEST(McpSearch, AnswersAndRepeatedSearchesOfTheRoot) {
  TempDir dir;
  dir.write("src/a.cc", "int x;\n// TODO one\n");
  dir.write("src/b.h", "// TODO two\n");
  dir.write("notes.md", "nothing\n");
  const std::string files = R"({"pattern":"TODO","output":"files"})";
  const auto run = session(dir.path(), {call_request(1, "search", files), call_request(2, "search", files),
                                        call_request(3, "find", R"({"pattern":"*.h"})"),
                                        call_request(4, "find", R"({"pattern":"src/**","max_results":1})")});
  const std::string counted = R"({"files":[{"count":1,"path":"src/a.cc","revision":")" +
                              digest("int x;\n// TODO one\n") + R"("},{"count":1,"path":"src/b.h","revision":")" +
                              digest("// TODO two\n") +
                              R"("}],"next":null,"searched":3,"skipped":{"binary":0,"too_large":0,"unreadable":0},"truncated":false})";
  EXPECT_EQ(run.out, tool_answer(1, counted) + "\n" + tool_answer(2, counted) + "\n" +
                         tool_answer(3, R"({"files":[{"path":"src/b.h","size":12}],"next":null,"truncated":false})") +
                         "\n" +
                         tool_answer(4, R"({"files":[{"path":"src/a.cc","size":19}],"next":"src/a.cc","truncated":true})") +
                         "\n");
}

TEST(McpSearch, TheRootIsListedAgainInOneSession) {
  TempDir dir;
  dir.write("a.txt", "a\n");
  const std::string listed = R"({"entries":[{"kind":"file","name":"a.txt","size":2}],"next":null,"path":".","truncated":false})";
  const auto run = session(dir.path(), {call_request(1, "list", "{}"), call_request(2, "list", "{}")});
  EXPECT_EQ(run.out, tool_answer(1, listed) + "\n" + tool_answer(2, listed) + "\n");
}

TEST(McpSearch, FromAHitToAnEditAndAStaleRevision) {
  TempDir dir;
  dir.write("lib/util.c", "int a;\nint old_name(void);\nint b;\n");
  auto run = session(dir.path(), {call_request(1, "search", R"({"pattern":"old_name"})")});
  const json found = json::parse(lines_of(run.out).at(0))["result"]["structuredContent"]["files"][0];
  const std::string revision = found["revision"];
  const std::uint64_t line = found["matches"][0]["line"];
  EXPECT_EQ(line, 2U);
  const std::string edit = R"({"path":"lib/util.c","revision":")" + revision + R"(","edits":[{"kind":"lines","start":)" +
                           std::to_string(line) + ",\"end\":" + std::to_string(line + 1) +
                           R"(,"text":"int new_name(void);\n"}]})";
  run = session(dir.path(), {call_request(2, "apply", edit)});
  EXPECT_EQ(json::parse(lines_of(run.out).at(0))["result"]["isError"], false) << run.out;
  EXPECT_EQ(dir.read("lib/util.c"), "int a;\nint new_name(void);\nint b;\n");
  // The same edit against the revision the search gave is now stale.
  run = session(dir.path(), {call_request(3, "apply", edit)});
  const json stale = json::parse(lines_of(run.out).at(0))["result"];
  EXPECT_EQ(stale["isError"], true);
  EXPECT_EQ(stale["structuredContent"]["error"]["code"], "stale_revision");
}

TEST(McpSearch, ArgumentFaultsAreToolErrors) {
  TempDir dir;
  const struct {
    const char* tool;
    const char* arguments;
    const char* message;
  } cases[] = {
      {"search", R"({"pattern":"a","output":"lines"})",
       "unknown variant `lines`, expected `content` or `files` at line 1 column 31"},
      {"search", R"({"path":"x"})", "missing field `pattern` at line 1 column 12"},
      {"search", R"({"pattern":"a","regex":true})",
       "unknown field `regex`, expected one of `pattern`, `path`, `glob`, `case_insensitive`, `fixed_strings`, "
       "`hidden`, `no_ignore`, `context`, `output`, `max_results`, `cursor` at line 1 column 22"},
      {"search", R"({"pattern":"a("})", "pattern is not a valid regular expression: missing ): a("},
      {"find", R"({"pattern":"[a"})", "invalid glob `[a`: glob has an unclosed character class"},
      {"find", R"({"pattern":"*","max_results":0})", "max_results must be from 1 to 1000"},
  };
  for (const auto& c : cases) {
    const auto run = session(dir.path(), {call_request(1, c.tool, c.arguments)});
    EXPECT_EQ(run.out, tool_answer(1, error_payload("io_or_request", c.message), true) + "\n") << c.arguments;
  }
}

}  // namespace
}  // namespace tuvel::mcp
