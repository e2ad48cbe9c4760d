// SPDX-License-Identifier: Apache-2.0
// Publication failures a real file system will not produce on demand, injected
// into the real `tuvel-edit apply` with the LD_PRELOAD fault library.
#include <sys/xattr.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;
using testing::failure_line;

const std::string kOld = "alpha\nbeta\ngamma\n";
const std::string kNew = "alpha\nBETA\ngamma\n";

std::string apply_request() {
  return R"({"path":"a.txt","revision":")" + revision(kOld) +
         R"(","edits":[{"kind":"replace","old":"beta","new":"BETA","count":1}]})";
}

testing::Run run_with_fault(const std::vector<std::string>& args, const std::string& input, const std::string& fault) {
  testing::RunOptions options;
  options.input = input;
  options.env = {{"LD_PRELOAD", TUVEL_FAULT_LIB}, {"TUVEL_FAULT", fault}};
  // A sanitizer build wants its runtime first; the fault library only wraps calls.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
  return testing::run_edit(args, options);
}

testing::Run apply_with_fault(const TempDir& dir, const std::string& fault) {
  return run_with_fault({"--repo", dir.path(), "apply"}, apply_request(), fault);
}

bool takes_xattrs(const std::string& path) {
  if (::setxattr(path.c_str(), "user.tuvel-probe", "1", 1, 0) != 0) return false;
  ::removexattr(path.c_str(), "user.tuvel-probe");
  return true;
}

// Every failure before the rename: the documented message, status 2, the
// source byte for byte as it was, no staging file.
TEST(PublishFault, FailuresBeforeTheRenameLeaveTheSourceAlone) {
  struct Case {
    std::string fault;
    std::string message;
  };
  const Case cases[] = {
      {"openat_staging:EACCES", "Permission denied (os error 13)"},
      {"write:ENOSPC", "No space left on device (os error 28)"},
      {"write:EIO", "Input/output error (os error 5)"},
      {"write_zero", "failed to write whole buffer"},
      {"fchmod:EPERM", "Operation not permitted (os error 1)"},
      {"fsync:EIO", "Input/output error (os error 5)"},
      {"fsync:ENOSPC", "No space left on device (os error 28)"},
      {"renameat:EXDEV", "Invalid cross-device link (os error 18)"},
      {"renameat:EIO", "Input/output error (os error 5)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    TempDir dir;
    dir.write("a.txt", kOld);
    auto run = apply_with_fault(dir, c.fault);
    EXPECT_EQ(run.out, failure_line(c.message));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.read("a.txt"), kOld);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
  }
}

TEST(PublishFault, AttributeCopyFailureLeavesTheSourceAlone) {
  TempDir dir;
  dir.write("a.txt", kOld);
  if (!takes_xattrs(dir / "a.txt")) GTEST_SKIP() << "file system refuses extended attributes";
  ASSERT_EQ(::setxattr((dir / "a.txt").c_str(), "user.note", "x", 1, 0), 0);
  auto run = apply_with_fault(dir, "fsetxattr:ENOTSUP");
  EXPECT_EQ(run.out, failure_line("Operation not supported (os error 95)"));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(dir.read("a.txt"), kOld);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
}

// Interrupted and partial calls are resumed; a file system without extended
// attributes is fine for a source that has none; a refused directory flush
// publishes anyway and says so.
TEST(PublishFault, ConditionsThatStillPublish) {
  struct Case {
    std::string fault;
    std::string warning;  // JSON value of "durability_warning"
  };
  const Case cases[] = {
      {"", "null"},
      {"write_short", "null"},
      {"eintr_all", "null"},
      {"write_short,eintr_all", "null"},
      {"flistxattr:ENOTSUP", "null"},
      {"fsync_dir:EIO", R"j("Input/output error (os error 5)")j"},
      {"fsync_dir:EINVAL", R"j("Invalid argument (os error 22)")j"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    TempDir dir;
    dir.write("a.txt", kOld, 0640);
    auto run = apply_with_fault(dir, c.fault);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(R"("applied":true)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"("durability_warning":)" + c.warning), std::string::npos) << run.out;
    EXPECT_EQ(dir.read("a.txt"), kNew);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
  }
}

// Interrupted reads of sources and of apply's input are resumed, so every
// answer is as without interruptions; batch's read of its input is made once
// and not retried, so an interrupted one ends the run with the fatal report.
TEST(PublishFault, InterruptedReadsAndWrites) {
  TempDir dir;
  dir.write("a.txt", kOld);
  const auto plain_read = testing::run_edit({"--repo", dir.path(), "read", "a.txt", "a.txt"});
  const auto interrupted_read = run_with_fault({"--repo", dir.path(), "read", "a.txt", "a.txt"}, "", "eintr_all");
  EXPECT_EQ(interrupted_read.status, 0);
  EXPECT_EQ(interrupted_read.out, plain_read.out);

  const auto preview = run_with_fault({"--repo", dir.path(), "apply", "--preview"}, apply_request(), "eintr_all");
  EXPECT_EQ(preview.status, 0) << preview.out;
  EXPECT_NE(preview.out.find(R"("changed":true)"), std::string::npos) << preview.out;

  const auto batch = run_with_fault({"--repo", dir.path(), "batch"}, "{}\n", "eintr_all");
  EXPECT_EQ(batch.status, 2);
  EXPECT_EQ(batch.out, "");
  EXPECT_EQ(batch.err, failure_line("Interrupted system call (os error 4)"));
  EXPECT_EQ(dir.read("a.txt"), kOld);
}

}  // namespace
}  // namespace tuvel
