// SPDX-License-Identifier: Apache-2.0
// The command line of tuvel-mcp as callers see it: exact bytes and statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session.h"

namespace tuvel::mcp {
namespace {

using tuvel::testing::RunOptions;
using tuvel::testing::TempDir;

const std::vector<std::string> kNoColour = {"CLICOLOR_FORCE", "NO_COLOR", "CLICOLOR"};

std::string usage_error(const std::string& message) {
  return "error: " + message + "\n\nUsage: tuvel-mcp [OPTIONS]\n\nFor more information, try '--help'.\n";
}

const std::string kHelp =
    "Serve tuvel-edit's reads and revision-checked edits to MCP clients over stdio\n"
    "\n"
    "Usage: tuvel-mcp [OPTIONS]\n"
    "\n"
    "Options:\n"
    "      --repo <REPO>  Repository directory [default: .]\n"
    "  -h, --help         Print help\n"
    "  -V, --version      Print version\n"
    "\n"
    "Speaks the Model Context Protocol on stdin and stdout: JSON-RPC 2.0, one\n"
    "message per line, until stdin ends (exit status 0). Tools: read, preview,\n"
    "apply, create, list.\n";

TEST(McpCommandLine, HelpAndVersionGoToStandardOutputWithStatus0) {
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--help"}, kHelp},
      {{"-h"}, kHelp},
      {{"--repo", "x", "-h"}, kHelp},
      {{"-V"}, "tuvel-mcp 0.1.0\n"},
      {{"--version"}, "tuvel-mcp 0.1.0\n"},
  };
  for (const auto& c : cases) {
    const auto r = tuvel::testing::run(testing::mcp_binary(), c.args, RunOptions{.unset_env = kNoColour});
    EXPECT_EQ(r.status, 0) << c.args.back();
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST(McpCommandLine, ParserErrorsGoToStandardErrorWithStatus2) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"serve"}, usage_error("unexpected argument 'serve' found")},
      {{"--bogus"}, usage_error("unexpected argument '--bogus' found")},
      {{"--"}, usage_error("unexpected argument '--' found")},
      {{"--repo"}, usage_error("a value is required for '--repo <REPO>' but none was supplied")},
      {{"--repo", "a", "--repo=b"}, usage_error("the argument '--repo <REPO>' cannot be used multiple times")},
      {{"x\xff"}, usage_error("invalid UTF-8 was detected in one or more arguments")},
  };
  for (const auto& c : cases) {
    const auto r = tuvel::testing::run(testing::mcp_binary(), c.args, RunOptions{.unset_env = kNoColour});
    EXPECT_EQ(r.status, 2) << c.args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(McpCommandLine, ColourFollowsTheEnvironmentAndTheProgramName) {
  const auto forced = tuvel::testing::run(testing::mcp_binary(), {"--bogus"},
                                          RunOptions{.env = {{"CLICOLOR_FORCE", "1"}}, .unset_env = {"NO_COLOR"}});
  EXPECT_EQ(forced.err,
            "\x1b[1m\x1b[31merror:\x1b[0m unexpected argument '\x1b[33m--bogus\x1b[0m' found\n\n"
            "\x1b[1m\x1b[4mUsage:\x1b[0m \x1b[1mtuvel-mcp\x1b[0m [OPTIONS]\n\n"
            "For more information, try '\x1b[1m--help\x1b[0m'.\n");
  const auto never = tuvel::testing::run(testing::mcp_binary(), {"--bogus"},
                                         RunOptions{.env = {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", "1"}}});
  EXPECT_EQ(never.err, usage_error("unexpected argument '--bogus' found"));
  const auto renamed = tuvel::testing::run(testing::mcp_binary(), {"--bogus"},
                                           RunOptions{.unset_env = kNoColour, .argv0 = "/opt/bin/mcp-edit"});
  EXPECT_EQ(renamed.err, "error: unexpected argument '--bogus' found\n\nUsage: mcp-edit [OPTIONS]\n\n"
                         "For more information, try '--help'.\n");
}

TEST(McpCommandLine, RepoTakesItsValueEitherWayAndServesThatDirectory) {
  TempDir dir;
  dir.write("a.txt", "x");
  const std::string list = testing::call_request(1, "list", "{}");
  const std::string listed = testing::tool_answer(1, R"({"entries":[{"kind":"file","name":"a.txt","size":1}],"next":null,"path":".","truncated":false})");
  for (const auto& args : std::vector<std::vector<std::string>>{{"--repo", dir.path()}, {"--repo=" + dir.path()}}) {
    const auto r = testing::run_mcp(args, testing::initialize_request("2025-11-25") + "\n" + list + "\n");
    EXPECT_EQ(r.out, testing::initialize_answer("2025-11-25") + "\n" + listed + "\n");
    EXPECT_EQ(r.status, 0);
  }
  // The default is the working directory.
  const auto here = tuvel::testing::run(
      testing::mcp_binary(), {},
      RunOptions{.input = testing::initialize_request("2025-11-25") + "\n" + list + "\n", .cwd = dir.path()});
  EXPECT_EQ(here.out, testing::initialize_answer("2025-11-25") + "\n" + listed + "\n");
}

TEST(McpCommandLine, ARepositoryThatCannotBeOpenedEndsTheProgramAtStartUp) {
  TempDir dir;
  dir.write("file", "x");
  const struct {
    std::string repo;
    std::string err;
  } cases[] = {
      {dir / "missing", "cannot open repository '" + dir / "missing" + "': No such file or directory (os error 2)"},
      {dir / "file", "cannot open repository '" + dir / "file" + "': repo must be a directory"},
      {dir / "new\nline", "cannot open repository '" + dir / "new\\x0aline" + "': No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) {
    const auto r = testing::run_mcp({"--repo", c.repo}, testing::initialize_request("2025-11-25") + "\n");
    EXPECT_EQ(r.status, 2) << c.repo;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tuvel-mcp: " + c.err + "\n");
  }
}

}  // namespace
}  // namespace tuvel::mcp
