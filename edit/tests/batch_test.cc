// SPDX-License-Identifier: Apache-2.0
// The batch server through the real binary: lock-step use, line limits,
// CRLF, blank lines, failures that do not stop the loop, closed readers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "protocol/request.h"
#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::Child;
using testing::RunOptions;
using testing::TempDir;
using testing::failure_envelope;
using testing::run_edit;

std::string read_line_request(const std::string& path) {
  return R"({"op":"read","request":{"files":[{"path":")" + path + R"("}]}})";
}

std::string replace_request(const std::string& op, const std::string& path, const std::string& rev,
                            const std::string& old_text, const std::string& new_text) {
  return R"({"op":")" + op + R"(","request":{"path":")" + path + R"(","revision":")" + rev +
         R"(","edits":[{"kind":"replace","old":")" + old_text + R"(","new":")" + new_text + R"(","count":1}]}})";
}

std::string ok_read(const std::string& path, const std::string& content, std::uint64_t lines) {
  return R"({"data":{"files":[{"end":)" + std::to_string(lines + 1) + R"(,"path":")" + path + R"(","revision":")" +
         revision(content) + R"(","start":1,"text":")" + content + R"(","total_lines":)" + std::to_string(lines) +
         R"(,"truncated":false}]},"ok":true,"version":1})";
}

TEST(Batch, LockStepAnswersEachLineBeforeTheNextIsSent) {
  TempDir dir;
  dir.write("a.txt", "one");
  Child batch(testing::edit_binary(), {"--repo", dir.path(), "batch"});
  batch.write(read_line_request("a.txt") + "\n");
  EXPECT_EQ(batch.read_line(), ok_read("a.txt", "one", 1));

  // The next line sees what the previous one changed: nothing is cached.
  batch.write(replace_request("apply", "a.txt", revision("one"), "one", "two") + "\n");
  const auto applied = batch.read_line();
  ASSERT_TRUE(applied);
  EXPECT_NE(applied->find(R"("applied":true)"), std::string::npos) << *applied;
  batch.write(read_line_request("a.txt") + "\r\n");
  EXPECT_EQ(batch.read_line(), ok_read("a.txt", "two", 1));

  // A stale revision is answered and the loop goes on.
  batch.write(replace_request("apply", "a.txt", revision("one"), "two", "three") + "\n");
  EXPECT_EQ(batch.read_line(), failure_envelope("source changed; current revision is " + revision("two") +
                                       "; read the affected range and retry", "stale_revision"));
  batch.write("\n");
  EXPECT_EQ(batch.read_line(), failure_envelope("EOF while parsing a value at line 2 column 0"));
  batch.write("   \n");
  EXPECT_EQ(batch.read_line(), failure_envelope("EOF while parsing a value at line 2 column 0"));
  // The last line needs no line feed.
  batch.write(read_line_request("a.txt"));
  batch.close_stdin();
  EXPECT_EQ(batch.read_line(), ok_read("a.txt", "two", 1));
  EXPECT_EQ(batch.read_line(), std::nullopt);
  EXPECT_EQ(batch.wait(), 0);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
}

TEST(Batch, LineLimitCountsTheLineFeedAndOverlongLinesAreSkipped) {
  TempDir dir;
  dir.write("a.txt", "x");
  const std::string request = read_line_request("a.txt");
  // Padding with spaces keeps the line valid JSON at any length.
  const std::string at_limit = request + std::string(MAX_REQUEST_BYTES - request.size() - 1, ' ') + "\n";
  ASSERT_EQ(at_limit.size(), MAX_REQUEST_BYTES);
  const std::string over_limit = request + std::string(MAX_REQUEST_BYTES - request.size(), ' ') + "\n";
  const std::string crlf_over = request + std::string(MAX_REQUEST_BYTES - request.size() - 1, ' ') + "\r\n";
  const std::string huge = std::string(5 * MAX_REQUEST_BYTES, 'y') + "\n";
  const std::string last_over = std::string(MAX_REQUEST_BYTES + 1, 'z');

  const auto r = run_edit({"--repo", dir.path(), "batch"},
                          RunOptions{.input = at_limit + over_limit + crlf_over + huge + request + "\n" + last_over});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string exceeds = failure_envelope("request exceeds 2 MiB") + "\n";
  EXPECT_EQ(r.out, ok_read("a.txt", "x", 1) + "\n" + exceeds + exceeds + exceeds + ok_read("a.txt", "x", 1) + "\n" + exceeds);
}

// Staging names count up for the whole process: after one apply, leftovers
// for the next 32 numbers block the second apply, which a counter restarted
// per request would not notice.
TEST(Batch, StagingNamesKeepCountingAcrossRequests) {
  TempDir dir;
  dir.write("a.txt", "one");
  Child batch(testing::edit_binary(), {"--repo", dir.path(), "batch"});
  const std::string prefix = dir / (".tuvel-edit-" + std::to_string(batch.pid()) + "-");
  for (int n = 0; n < 31; ++n) ASSERT_EQ(::mkdir((prefix + std::to_string(n)).c_str(), 0700), 0);
  batch.write(replace_request("apply", "a.txt", revision("one"), "one", "two") + "\n");
  const auto first = batch.read_line();
  ASSERT_TRUE(first);
  EXPECT_NE(first->find(R"("applied":true)"), std::string::npos) << *first;
  for (int n = 32; n < 64; ++n) ASSERT_EQ(::mkdir((prefix + std::to_string(n)).c_str(), 0700), 0);
  batch.write(replace_request("apply", "a.txt", revision("two"), "two", "three") + "\n");
  EXPECT_EQ(batch.read_line(), failure_envelope("could not reserve a staging file"));
  EXPECT_EQ(batch.wait(), 0);
  EXPECT_EQ(dir.read("a.txt"), "two");
}

// Another process's staging file may be half written: it is never read,
// previewed or replaced; a name that only starts like one is a plain file.
TEST(Batch, StagingFilesAreNeverReadOrEdited) {
  TempDir dir;
  dir.write("d/.tuvel-edit-4242-7", "half");
  dir.write(".tuvel-edit-notes.md", "mine");
  const std::string staging = "d/.tuvel-edit-4242-7";
  const auto r = run_edit({"--repo", dir.path(), "batch"},
                          RunOptions{.input = read_line_request(staging) + "\n" +
                                              replace_request("preview", staging, revision("half"), "half", "x") + "\n" +
                                              replace_request("apply", staging, revision("half"), "half", "x") + "\n" +
                                              read_line_request(".tuvel-edit-notes.md") + "\n"});
  const std::string refused = failure_envelope("path names a staging file") + "\n";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, refused + refused + refused + ok_read(".tuvel-edit-notes.md", "mine", 1) + "\n");
  EXPECT_EQ(dir.read(staging), "half");
}

TEST(Batch, EmptyInputAnswersNothing) {
  TempDir dir;
  const auto r = run_edit({"--repo", dir.path(), "batch"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(Batch, EveryFailureIsAnsweredAndTheStatusStaysZero) {
  TempDir dir;
  const auto r = run_edit({"--repo", dir.path(), "batch"},
                          RunOptions{.input = "{\"op\":\"read\"}\n" + read_line_request("missing") + "\nnot json\n\xff\n"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, failure_envelope("missing field `request` at line 1 column 13") + "\n" +
                       failure_envelope("No such file or directory (os error 2)") + "\n" +
                       failure_envelope("expected ident at line 1 column 2") + "\n" +
                       failure_envelope("expected value at line 1 column 1") + "\n");
}

TEST(Batch, ClosedReaderIsSilentForShortAnswersAndReportedForLongOnes) {
  TempDir dir;
  dir.write("long.txt", std::string(3000, 'x'));
  const auto short_answer = run_edit({"--repo", dir.path(), "batch"},
                                     RunOptions{.input = "{}\n{}\n", .stdout_reader_closed = true});
  EXPECT_EQ(short_answer.status, 0);
  EXPECT_EQ(short_answer.err, "");
  const auto long_answer = run_edit({"--repo", dir.path(), "batch"},
                                    RunOptions{.input = read_line_request("long.txt") + "\n", .stdout_reader_closed = true});
  EXPECT_EQ(long_answer.status, 2);
  EXPECT_EQ(long_answer.err, failure_envelope("Broken pipe (os error 32)") + "\n");
}

}  // namespace
}  // namespace tuvel
