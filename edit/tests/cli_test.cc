// SPDX-License-Identifier: Apache-2.0
// The command line and envelopes as callers see them: exact bytes and statuses
// of the real binary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "main/cli.h"
#include "main/response.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::RunOptions;
using testing::TempDir;
using testing::run_edit;

std::string usage_error(const std::string& message, const std::string& usage) {
  return "error: " + message + "\n\nUsage: " + usage + "\n\nFor more information, try '--help'.\n";
}

const std::string kReadUsage = "tuvel-edit read [OPTIONS] <PATHS>...";
const std::string kTopUsage = "tuvel-edit [OPTIONS] <COMMAND>";

struct ParserErrorCase {
  std::vector<std::string> args;
  std::string expected;
};

TEST(CommandLine, ParserErrorsGoToStandardErrorWithStatus2) {
  const std::vector<ParserErrorCase> cases = {
      {{"read"}, usage_error("the following required arguments were not provided:\n  <PATHS>...", kReadUsage)},
      {{"read", "a", "--start", "-1"}, usage_error("invalid value '-1' for '--start <START>': invalid digit found in string", kReadUsage)},
      {{"read", "a", "--start", "x"}, usage_error("invalid value 'x' for '--start <START>': invalid digit found in string", kReadUsage)},
      {{"read", "a", "--end=18446744073709551616"},
       usage_error("invalid value '18446744073709551616' for '--end <END>': number too large to fit in target type", kReadUsage)},
      {{"read", "a", "--start="}, usage_error("invalid value '' for '--start <START>': cannot parse integer from empty string", kReadUsage)},
      {{"read", "a", "--start", "+"}, usage_error("invalid value '+' for '--start <START>': invalid digit found in string", kReadUsage)},
      {{"read", "a", "--start", "1", "--start", "2"}, usage_error("the argument '--start <START>' cannot be used multiple times", kReadUsage)},
      {{"read", "a", "--start"}, usage_error("a value is required for '--start <START>' but none was supplied", kReadUsage)},
      {{"read", "a", "--bogus"}, usage_error("unexpected argument '--bogus' found", kReadUsage)},
      {{"read", "a", "--preview"}, usage_error("unexpected argument '--preview' found", kReadUsage)},
      {{"--repo", "x", "--repo", "y", "read", "a"}, usage_error("the argument '--repo <REPO>' cannot be used multiple times", kTopUsage)},
      {{"write"}, usage_error("unrecognized subcommand 'write'", kTopUsage)},
      {{"--repo", "x"}, usage_error("'tuvel-edit' requires a subcommand but one was not provided\n  [subcommands: read, apply, batch, help]", kTopUsage)},
      {{"apply", "extra"}, usage_error("unexpected argument 'extra' found", "tuvel-edit apply [OPTIONS]")},
      {{"apply", "--preview=yes"}, usage_error("unexpected value 'yes' for '--preview' found; no more were expected", "tuvel-edit apply [OPTIONS]")},
      {{"apply", "--preview", "--preview"}, usage_error("the argument '--preview' cannot be used multiple times", "tuvel-edit apply [OPTIONS]")},
      {{"batch", "-V"}, usage_error("unexpected argument '-V' found", "tuvel-edit batch [OPTIONS]")},
      {{"read", "a\xff"}, usage_error("invalid UTF-8 was detected in one or more arguments", kReadUsage)},
      {{"help", "nope"}, usage_error("unrecognized subcommand 'nope'", kTopUsage)},
  };
  for (const auto& c : cases) {
    const auto r = run_edit(c.args, RunOptions{.unset_env = {"CLICOLOR_FORCE", "NO_COLOR", "CLICOLOR"}});
    SCOPED_TRACE(c.args.back());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.expected);
  }
}

TEST(CommandLine, UsageNamesTheProgramAsStarted) {
  const auto r = run_edit({"read"}, RunOptions{.unset_env = {"CLICOLOR_FORCE"}, .argv0 = "/some/where/my-editor"});
  EXPECT_EQ(r.err, usage_error("the following required arguments were not provided:\n  <PATHS>...", "my-editor read [OPTIONS] <PATHS>..."));
}

TEST(CommandLine, HelpVersionAndNoArguments) {
  const auto version = run_edit({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tuvel-edit 0.1.0\n");
  EXPECT_EQ(run_edit({"--version"}).out, "tuvel-edit 0.1.0\n");

  const auto help = run_edit({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_NE(help.out.find("Bounded source reads and revision-checked edits for agents"), std::string::npos);
  EXPECT_EQ(run_edit({"help"}).out, help.out);
  EXPECT_EQ(run_edit({"help", "--help"}).out, help.out);
  EXPECT_EQ(run_edit({"-h"}).out, help.out);

  const auto none = run_edit({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, help.out);

  for (const std::string command : {"read", "apply", "batch"}) {
    const auto sub = run_edit({command, "--help"});
    EXPECT_EQ(sub.status, 0);
    EXPECT_EQ(sub.out, run_edit({"help", command}).out);
    EXPECT_NE(sub.out.find("Usage: tuvel-edit " + command + " [OPTIONS]"), std::string::npos);
  }
  EXPECT_NE(run_edit({"read", "--help"}).out.find("Exclusive ending line; omitted reads at most 200 lines per file"), std::string::npos);
  // Help comes before the missing paths are noticed; after "--" it is a path.
  EXPECT_EQ(run_edit({"read", "-h"}).status, 0);
}

// Options and arguments without a help text of their own show only their
// default; every byte of each help is fixed.
TEST(CommandLine, HelpTextsExactly) {
  const std::string top =
      "Bounded source reads and revision-checked edits for agents\n"
      "\n"
      "Usage: tuvel-edit [OPTIONS] <COMMAND>\n"
      "\n"
      "Commands:\n"
      "  read   Read up to 32 files as bounded JSON, including BLAKE3 revisions\n"
      "  apply  Apply one JSON edit request from stdin, or validate and preview it\n"
      "  batch  Serve JSON-lines read/preview/apply requests. Never caches source bytes\n"
      "  help   Print this message or the help of the given subcommand(s)\n"
      "\n"
      "Options:\n"
      "      --repo <REPO>  [default: .]\n"
      "  -h, --help         Print help\n"
      "  -V, --version      Print version\n";
  const std::string read =
      "Read up to 32 files as bounded JSON, including BLAKE3 revisions\n"
      "\n"
      "Usage: tuvel-edit read [OPTIONS] <PATHS>...\n"
      "\n"
      "Arguments:\n"
      "  <PATHS>...\n"
      "\n"
      "Options:\n"
      "      --start <START>  [default: 1]\n"
      "      --end <END>      Exclusive ending line; omitted reads at most 200 lines per file\n"
      "      --repo <REPO>    [default: .]\n"
      "  -h, --help           Print help\n";
  const std::string apply =
      "Apply one JSON edit request from stdin, or validate and preview it\n"
      "\n"
      "Usage: tuvel-edit apply [OPTIONS]\n"
      "\n"
      "Options:\n"
      "      --preview\n"
      "      --repo <REPO>  [default: .]\n"
      "  -h, --help         Print help\n";
  const std::string batch =
      "Serve JSON-lines read/preview/apply requests. Never caches source bytes\n"
      "\n"
      "Usage: tuvel-edit batch [OPTIONS]\n"
      "\n"
      "Options:\n"
      "      --repo <REPO>  [default: .]\n"
      "  -h, --help         Print help\n";
  const struct {
    std::vector<std::string> args;
    const std::string& expected;
  } cases[] = {
      {{"--help"}, top}, {{"help"}, top}, {{"read", "--help"}, read}, {{"help", "read"}, read},
      {{"apply", "-h"}, apply}, {{"help", "apply"}, apply}, {{"batch", "--help"}, batch}, {{"help", "batch"}, batch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto r = run_edit(c.args, RunOptions{.unset_env = {"CLICOLOR_FORCE", "NO_COLOR", "CLICOLOR"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.expected);
  }
}

TEST(CommandLine, ColourFollowsTheEnvironment) {
  const std::string plain = run_edit({"read"}, RunOptions{.unset_env = {"CLICOLOR_FORCE", "NO_COLOR"}}).err;
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  const auto forced = run_edit({"read"}, RunOptions{.env = {{"CLICOLOR_FORCE", "1"}}, .unset_env = {"NO_COLOR"}});
  EXPECT_NE(forced.err.find("\x1b["), std::string::npos);
  EXPECT_EQ(forced.status, 2);
  const auto no_color = run_edit({"read"}, RunOptions{.env = {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", "1"}}});
  EXPECT_EQ(no_color.err, plain);
  const auto empty_no_color = run_edit({"read"}, RunOptions{.env = {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", ""}}});
  EXPECT_NE(empty_no_color.err.find("\x1b["), std::string::npos);
  const auto force_zero = run_edit({"read"}, RunOptions{.env = {{"CLICOLOR_FORCE", "0"}}, .unset_env = {"NO_COLOR"}});
  EXPECT_EQ(force_zero.err, plain);
}

TEST(CommandLine, ParsedRequestShape) {
  auto parse = [](std::vector<std::string> args) {
    args.insert(args.begin(), "tuvel-edit");
    return parse_cli(args, {});
  };
  auto a = parse({"read", "x.md", "--start", "5", "y.md", "--end=9", "--repo", "/r"});
  ASSERT_TRUE(std::holds_alternative<Cli>(a));
  const Cli& cli = std::get<Cli>(a);
  EXPECT_EQ(cli.paths, (std::vector<std::string>{"x.md", "y.md"}));
  EXPECT_EQ(cli.start, 5u);
  EXPECT_EQ(cli.end, 9u);
  EXPECT_EQ(cli.repo, "/r");

  auto b = parse({"--repo", "/r", "read", "x.md"});
  ASSERT_TRUE(std::holds_alternative<Cli>(b));
  EXPECT_EQ(std::get<Cli>(b).repo, "/r");
  EXPECT_EQ(std::get<Cli>(b).start, 1u);
  EXPECT_FALSE(std::get<Cli>(b).end.has_value());

  auto c = parse({"read", "--start", "+7", "--", "--end", "-h"});
  ASSERT_TRUE(std::holds_alternative<Cli>(c));
  EXPECT_EQ(std::get<Cli>(c).start, 7u);
  EXPECT_EQ(std::get<Cli>(c).paths, (std::vector<std::string>{"--end", "-h"}));

  auto d = parse({"read", "a", "--start", "0", "--end", "18446744073709551615"});
  ASSERT_TRUE(std::holds_alternative<Cli>(d));
  EXPECT_EQ(std::get<Cli>(d).start, 0u);
  EXPECT_EQ(std::get<Cli>(d).end, UINT64_MAX);

  auto e = parse({"apply", "--preview", "--repo=/q"});
  ASSERT_TRUE(std::holds_alternative<Cli>(e));
  EXPECT_TRUE(std::get<Cli>(e).preview);
  EXPECT_EQ(std::get<Cli>(e).repo, "/q");
  EXPECT_EQ(std::get<Cli>(e).command, Command::Apply);
}

TEST(Envelope, KeysSortedAndStringsEscapedExactly) {
  const Json failure = failure_envelope(Error::plain("tab\there\nquote\" \x1f \xc3\xa9 \x7f /"));
  EXPECT_EQ(to_json(failure),
            "{\"error\":{\"code\":\"io_or_request\",\"message\":\"tab\\there\\nquote\\\" \\u001f \xc3\xa9 \x7f /\"},"
            "\"ok\":false,\"version\":1}");
  EXPECT_EQ(to_json(failure_envelope(Error::edit(EditCode::Busy, "b"))),
            "{\"error\":{\"code\":\"busy\",\"message\":\"b\"},\"ok\":false,\"version\":1}");
  EXPECT_EQ(to_json(Json(JsonObject{{"z", 1}, {"a", JsonArray{true, nullptr, std::uint64_t{18446744073709551615u}}}, {"\xc3\xa9", -3}})),
            "{\"a\":[true,null,18446744073709551615],\"z\":1,\"\xc3\xa9\":-3}");
  EXPECT_EQ(to_json(Json(std::string("\b\f\r\x1b\x00", 5))), "\"\\b\\f\\r\\u001b\\u0000\"");
  EXPECT_EQ(Error::with_cause("source is not UTF-8", "incomplete utf-8 byte sequence from index 3").render(),
            "source is not UTF-8: incomplete utf-8 byte sequence from index 3");
}

TEST(Envelope, FailedReadAnswersOnStandardOutputWithStatus2) {
  TempDir dir;
  const auto r = run_edit({"--repo", dir / "missing", "read", "a.md"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "{\"error\":{\"code\":\"io_or_request\",\"message\":\"No such file or directory (os error 2)\"},\"ok\":false,\"version\":1}\n");
}

TEST(Envelope, BrokenPipeIsSilentForShortAnswersAndReportedForLongOnes) {
  TempDir dir;
  dir.write("long.txt", std::string(3000, 'x') + "\n");
  const auto short_answer = run_edit({"--repo", dir / "missing", "read", "a"}, RunOptions{.stdout_reader_closed = true});
  EXPECT_EQ(short_answer.status, 0);
  EXPECT_EQ(short_answer.err, "");
  const auto long_answer = run_edit({"--repo", dir.path(), "read", "long.txt"}, RunOptions{.stdout_reader_closed = true});
  EXPECT_EQ(long_answer.status, 2);
  EXPECT_EQ(long_answer.err, "{\"error\":{\"code\":\"io_or_request\",\"message\":\"Broken pipe (os error 32)\"},\"ok\":false,\"version\":1}\n");
}

TEST(Envelope, ClosedStandardDescriptorsAreReopened) {
  TempDir dir;
  // With stdin closed a batch sees end of input at once.
  const auto batch = run_edit({"--repo", dir.path(), "batch"}, RunOptions{.close_stdin = true});
  EXPECT_EQ(batch.status, 0);
  EXPECT_EQ(batch.out, "");
  EXPECT_EQ(batch.err, "");
}

}  // namespace
}  // namespace tuvel
