// SPDX-License-Identifier: Apache-2.0
// Publication on real files: what the replacement carries over, what every
// refusal leaves behind, and how writers that ignore the lock are caught.
#include "publish/publish.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "publish/staging.h"
#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

constexpr uid_t kOtherUid = 1234;
constexpr gid_t kOtherGid = 2345;

/// An edit-mode (or read-mode) source with its snapshot, as run_edit holds it.
struct Opened {
  Repo repo;
  Source source;
  std::string snapshot;
};

Opened open(const TempDir& dir, const std::string& rel, bool for_edit = true) {
  auto repo = open_repo(dir.path());
  if (!repo) throw std::runtime_error("open_repo: " + repo.error().render());
  auto source = open_source(*repo, rel, for_edit);
  if (!source) throw std::runtime_error("open_source: " + source.error().render());
  auto snapshot = read_snapshot(*source);
  if (!snapshot) throw std::runtime_error("read_snapshot: " + snapshot.error().render());
  return {std::move(*repo), std::move(*source), std::move(*snapshot)};
}

std::vector<std::string> leftovers(const TempDir& dir, const std::string& rel = "") {
  std::vector<std::string> found;
  for (const auto& name : dir.list(rel))
    if (name.rfind(".tuvel-edit-", 0) == 0) found.push_back(name);
  return found;
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat " + path);
  return st;
}

std::map<std::string, std::string> xattrs_of(const std::string& path) {
  std::map<std::string, std::string> out;
  char names[4096];
  ssize_t n = ::listxattr(path.c_str(), names, sizeof names);
  if (n < 0) throw std::runtime_error("listxattr " + path);
  for (ssize_t at = 0; at < n;) {
    std::string name = names + at;
    at += static_cast<ssize_t>(name.size()) + 1;
    char value[4096];
    ssize_t len = ::getxattr(path.c_str(), name.c_str(), value, sizeof value);
    if (len < 0) throw std::runtime_error("getxattr " + name);
    out[name] = std::string(value, static_cast<std::size_t>(len));
  }
  return out;
}

/// Rewrites the file behind `path` without replacing it, as a careless
/// writer would.
void overwrite_in_place(const std::string& path, const std::string& content) {
  int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open " + path);
  ssize_t n = ::write(fd, content.data(), content.size());
  ::close(fd);
  if (n != static_cast<ssize_t>(content.size())) throw std::runtime_error("write " + path);
}

/// Whether the file system under `path` takes user extended attributes.
bool takes_xattrs(const std::string& path) {
  if (::setxattr(path.c_str(), "user.tuvel-probe", "1", 1, 0) != 0) return false;
  ::removexattr(path.c_str(), "user.tuvel-probe");
  return true;
}

TEST(Publish, ReplacesWithNewInodeKeepingModeOwnerGroupAclAndXattrs) {
  TempDir dir;
  dir.write("src/a.txt", "one\ntwo\n", 0640);
  const std::string path = dir / "src/a.txt";
  if (!takes_xattrs(path)) GTEST_SKIP() << "file system refuses extended attributes";
  ASSERT_EQ(::setxattr(path.c_str(), "user.note", "kept", 4, 0), 0);
  ASSERT_EQ(::setxattr(path.c_str(), "user.empty", "", 0, 0), 0);
  ASSERT_EQ(testing::run("/usr/bin/setfacl", {"-m", "u:1234:rw,g:2345:r", path}).status, 0);
  const struct stat before = stat_of(path);
  const auto attrs_before = xattrs_of(path);
  ASSERT_EQ(attrs_before.count("system.posix_acl_access"), 1u);

  Opened o = open(dir, "src/a.txt");
  auto warning = publish(o.source, o.snapshot, "one\n2\n");
  ASSERT_TRUE(warning.ok()) << warning.error().render();
  EXPECT_EQ(*warning, std::nullopt);

  const struct stat after = stat_of(path);
  EXPECT_EQ(dir.read("src/a.txt"), "one\n2\n");
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(xattrs_of(path), attrs_before);
  EXPECT_EQ(testing::run("/usr/bin/getfacl", {"-c", path}).out,
            "user::rw-\nuser:1234:rw-\ngroup::r--\ngroup:2345:r--\nmask::rw-\nother::---\n\n");
  EXPECT_EQ(leftovers(dir, "src"), std::vector<std::string>{});
}

// The directory's default ACL would give the staging file an access ACL of
// its own; the replacement still has exactly the source's (none).
TEST(Publish, InheritedAclDoesNotWidenAccess) {
  TempDir dir;
  dir.write("src/a.txt", "one\n", 0640);
  const std::string path = dir / "src/a.txt";
  if (!takes_xattrs(path)) GTEST_SKIP() << "file system refuses extended attributes";
  ASSERT_EQ(testing::run("/usr/bin/setfacl", {"-d", "-m", "u:1234:rwx", dir / "src"}).status, 0);

  Opened o = open(dir, "src/a.txt");
  auto warning = publish(o.source, o.snapshot, "two\n");
  ASSERT_TRUE(warning.ok()) << warning.error().render();
  EXPECT_EQ(dir.read("src/a.txt"), "two\n");
  EXPECT_EQ(stat_of(path).st_mode, S_IFREG | 0640);
  EXPECT_EQ(xattrs_of(path).count("system.posix_acl_access"), 0u);
  EXPECT_EQ(testing::run("/usr/bin/getfacl", {"-c", path}).out, "user::rw-\ngroup::r--\nother::---\n\n");
}

TEST(Publish, ModesAndContentsAsWritten) {
  struct Case {
    mode_t mode;
    std::string old_text, new_text;
  };
  const Case cases[] = {
      {0640, "a\n", "b\n"},
      {0600, "a\n", ""},  // an empty result replaces the source with an empty file
      {0666, "", "new\n"},
      {0200, "x", "xy"},  // write-only still counts as writable
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.write("f", c.old_text, c.mode);
    Opened o = open(dir, "f");
    auto warning = publish(o.source, o.snapshot, c.new_text);
    ASSERT_TRUE(warning.ok()) << warning.error().render();
    EXPECT_EQ(dir.read("f"), c.new_text);
    EXPECT_EQ(stat_of(dir / "f").st_mode, S_IFREG | c.mode) << std::oct << c.mode;
    EXPECT_EQ(dir.list(), std::vector<std::string>{"f"});
  }
}

// Ownership is kept by creating the staging file as the owner: run the whole
// open-snapshot-publish as another user and group.
TEST(Publish, KeepsNonRootOwnerWhenRunAsThatOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch user";
  TempDir dir;
  dir.write("src/a.txt", "old\n", 0664);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chown((dir / "src").c_str(), kOtherUid, kOtherGid), 0);
  ASSERT_EQ(::chown((dir / "src/a.txt").c_str(), kOtherUid, kOtherGid), 0);

  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherGid) != 0 || ::setuid(kOtherUid) != 0) _exit(10);
    try {
      Opened o = open(dir, "src/a.txt");
      auto warning = publish(o.source, o.snapshot, "new\n");
      _exit(warning.ok() && !*warning ? 0 : 11);
    } catch (...) {
      _exit(12);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  const struct stat after = stat_of(dir / "src/a.txt");
  EXPECT_EQ(dir.read("src/a.txt"), "new\n");
  EXPECT_EQ(after.st_uid, kOtherUid);
  EXPECT_EQ(after.st_gid, kOtherGid);
  EXPECT_EQ(after.st_mode, S_IFREG | 0664);
  EXPECT_EQ(leftovers(dir, "src"), std::vector<std::string>{});
}

// Refusals that come before anything could be written: the source keeps its
// inode and bytes, and nothing named ".tuvel-edit-" remains.
TEST(Publish, RefusalsLeaveSourceAndDirectoryAlone) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> setup;
    bool for_edit;
    std::string message;
  };
  const Case cases[] = {
      {"read-only open", [](const TempDir&) {}, false, "publication requires a writer lock"},
      {"other owner",
       [](const TempDir& d) { ASSERT_EQ(::chown((d / "a.txt").c_str(), kOtherUid, 0), 0); },
       true, "atomic replacement would change source ownership"},
      {"other group",
       [](const TempDir& d) { ASSERT_EQ(::chown((d / "a.txt").c_str(), 0, kOtherGid), 0); },
       true, "atomic replacement would change source ownership"},
  };
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to chown";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("a.txt", "old\n", 0666);
    c.setup(dir);
    const ino_t inode = stat_of(dir / "a.txt").st_ino;
    Opened o = open(dir, "a.txt", c.for_edit);
    auto result = publish(o.source, o.snapshot, "new\n");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), "io_or_request");
    EXPECT_EQ(result.error().render(), c.message);
    EXPECT_EQ(dir.read("a.txt"), "old\n");
    EXPECT_EQ(stat_of(dir / "a.txt").st_ino, inode);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
  }
}

TEST(Publish, ThirtyTwoTakenStagingNamesGiveUp) {
  TempDir dir;
  dir.write("a.txt", "old\n");
  Opened o = open(dir, "a.txt");

  // Occupy exactly the next 32 names, among them a dangling link and a directory.
  const std::uint64_t first = staging_counter.load();
  const std::string prefix = ".tuvel-edit-" + std::to_string(::getpid()) + "-";
  std::vector<std::string> taken;
  for (std::uint64_t n = first; n < first + MAX_STAGING_ATTEMPTS; ++n) taken.push_back(prefix + std::to_string(n));
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const std::string p = dir / taken[i];
    if (i == 3) {
      ASSERT_EQ(::symlink("nowhere", p.c_str()), 0);
    } else if (i == 7) {
      ASSERT_EQ(::mkdir(p.c_str(), 0700), 0);
    } else {
      testing::write_file(p, "leftover");
    }
  }
  std::sort(taken.begin(), taken.end());

  auto result = publish(o.source, o.snapshot, "new\n");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().render(), "could not reserve a staging file");
  EXPECT_EQ(staging_counter.load(), first + MAX_STAGING_ATTEMPTS);
  EXPECT_EQ(dir.read("a.txt"), "old\n");
  EXPECT_EQ(leftovers(dir), taken);

  // The next attempt counts on past the leftovers and succeeds.
  auto again = publish(o.source, o.snapshot, "new\n");
  ASSERT_TRUE(again.ok()) << again.error().render();
  EXPECT_EQ(dir.read("a.txt"), "new\n");
  EXPECT_EQ(leftovers(dir), taken);
}

// A writer that ignores the lock changes the file between the snapshot and
// the publication. Whatever it did stays; no staging file remains.
TEST(Publish, WritersIgnoringTheLockAreCaught) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> interfere;
    std::string expected_code;
    std::string expected_message;
    std::string content_after;
  };
  const Case cases[] = {
      {"rewritten in place, size changed",
       [](const TempDir& d) { overwrite_in_place(d / "a.txt", "theirs, longer\n"); },
       "concurrent_change", "source changed during access; read and retry", "theirs, longer\n"},
      {"rewritten in place, same size",
       [](const TempDir& d) {
         int fd = ::open((d / "a.txt").c_str(), O_WRONLY | O_CLOEXEC);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::pwrite(fd, "OLD", 3, 0), 3);
         ::close(fd);
       },
       "concurrent_change", "source changed during access; read and retry", "OLD\n"},
      // Size and modification time put back: the status-change time still
      // moves, which no user process can undo.
      {"rewritten in place, size and times restored",
       [](const TempDir& d) {
         const std::string p = d / "a.txt";
         struct stat st {};
         ASSERT_EQ(::stat(p.c_str(), &st), 0);
         int fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::pwrite(fd, "OLD", 3, 0), 3);
         const timespec times[2] = {st.st_atim, st.st_mtim};
         ASSERT_EQ(::futimens(fd, times), 0);
         ::close(fd);
       },
       "concurrent_change", "source changed during access; read and retry", "OLD\n"},
      {"another file moved over the name",
       [](const TempDir& d) {
         testing::write_file(d / "other", "replacement\n", 0644);
         ASSERT_EQ(::rename((d / "other").c_str(), (d / "a.txt").c_str()), 0);
       },
       "concurrent_change", "source changed during access; read and retry", "replacement\n"},
      // Unlinking moves the open file's status-change time, so the status
      // comparison notices before the name lookup would.
      {"name removed",
       [](const TempDir& d) { ASSERT_EQ(::unlink((d / "a.txt").c_str()), 0); },
       "concurrent_change", "source changed during access; read and retry", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("a.txt", "old\n");
    Opened o = open(dir, "a.txt");
    c.interfere(dir);
    const bool present = ::access((dir / "a.txt").c_str(), F_OK) == 0;
    const ino_t inode = present ? stat_of(dir / "a.txt").st_ino : 0;

    auto result = publish(o.source, o.snapshot, "new\n");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), c.expected_code);
    EXPECT_EQ(result.error().render(), c.expected_message);
    if (present) {
      EXPECT_EQ(dir.read("a.txt"), c.content_after);
      EXPECT_EQ(stat_of(dir / "a.txt").st_ino, inode);
    }
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
  }
}

// The final content comparison, reached when identity and status still match
// but the bytes are not those the edit was computed from.
TEST(Publish, ContentDifferentFromTheSnapshotIsRefused) {
  const std::string old_texts[] = {"olD\n", "old", "old\n\n", ""};
  for (const auto& old_text : old_texts) {
    TempDir dir;
    dir.write("a.txt", "old\n");
    Opened o = open(dir, "a.txt");
    auto result = publish(o.source, old_text, "new\n");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), "io_or_request");
    EXPECT_EQ(result.error().render(), "source content changed during edit");
    EXPECT_EQ(dir.read("a.txt"), "old\n");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
  }
}

TEST(Publish, StagingNamesCountUpwardWithinOneProcess) {
  TempDir dir;
  dir.write("a.txt", "0\n");
  const std::uint64_t first = staging_counter.load();
  for (int i = 1; i <= 3; ++i) {
    Opened o = open(dir, "a.txt");
    auto result = publish(o.source, o.snapshot, std::to_string(i) + "\n");
    ASSERT_TRUE(result.ok()) << result.error().render();
  }
  EXPECT_EQ(staging_counter.load(), first + 3);
  EXPECT_EQ(dir.read("a.txt"), "3\n");
}

}  // namespace
}  // namespace tuvel
