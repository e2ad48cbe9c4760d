// SPDX-License-Identifier: Apache-2.0
// Confined source access through the library: the path policy, the walk,
// the edit-only refusals and the lock, identity checks and snapshots.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "source/source.h"
#include "source/utf8.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::TempDir;

constexpr const char* kEloop = "Too many levels of symbolic links (os error 40)";
constexpr const char* kEnoent = "No such file or directory (os error 2)";
constexpr const char* kTraversal = "path must be relative, with no parent traversal";
constexpr const char* kGit = "Git metadata cannot be edited";
constexpr const char* kStaging = "path names a staging file";
constexpr const char* kChanged = "source changed during access; read and retry";

// Fails the test instead of hanging when an open blocks.
class Watchdog {
 public:
  Watchdog() { ::alarm(10); }
  ~Watchdog() { ::alarm(0); }
};

Repo must_open_repo(const std::string& path) {
  auto repo = open_repo(path);
  EXPECT_TRUE(repo.ok()) << repo.error().render();
  return std::move(repo).value();
}

// "ok" or the code and rendered message of a failure.
template <class T>
std::string outcome(const Result<T>& result) {
  if (result.ok()) return "ok";
  return std::string(result.error().code()) + ": " + result.error().render();
}

// The snapshot, or the failure, of `rel` in `dir`.
std::string snapshot_of(const TempDir& dir, const std::string& rel) {
  Repo repo = must_open_repo(dir.path());
  auto source = open_source(repo, rel, false);
  if (!source.ok()) return outcome(source);
  auto bytes = read_snapshot(*source);
  if (!bytes.ok()) return outcome(bytes);
  return *bytes;
}

TEST(OpenRepo, CanonicalisesAndRefusesNonDirectories) {
  TempDir dir;
  dir.write("repo/f", "x");
  ASSERT_EQ(::symlink((dir / "repo").c_str(), (dir / "link").c_str()), 0);

  auto through_link = open_repo(dir / "link/../link");
  ASSERT_TRUE(through_link.ok()) << through_link.error().render();
  char* real = ::realpath((dir / "repo").c_str(), nullptr);
  EXPECT_EQ(through_link->root, real);
  std::free(real);
  EXPECT_TRUE(open_source(*through_link, "f", false).ok());

  EXPECT_EQ(outcome(open_repo(dir / "missing")), std::string("io_or_request: ") + kEnoent);
  EXPECT_EQ(outcome(open_repo(dir / "repo/f")), "io_or_request: repo must be a directory");
  EXPECT_EQ(outcome(open_repo(dir / "repo/f/x")), "io_or_request: Not a directory (os error 20)");
}

TEST(OpenRepo, ALinkSwappedInAfterTheResolutionIsNeverFollowed) {
  TempDir dir;
  dir.write("repo/f", "x");
  dir.write("up/repo/f", "x");
  char* real = ::realpath(dir.path().c_str(), nullptr);
  const std::string base = real;
  std::free(real);
  // What the resolution gave, with a link put at one of its levels since.
  ASSERT_EQ(::symlink((base + "/repo").c_str(), (base + "/link").c_str()), 0);
  ASSERT_EQ(::symlink((base + "/up").c_str(), (base + "/uplink").c_str()), 0);
  ASSERT_EQ(::symlink("f", (base + "/repo/flink").c_str()), 0);
  const struct {
    std::string canonical;
    std::string outcome;
  } cases[] = {
      {base + "/repo", "ok"},
      {base + "/up/repo", "ok"},
      {base + "/link", "io_or_request: repo changed during access"},
      {base + "/uplink/repo", "io_or_request: repo changed during access"},
      {base + "/repo/flink", "io_or_request: repo changed during access"},
      {base + "/repo/f", "io_or_request: repo must be a directory"},
      {base + "/repo/f/x", "io_or_request: repo changed during access"},
      {base + "/missing", std::string("io_or_request: ") + kEnoent},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outcome(open_canonical_repo(c.canonical)), c.outcome) << c.canonical;
  }
}

// Where the kernel has no openat2, the repository and the directories of a
// request path are opened one component at a time; the answers are the same.
TEST(OpenRepo, WithoutOpenat2TheComponentWalkAnswersAlike) {
  TempDir dir;
  dir.write("repo/d/f", "x\n");
  dir.write("other/f", "y\n");
  ASSERT_EQ(::symlink((dir / "repo").c_str(), (dir / "repo_link").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "other").c_str(), (dir / "repo/d_link").c_str()), 0);
  const struct {
    std::string repo, path, message;  // message empty: the read succeeds
  } cases[] = {
      {dir / "repo", "d/f", ""},
      {dir / "repo_link", "d/f", ""},
      {dir / "repo", "d_link/f", kEloop},
      {dir / "repo/d/f", "f", "repo must be a directory"},
      {dir / "missing", "f", kEnoent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.repo + " " + c.path);
    const auto plain = testing::run_edit({"--repo", c.repo, "read", c.path});
    testing::RunOptions options;
    options.env = {{"LD_PRELOAD", TUVEL_FAULT_LIB}, {"TUVEL_FAULT", "openat2:ENOSYS"}};
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    const auto walked = testing::run_edit({"--repo", c.repo, "read", c.path}, options);
    EXPECT_EQ(walked.out, plain.out);
    EXPECT_EQ(walked.status, plain.status);
    if (c.message.empty()) {
      EXPECT_NE(walked.out.find(R"("text":"x\n")"), std::string::npos) << walked.out;
    } else {
      EXPECT_EQ(walked.out, testing::failure_line(c.message));
    }
  }
}

TEST(OpenSource, PathPolicyInOrder) {
  TempDir dir;
  dir.write("a/b", "content");
  dir.write(".gitignore", "g");
  dir.write(".github/x", "h");
  dir.write("x", "top");
  dir.write(".tuvel-edit-12-0", "half written");
  dir.write("a/.tuvel-edit-1-23", "half written");
  dir.write(".tuvel-edit-notes.md", "mine");
  dir.write(".tuvel-edit-5-6/f", "a directory of that name is walked");
  Repo repo = must_open_repo(dir.path());

  // A valid path to a/b of `n` bytes.
  const auto path_of = [](std::size_t n) { return "a" + std::string(n - 2, '/') + "b"; };
  const std::string long_valid = path_of(MAX_PATH_BYTES + 1);
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {"a/b", "ok"},
      {"a/./b", "ok"},
      {"a//b", "ok"},
      {"a/b/", "ok"},
      {"a/b/.", "ok"},
      {".gitignore", "ok"},
      {".github/x", "ok"},
      {"./a", kTraversal},
      {".", kTraversal},
      {"./", kTraversal},
      {"/a", kTraversal},
      {"//x", kTraversal},
      {"a/../b", kTraversal},
      {"a/..", kTraversal},
      {"", kTraversal},
      {"../.git", kTraversal},
      {"src/.git/config", kGit},
      {".git", kGit},
      {"a/.git/", kGit},
      {".git/" + std::string(4100, 'x'), kGit},
      {long_valid, "path exceeds 4096 bytes"},
      {".tuvel-edit-12-0", kStaging},
      {"a/.tuvel-edit-1-23", kStaging},
      {"a/.tuvel-edit-1-23/", kStaging},
      {".tuvel-edit-000-0", kStaging},
      {".tuvel-edit-notes.md", "ok"},
      {".tuvel-edit-5-6/f", "ok"},
      {".tuvel-edit-1-", kEnoent},
      {".tuvel-edit--2", kEnoent},
      {".tuvel-edit-1-2x", kEnoent},
      {".tuvel-edit-1-2-3", kEnoent},
      {".tuvel-edit-+1-2", kEnoent},
      {".git/.tuvel-edit-1-2", kGit},
      {"../.tuvel-edit-1-2", kTraversal},
      {path_of(MAX_PATH_BYTES), "ok"},
      {"a/../" + long_valid, kTraversal},
      {"a/c", kEnoent},
      {"a/b/c", "Not a directory (os error 20)"},
      {std::string("a\0b/c", 5), "Invalid argument (os error 22)"},
      {std::string("a/b\0", 4), "Invalid argument (os error 22)"},
      {"a/\xff", "filename is not UTF-8"},
      {"\xff/b", kEnoent},
      {std::string("a/\xff\0", 4), "filename is not UTF-8"},
      {std::string(300, 'n'), "File name too long (os error 36)"},
  };
  for (const auto& c : cases) {
    auto source = open_source(repo, c.path, false);
    const std::string expected = c.expected == "ok" ? "ok" : "io_or_request: " + c.expected;
    EXPECT_EQ(outcome(source), expected) << "path of " << c.path.size() << " bytes: " << c.path.substr(0, 40);
  }

  auto source = open_source(repo, "a/./b/", false);
  ASSERT_TRUE(source.ok());
  EXPECT_EQ(source->parent, std::vector<std::string>{"a"});
  EXPECT_EQ(source->name, "b");
  EXPECT_EQ(source->root, repo.root);
  EXPECT_FALSE(source->for_edit);
}

TEST(OpenSource, SymbolicLinksRefusedAtEveryLevel) {
  TempDir dir;
  dir.write("d/e/f", "x");
  ASSERT_EQ(::symlink("f", (dir / "d/e/file_link").c_str()), 0);
  ASSERT_EQ(::symlink("d", (dir / "dir_link").c_str()), 0);
  ASSERT_EQ(::symlink("e", (dir / "d/inner_link").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "d").c_str(), (dir / "absolute_link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  Repo repo = must_open_repo(dir.path());

  for (const char* path : {"d/e/file_link", "dir_link/e/f", "d/inner_link/f", "absolute_link/e/f", "dangling"}) {
    for (bool for_edit : {false, true}) {
      EXPECT_EQ(outcome(open_source(repo, path, for_edit)), std::string("io_or_request: ") + kEloop) << path;
    }
  }
  EXPECT_EQ(outcome(open_source(repo, "d/e/f", false)), "ok");
}

TEST(OpenSource, NonRegularFilesRefusedWithoutBlocking) {
  Watchdog watchdog;
  TempDir dir;
  dir.write("d/f", "x");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  Repo repo = must_open_repo(dir.path());
  for (const char* path : {"fifo", "d", "d/"}) {
    for (bool for_edit : {false, true}) {
      EXPECT_EQ(outcome(open_source(repo, path, for_edit)), "io_or_request: source must be a regular file") << path;
    }
  }
}

TEST(OpenSource, EditOnlyRefusals) {
  TempDir dir;
  dir.write("plain", "x");
  dir.write("linked", "x");
  ASSERT_EQ(::link((dir / "linked").c_str(), (dir / "second_name").c_str()), 0);
  const struct {
    std::string name;
    mode_t mode;
    std::string edit_outcome;
  } cases[] = {
      {"plain", 0644, "ok"},
      {"group_writable", 0464, "ok"},
      {"others_writable", 0446, "ok"},
      {"linked", 0644, "io_or_request: refusing to replace a hard-linked file"},
      {"read_only", 0444, "io_or_request: source is read-only"},
      {"executable", 0555, "io_or_request: source is read-only"},
      {"setuid", 04755, "io_or_request: special permission bits are unsupported"},
      {"setgid", 02644, "io_or_request: special permission bits are unsupported"},
      {"sticky", 01644, "io_or_request: special permission bits are unsupported"},
      {"read_only_setuid", 04444, "io_or_request: source is read-only"},
  };
  for (const auto& c : cases) {
    if (c.name != "linked") dir.write(c.name, "x");
    ASSERT_EQ(::chmod((dir / c.name).c_str(), c.mode), 0);
  }
  Repo repo = must_open_repo(dir.path());
  for (const auto& c : cases) {
    // Reading needs no write access; the permission bits alone decide.
    auto read = open_source(repo, c.name, false);
    EXPECT_EQ(outcome(read), "ok") << c.name;
    if (read.ok()) {
      auto bytes = read_snapshot(*read);
      EXPECT_EQ(outcome(bytes), "ok") << c.name;
    }
    auto edit = open_source(repo, c.name, true);
    EXPECT_EQ(outcome(edit), c.edit_outcome) << c.name;
    if (edit.ok()) {
      EXPECT_TRUE(edit->for_edit);
    }
  }
}

TEST(OpenSource, WriterLockIsExclusiveAndReleased) {
  TempDir dir;
  dir.write("f", "x");
  Repo repo = must_open_repo(dir.path());
  {
    auto first = open_source(repo, "f", true);
    ASSERT_TRUE(first.ok()) << first.error().render();
    EXPECT_EQ(outcome(open_source(repo, "f", true)), "busy: another writer holds the file lock; retry");
    // Readers take no lock and are not blocked.
    auto reader = open_source(repo, "f", false);
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(outcome(read_snapshot(*reader)), "ok");

    // A move keeps the lock with the new owner.
    Source moved = std::move(first).value();
    EXPECT_EQ(outcome(open_source(repo, "f", true)), "busy: another writer holds the file lock; retry");
  }
  auto again = open_source(repo, "f", true);
  EXPECT_EQ(outcome(again), "ok");

  // Assigning over a locking Source releases its lock first.
  Source other = std::move(again).value();
  other = Source();
  const int fd = ::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST(ReadSnapshot, KeepsBytesAsTheyAre) {
  TempDir dir;
  const std::string cases[] = {
      "",
      "one line without feed",
      "a\r\nb\r\n",
      "\xef\xbb\xbf" "bom\n",
      "\n\n\n",
      "h\xc3\xa9llo w\xc3\xb6rld \xe2\x82\xac \xf0\x9d\x84\x9e\r",
  };
  for (const auto& content : cases) {
    dir.write("f", content);
    EXPECT_EQ(snapshot_of(dir, "f"), content);
  }
}

TEST(ReadSnapshot, SizeBoundary) {
  TempDir dir;
  std::string content(MAX_SOURCE_BYTES, 'a');
  content[100] = '\n';
  dir.write("exact", content);
  content.push_back('b');
  dir.write("over", content);

  const std::string exact = snapshot_of(dir, "exact");
  EXPECT_EQ(exact.size(), MAX_SOURCE_BYTES);
  EXPECT_EQ(exact, content.substr(0, MAX_SOURCE_BYTES));
  EXPECT_EQ(snapshot_of(dir, "over"), "io_or_request: source exceeds 16 MiB");
}

TEST(ReadSnapshot, GrowthBeyondTheLimitStopsTheRead) {
  TempDir dir;
  dir.write("f", "small\n");
  Repo repo = must_open_repo(dir.path());
  auto source = open_source(repo, "f", false);
  ASSERT_TRUE(source.ok());
  // Grown after the open: the recorded size passes, the read finds more.
  ASSERT_EQ(::truncate((dir / "f").c_str(), static_cast<off_t>(MAX_SOURCE_BYTES + 2)), 0);
  EXPECT_EQ(outcome(read_snapshot(*source)), "io_or_request: source grew beyond 16 MiB");
}

TEST(ReadSnapshot, NulComesBeforeUtf8) {
  TempDir dir;
  const struct {
    std::string content;
    std::string expected;
  } cases[] = {
      {std::string("a\0b", 3), "io_or_request: source contains NUL"},
      {std::string("\xff\0", 2), "io_or_request: source contains NUL"},
      {std::string(200, 'a') + "\xff" + std::string(200, 'b') + std::string(1, '\0'), "io_or_request: source contains NUL"},
      {"ok\xff", "io_or_request: source is not UTF-8: invalid utf-8 sequence of 1 bytes from index 2"},
      {"ok\xe2\x82", "io_or_request: source is not UTF-8: incomplete utf-8 byte sequence from index 2"},
  };
  for (const auto& c : cases) {
    dir.write("f", c.content);
    EXPECT_EQ(snapshot_of(dir, "f"), c.expected);
  }
}

// The check before a replacement reads the file again and compares it with
// the earlier snapshot while reading; whatever it finds, it answers as
// read_snapshot would, then by the comparison.
TEST(SnapshotMatches, AnswersAsReadSnapshotThenCompares) {
  TempDir dir;
  const std::string big(200000, 'x');
  const struct {
    std::string content;   // the file now
    std::string expected;  // the earlier snapshot
    std::string outcome;
  } cases[] = {
      {"same\n", "same\n", "true"},
      {"", "", "true"},
      {big + "\n", big + "\n", "true"},
      {big + "y", big + "z", "false"},
      {"same\n", "same\nmore", "false"},
      {"same\nmore", "same\n", "false"},
      {"", "x", "false"},
      {big, big + big, "false"},
      {"a\xc3", "a\xc3\xa9", "io_or_request: source is not UTF-8: incomplete utf-8 byte sequence from index 1"},
      {big + std::string("\0", 1), big + "a", "io_or_request: source contains NUL"},
      {"ok\xff", "okay", "io_or_request: source is not UTF-8: invalid utf-8 sequence of 1 bytes from index 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content.substr(0, 20));
    dir.write("f", c.content);
    Repo repo = must_open_repo(dir.path());
    auto source = open_source(repo, "f", true);
    ASSERT_TRUE(source.ok()) << source.error().render();
    const auto read = read_snapshot(*source);
    ASSERT_EQ(::lseek(source->file.get(), 0, SEEK_SET), 0);
    const auto matches = snapshot_matches(*source, c.expected);
    const std::string got = matches.ok() ? (*matches ? "true" : "false") : outcome(matches);
    EXPECT_EQ(got, c.outcome);
    if (!read.ok()) {
      EXPECT_EQ(got, outcome(read));
    }
  }

  dir.write("f", "small\n");
  Repo repo = must_open_repo(dir.path());
  auto source = open_source(repo, "f", true);
  ASSERT_TRUE(source.ok());
  ASSERT_EQ(::truncate((dir / "f").c_str(), static_cast<off_t>(MAX_SOURCE_BYTES + 2)), 0);
  EXPECT_EQ(outcome(snapshot_matches(*source, "small\n")), "io_or_request: source grew beyond 16 MiB");
  // Changed in place after the open: the identity check still decides.
  dir.write("f", "small\n");
  auto again = open_source(repo, "f", false);
  ASSERT_TRUE(again.ok());
  ::usleep(10000);
  testing::write_file(dir / "f", "SMALL\n");
  EXPECT_EQ(outcome(snapshot_matches(*again, "small\n")), std::string("concurrent_change: ") + kChanged);
}

TEST(Utf8, CausesLikeAMaximalSubpartDecoder) {
  const struct {
    std::string bytes;
    std::string cause;  // empty: valid
  } cases[] = {
      {"", ""},
      {"plain ascii", ""},
      {"\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", ""},
      {"\xff", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ab\x80", "invalid utf-8 sequence of 1 bytes from index 2"},
      {"\xc0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xc1\xbf", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xc3", "incomplete utf-8 byte sequence from index 0"},
      {"\xc3(", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xe2\x82", "incomplete utf-8 byte sequence from index 0"},
      {"\xe2\x82(", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xe2(\x82", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xe0\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xe0\x9f\xbf", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xe0", "incomplete utf-8 byte sequence from index 0"},
      {"\xe0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xf0\x9f\x98", "incomplete utf-8 byte sequence from index 0"},
      {"\xf0\x9f\x98(", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"\xf0\x9f(", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xf0\x8f\xbf\xbf", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xf5\x80\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xf8", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"x\xc3\xa9\xc3", "incomplete utf-8 byte sequence from index 3"},
      {"\xe2\x82\xac\xe2\x82\xac\x80", "invalid utf-8 sequence of 1 bytes from index 6"},
      {std::string(70, 'a') + "\xe2\x82(", "invalid utf-8 sequence of 2 bytes from index 70"},
  };
  for (const auto& c : cases) {
    const auto error = find_utf8_error(c.bytes);
    EXPECT_EQ(error ? describe(*error) : "", c.cause) << c.bytes;
  }
}

TEST(Utf8, ErrorFoundAtEveryOffsetOfTheVectorPath) {
  for (std::size_t at = 0; at < 200; ++at) {
    std::string text(at, 'a');
    text += "\xe2\x82\xac";  // a valid character first, so the scan resumes after it
    text += std::string(at % 37, 'b');
    const std::size_t bad = text.size();
    text += "\xa0";
    text += std::string(150, 'c');
    const auto error = find_utf8_error(text);
    ASSERT_TRUE(error.has_value()) << at;
    EXPECT_EQ(error->index, bad);
    EXPECT_EQ(error->length, 1u);
  }
}

TEST(Utf8, VectorPathAgreesWithPlainDecoding) {
  // Valid characters of every width, cut and corrupted at random places.
  const std::string pieces[] = {"a", "\n", "\xc3\xa9", "\xe2\x82\xac", "\xed\x9f\xbf", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf",
                                std::string(40, 'x')};
  const unsigned char noise[] = {0x80, 0xbf, 0xc0, 0xc1, 0xc2, 0xdf, 0xe0, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xff, 0x9f, 0xa0, 0x8f, 0x90};
  std::uint32_t state = 12345;
  const auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t count = next() % 24;
    for (std::size_t k = 0; k < count; ++k) text += pieces[next() % std::size(pieces)];
    if (!text.empty() && next() % 2) text[next() % text.size()] = static_cast<char>(noise[next() % std::size(noise)]);
    if (!text.empty() && next() % 4 == 0) text.resize(next() % text.size());
    const auto fast = find_utf8_error(text);
    const auto plain = find_utf8_error_scalar(text);
    ASSERT_EQ(fast.has_value(), plain.has_value()) << round;
    if (fast) {
      ASSERT_EQ(fast->index, plain->index) << round;
      ASSERT_EQ(fast->length, plain->length) << round;
    }
  }
}

TEST(CheckIdentity, ConcurrentChangesAreDetected) {
  struct Case {
    const char* what;
    void (*change)(const TempDir&);
    std::string expected;
  };
  const Case cases[] = {
      {"appended", [](const TempDir& d) { ASSERT_EQ(::truncate((d / "repo/d/f").c_str(), 10), 0); }, "concurrent_change: " + std::string(kChanged)},
      {"times changed, same size",
       [](const TempDir& d) {
         const timespec times[2] = {{0, UTIME_OMIT}, {12345, 678}};
         ASSERT_EQ(::utimensat(AT_FDCWD, (d / "repo/d/f").c_str(), times, 0), 0);
       },
       "concurrent_change: " + std::string(kChanged)},
      {"renamed over",
       [](const TempDir& d) {
         d.write("repo/d/other", "line\n");
         ASSERT_EQ(::rename((d / "repo/d/other").c_str(), (d / "repo/d/f").c_str()), 0);
       },
       "concurrent_change: " + std::string(kChanged)},
      {"link moved over",
       [](const TempDir& d) {
         ASSERT_EQ(::symlink("g", (d / "repo/d/link").c_str()), 0);
         ASSERT_EQ(::rename((d / "repo/d/link").c_str(), (d / "repo/d/f").c_str()), 0);
       },
       "concurrent_change: " + std::string(kChanged)},
      {"directory replaced",
       [](const TempDir& d) {
         ASSERT_EQ(::rename((d / "repo/d").c_str(), (d / "repo/d_old").c_str()), 0);
         d.write("repo/d/f", "line\n");
       },
       "io_or_request: source directory changed during access"},
      {"directory replaced by a link",
       [](const TempDir& d) {
         ASSERT_EQ(::rename((d / "repo/d").c_str(), (d / "repo/d_old").c_str()), 0);
         ASSERT_EQ(::symlink("d_old", (d / "repo/d").c_str()), 0);
       },
       std::string("io_or_request: ") + kEloop},
      {"repository replaced",
       [](const TempDir& d) {
         ASSERT_EQ(::rename((d / "repo").c_str(), (d / "repo_old").c_str()), 0);
         d.write("repo/d/f", "line\n");
       },
       "io_or_request: repo changed during access"},
      {"repository replaced by a link",
       [](const TempDir& d) {
         ASSERT_EQ(::rename((d / "repo").c_str(), (d / "repo_old").c_str()), 0);
         ASSERT_EQ(::symlink("repo_old", (d / "repo").c_str()), 0);
       },
       "io_or_request: repo changed during access"},
  };
  for (const Case& c : cases) {
    TempDir top;
    top.write("repo/d/f", "line\n");
    top.write("repo/d/g", "other\n");
    Repo repo = must_open_repo(top / "repo");
    auto source = open_source(repo, "d/f", false);
    ASSERT_TRUE(source.ok()) << c.what;
    c.change(top);
    EXPECT_EQ(outcome(read_snapshot(*source)), c.expected) << c.what;
  }
}

TEST(Revision, MatchesB3sum) {
  TempDir dir;
  std::string mixed;
  for (std::size_t i = 0; i < 3 * 1024 * 1024 + 17; ++i) mixed.push_back(static_cast<char>('a' + (i * 7919 % 26)));
  const std::string cases[] = {"", "a\nb", std::string(1024, 'x'), std::string(1025, 'y'), mixed};
  EXPECT_EQ(revision(""), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
  for (const auto& content : cases) {
    dir.write("f", content);
    const auto run = testing::run("/usr/bin/b3sum", {"--no-names", dir / "f"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(revision(content) + "\n", run.out) << content.size();
  }
}

}  // namespace
}  // namespace tuvel
