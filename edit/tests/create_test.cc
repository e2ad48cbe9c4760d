// SPDX-License-Identifier: Apache-2.0
// execute_create on real directories: what a new file holds and carries,
// what every refusal leaves behind, and how links and races are kept out.
#include <fcntl.h>
#include <stdio.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "execute/execute.h"
#include "protocol/json.h"
#include "publish/staging.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

std::string outcome(const Result<Json>& result) { return result.ok() ? to_json(*result) : result.error().render(); }

std::string create(const TempDir& repo, const std::string& path, const std::string& text, bool parents = false) {
  return outcome(execute_create(repo.path(), CreateRequest{path, text, parents}));
}

// Started again with the fault library preloaded (see create_with_fault),
// this program runs one create and prints its outcome before any test runs.
[[maybe_unused]] const bool child_created = [] {
  const char* repo = std::getenv("TUVEL_CREATE_REPO");
  if (repo == nullptr) return false;
  const CreateRequest request{std::getenv("TUVEL_CREATE_PATH"), "content\n", std::getenv("TUVEL_CREATE_PARENTS") != nullptr};
  const std::string answer = outcome(execute_create(repo, request));
  std::fwrite(answer.data(), 1, answer.size(), stdout);
  std::fflush(stdout);
  std::_Exit(0);
}();

std::string created(const std::string& path, const std::string& text) {
  return R"({"bytes":)" + std::to_string(text.size()) + R"(,"durability_warning":null,"path":)" +
         testing::json_quote(path) + R"(,"revision":")" + testing::digest(text) + "\"}";
}

/// Every name under `dir`, recursively, as paths relative to it (sorted).
std::vector<std::string> tree(const TempDir& dir, const std::string& rel = "") {
  std::vector<std::string> all;
  for (const auto& name : dir.list(rel)) {
    const std::string path = rel.empty() ? name : rel + "/" + name;
    all.push_back(path);
    struct stat st {};
    if (::lstat((dir / path).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      for (auto& inner : tree(dir, path)) all.push_back(std::move(inner));
    }
  }
  return all;
}

struct stat lstat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

/// Sets the umask for one test and restores it.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t old_;
};

TEST(Create, NewFileHoldsTheTextWithModeFromTheUmask) {
  const Umask mask(027);
  TempDir repo;
  repo.write("keep.txt", "x");
  const std::string text = "h\xC3\xA9llo\nworld";
  EXPECT_EQ(create(repo, "new.txt", text), created("new.txt", text));
  EXPECT_EQ(repo.read("new.txt"), text);
  const struct stat st = lstat_of(repo / "new.txt");
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640U);
  EXPECT_EQ(st.st_nlink, 1U);
  EXPECT_EQ(tree(repo), (std::vector<std::string>{"keep.txt", "new.txt"}));
}

TEST(Create, EmptyTextAndPathAsRequested) {
  const Umask mask(022);
  TempDir repo;
  ::mkdir((repo / "src").c_str(), 0755);
  // The path is answered as it was given; the file lands at its plain form.
  EXPECT_EQ(create(repo, "src//./empty", ""), created("src//./empty", ""));
  EXPECT_EQ(repo.read("src/empty"), "");
  EXPECT_EQ(lstat_of(repo / "src/empty").st_mode & 07777, 0644U);
}

TEST(Create, ExistingNameOfAnyKindIsLeftAsItWas) {
  TempDir repo;
  repo.write("file.txt", "old\n");
  ::mkdir((repo / "dir").c_str(), 0755);
  ASSERT_EQ(::symlink("missing-target", (repo / "dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo((repo / "fifo").c_str(), 0644), 0);
  const std::vector<std::string> before = tree(repo);
  const ino_t inode = lstat_of(repo / "file.txt").st_ino;
  for (const char* name : {"file.txt", "dir", "dangling", "fifo"}) {
    EXPECT_EQ(create(repo, name, "new\n"), "File exists (os error 17)") << name;
  }
  EXPECT_EQ(repo.read("file.txt"), "old\n");
  EXPECT_EQ(lstat_of(repo / "file.txt").st_ino, inode);
  // The link was not followed: its target still does not exist.
  EXPECT_EQ(tree(repo), before);
}

TEST(Create, MissingParentsOnlyWhenAsked) {
  const Umask mask(022);
  TempDir repo;
  EXPECT_EQ(create(repo, "a/b/c.txt", "x"), "No such file or directory (os error 2)");
  EXPECT_TRUE(tree(repo).empty());

  EXPECT_EQ(create(repo, "a/b/c.txt", "x", true), created("a/b/c.txt", "x"));
  EXPECT_EQ(repo.read("a/b/c.txt"), "x");
  EXPECT_EQ(lstat_of(repo / "a").st_mode & 07777, 0755U);
  EXPECT_EQ(lstat_of(repo / "a/b").st_mode & 07777, 0755U);
  // Directories that exist already are walked, not made again.
  EXPECT_EQ(create(repo, "a/d.txt", "y", true), created("a/d.txt", "y"));
  EXPECT_EQ(tree(repo), (std::vector<std::string>{"a", "a/b", "a/b/c.txt", "a/d.txt"}));
}

TEST(Create, LinksOnTheWayAreRefusedEvenWithParents) {
  TempDir repo;
  TempDir outside;
  ::mkdir((repo / "real").c_str(), 0755);
  ASSERT_EQ(::symlink("real", (repo / "inside").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (repo / "out").c_str()), 0);
  repo.write("plain", "f");
  const std::string loop = "Too many levels of symbolic links (os error 40)";
  struct Case {
    std::string path;
    bool parents;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"inside/x.txt", false, loop},
      {"inside/x.txt", true, loop},
      {"out/x.txt", true, loop},
      {"out/new/x.txt", true, loop},
      {"real/../out/x.txt", true, "path must be relative, with no parent traversal"},
      {"plain/x.txt", false, "Not a directory (os error 20)"},
      {"plain/x.txt", true, "Not a directory (os error 20)"},
  };
  const std::vector<std::string> before = tree(repo);
  for (const Case& c : cases) EXPECT_EQ(create(repo, c.path, "x", c.parents), c.message) << c.path;
  EXPECT_EQ(tree(repo), before);
  EXPECT_TRUE(outside.list().empty());
}

TEST(Create, DirectorySwappedWithALinkNeverLeadsOutside) {
  TempDir repo;
  TempDir outside;
  // "d" and "e" trade places without pause: one a directory inside, the
  // other a link to the outside one.
  ASSERT_EQ(::mkdir((repo / "d").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (repo / "e").c_str()), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop.load()) {
      (void)::renameat2(AT_FDCWD, (repo / "d").c_str(), AT_FDCWD, (repo / "e").c_str(), RENAME_EXCHANGE);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int made = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "x" + std::to_string(i);
    const auto result = execute_create(repo.path(), CreateRequest{"d/" + name, "x", i % 2 == 0});
    if (result.ok()) {
      ++made;
    } else {
      EXPECT_EQ(result.error().render(), "Too many levels of symbolic links (os error 40)");
    }
  }
  stop = true;
  swapper.join();
  EXPECT_TRUE(outside.list().empty());
  const std::string real = S_ISDIR(lstat_of(repo / "d").st_mode) ? "d" : "e";
  EXPECT_EQ(repo.list(real).size(), static_cast<std::size_t>(made));
}

const std::string kDirectoryPath = "path must end with a file name, not '/' or '/.'";
const std::string kControl = "new name contains a control character";

TEST(Create, PolicyAndTextRefusalsComeBeforeAnyDirectoryIsMade) {
  TempDir repo;
  struct Case {
    std::string path;
    std::string text;
    std::string message;
  };
  const std::string traversal = "path must be relative, with no parent traversal";
  const std::vector<Case> cases = {
      {"", "x", traversal},
      {"/abs/x", "x", traversal},
      {"./x", "x", traversal},
      {"new/../x", "x", traversal},
      {"new/.git/config", "x", "Git metadata cannot be edited"},
      {".git", "x", "Git metadata cannot be edited"},
      {"new/" + std::string(4093, 'a'), "x", "path exceeds 4096 bytes"},
      {"new/bad\xFF", "x", "filename is not UTF-8"},
      {std::string("new/a\0b", 7), "x", "Invalid argument (os error 22)"},
      {std::string("n\0w/a", 5), "x", "Invalid argument (os error 22)"},
      {"new/", "x", kDirectoryPath},
      {"new/sub//", "x", kDirectoryPath},
      {"new/.", "x", kDirectoryPath},
      {"new/a\x01b", "x", kControl},
      {"new/tab\t", "x", kControl},
      {"new/line\n", "x", kControl},
      {"new/\x1f", "x", kControl},
      {"new/del\x7f", "x", kControl},
      {".tuvel-edit-1-2", "x", "path names a staging file"},
      {"new/.tuvel-edit-77-0", "x", "path names a staging file"},
      {"new/x", std::string("a\0b", 3), "source contains NUL"},
      {"new/x", "ok\xC3", "source is not UTF-8: incomplete utf-8 byte sequence from index 2"},
      {"new/x", "a\xFF\xFE", "source is not UTF-8: invalid utf-8 sequence of 1 bytes from index 1"},
      {"new/x", std::string(16 * 1024 * 1024 + 1, 'a'), "source exceeds 16 MiB"},
  };
  for (const Case& c : cases) EXPECT_EQ(create(repo, c.path, c.text, true), c.message) << c.path.substr(0, 20);
  EXPECT_TRUE(tree(repo).empty());
}

TEST(Create, ControlCharactersOnlyInNamesThatExistAlready) {
  TempDir repo;
  repo.write("keep/f", "");
  ::mkdir((repo / "tab\tdir").c_str(), 0755);
  const std::vector<std::string> before = tree(repo);
  // The directories made before the refused one are removed again.
  for (const char* path : {"new\x01/x", "keep/a/b\x7f/c/x", "a/b/c\n/x"}) {
    EXPECT_EQ(create(repo, path, "x", true), kControl) << path;
    EXPECT_EQ(tree(repo), before) << path;
  }
  EXPECT_EQ(create(repo, "tab\tdir/x", "x"), created("tab\tdir/x", "x"));
  EXPECT_EQ(create(repo, "tab\tdir/new/x", "x", true), created("tab\tdir/new/x", "x"));
}

// The mode a new file gets from open(O_CREAT, 0666): a named user of the
// directory's default ACL keeps write access through the mask, whatever the
// umask says about the group.
TEST(Create, DefaultAclOfTheDirectoryDecidesTheMode) {
  const Umask mask(077);
  TempDir repo;
  ::mkdir((repo / "shared").c_str(), 0755);
  const testing::Run set = testing::run("/usr/bin/setfacl", {"-d", "-m", "u::rwx,g::r--,o::r--,u:1234:rw-", repo / "shared"});
  if (set.status != 0) GTEST_SKIP() << "no ACL support here: " << set.err;
  EXPECT_EQ(create(repo, "shared/new.txt", "x"), created("shared/new.txt", "x"));
  EXPECT_EQ(create(repo, "shared/deeper/new.txt", "y", true), created("shared/deeper/new.txt", "y"));
  for (const char* path : {"shared/new.txt", "shared/deeper/new.txt"}) {
    EXPECT_EQ(testing::run("/usr/bin/getfacl", {"-c", repo / path}).out,
              "user::rw-\nuser:1234:rw-\ngroup::r--\nmask::rw-\nother::r--\n\n")
        << path;
    EXPECT_EQ(lstat_of(repo / path).st_mode & 07777, 0664U) << path;
  }
  // Outside the ACL's reach, the umask alone decides.
  EXPECT_EQ(create(repo, "plain.txt", "z"), created("plain.txt", "z"));
  EXPECT_EQ(lstat_of(repo / "plain.txt").st_mode & 07777, 0600U);
}

TEST(Create, SixteenMebibytesExactlyIsAccepted) {
  TempDir repo;
  const std::string text(16 * 1024 * 1024, 'z');
  EXPECT_EQ(create(repo, "big", text), created("big", text));
  EXPECT_EQ(lstat_of(repo / "big").st_size, static_cast<off_t>(text.size()));
}

TEST(Create, FailedWriteLeavesNoStagingFile) {
  TempDir repo;
  // In a child: a file-size limit makes the staging write fail with EFBIG.
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::string answer = create(repo, "x.txt", "more than four bytes");
    (void)!::write(pipe_fds[1], answer.data(), answer.size());
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string answer;
  char buf[256];
  for (ssize_t n; (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0;) answer.append(buf, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(answer, "File too large (os error 27)");
  EXPECT_TRUE(tree(repo).empty());
}

TEST(Create, StagingNamesInTheWayAreSkippedAndLeftAlone) {
  TempDir repo;
  const std::string prefix = ".tuvel-edit-" + std::to_string(::getpid()) + "-";
  const std::uint64_t next = staging_counter.load();
  std::vector<std::string> expected;
  for (std::uint64_t n = next; n < next + 3; ++n) {
    repo.write(prefix + std::to_string(n), "leftover");
    expected.push_back(prefix + std::to_string(n));
  }
  EXPECT_EQ(create(repo, "new.txt", "x"), created("new.txt", "x"));
  expected.push_back("new.txt");
  EXPECT_EQ(tree(repo), expected);
  EXPECT_EQ(repo.read(prefix + std::to_string(next)), "leftover");
}

#ifdef TUVEL_FAULT_LIB
std::string create_with_fault(const TempDir& repo, const std::string& path, bool parents, const std::string& fault) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "no /proc/self/exe";
  testing::RunOptions options;
  options.env = {{"LD_PRELOAD", TUVEL_FAULT_LIB}, {"TUVEL_FAULT", fault}, {"TUVEL_CREATE_REPO", repo.path()},
                 {"TUVEL_CREATE_PATH", path}};
  if (parents) options.env["TUVEL_CREATE_PARENTS"] = "1";
  // A sanitizer build wants its runtime first; the fault library only wraps calls.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
  const testing::Run run = testing::run(std::string(self, static_cast<std::size_t>(n)), {}, options);
  return run.out + run.err;
}

TEST(CreateFault, EveryFailureRemovesTheStagingFile) {
  struct Case {
    std::string fault;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"write:ENOSPC", "No space left on device (os error 28)"},
      {"write_zero", "failed to write whole buffer"},
      {"fsync:EIO", "Input/output error (os error 5)"},
      {"openat_staging:EACCES", "Permission denied (os error 13)"},
      {"renameat2:EROFS", "Read-only file system (os error 30)"},
  };
  for (const Case& c : cases) {
    TempDir repo;
    repo.write("d/keep", "k");
    EXPECT_EQ(create_with_fault(repo, "d/new.txt", false, c.fault), c.message) << c.fault;
    EXPECT_EQ(tree(repo), (std::vector<std::string>{"d", "d/keep"})) << c.fault;
  }
}

TEST(CreateFault, FailureRemovesTheDirectoriesItMade) {
  struct Case {
    std::string fault;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"write:ENOSPC", "No space left on device (os error 28)"},
      {"fsync:EIO", "Input/output error (os error 5)"},
      {"openat_staging:EACCES", "Permission denied (os error 13)"},
      {"renameat2:EROFS", "Read-only file system (os error 30)"},
  };
  for (const Case& c : cases) {
    TempDir repo;
    repo.write("d/keep", "k");
    EXPECT_EQ(create_with_fault(repo, "d/a/b/c/new.txt", true, c.fault), c.message) << c.fault;
    EXPECT_EQ(tree(repo), (std::vector<std::string>{"d", "d/keep"})) << c.fault;
  }
}

TEST(CreateFault, RefusedDirectoryFlushIsAWarning) {
  TempDir repo;
  const std::string answer = R"x({"bytes":8,"durability_warning":"Input/output error (os error 5)","path":"a/b/new.txt","revision":")x" +
                             testing::digest("content\n") + "\"}";
  EXPECT_EQ(create_with_fault(repo, "a/b/new.txt", true, "fsync_dir:EIO"), answer);
  EXPECT_EQ(repo.read("a/b/new.txt"), "content\n");
  EXPECT_EQ(tree(repo), (std::vector<std::string>{"a", "a/b", "a/b/new.txt"}));
}

TEST(CreateFault, InterruptedCallsAreRepeated) {
  TempDir repo;
  EXPECT_EQ(create_with_fault(repo, "a/new.txt", true, "eintr_all"), created("a/new.txt", "content\n"));
  EXPECT_EQ(repo.read("a/new.txt"), "content\n");
}

TEST(CreateFault, WithoutANoReplaceRenameAHardLinkPublishes) {
  for (const char* missing : {"renameat2:EINVAL", "renameat2:38"}) {  // 38: ENOSYS
    TempDir repo;
    repo.write("old.txt", "old");
    EXPECT_EQ(create_with_fault(repo, "new.txt", false, missing), created("new.txt", "content\n")) << missing;
    EXPECT_EQ(repo.read("new.txt"), "content\n");
    EXPECT_EQ(lstat_of(repo / "new.txt").st_nlink, 1U);
    EXPECT_EQ(tree(repo), (std::vector<std::string>{"new.txt", "old.txt"}));
  }
}
#endif

}  // namespace
}  // namespace tuvel
