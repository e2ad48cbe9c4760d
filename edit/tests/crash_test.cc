// SPDX-License-Identifier: Apache-2.0
// Crash safety: applies killed with SIGKILL at random moments leave the file
// wholly old or wholly new, and nothing but staging leftovers beside it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "source/source.h"
#include "support/testing.h"

extern char** environ;

namespace tuvel {
namespace {

using Clock = std::chrono::steady_clock;

/// One apply with stdin from `request_file`, killed after `delay` unless it
/// finished first. Returns the wait status.
int apply_killed_after(const std::string& repo, const std::string& request_file, Clock::duration delay) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, request_file.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const std::string bin = testing::edit_binary();
  std::vector<std::string> args = {bin, "--repo", repo, "apply"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), environ) != 0) throw std::runtime_error("spawn");
  posix_spawn_file_actions_destroy(&actions);
  const auto deadline = Clock::now() + delay;
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return status;
    if (Clock::now() >= deadline) break;
    const timespec pause{0, 20'000};
    ::nanosleep(&pause, nullptr);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return status;
}

TEST(Crash, KilledAppliesLeaveOldOrNewContent) {
  testing::TempDir dir;
  // 1 MiB of lines so a run spends measurable time writing and flushing.
  std::string old_text;
  for (int i = 0; old_text.size() < (1u << 20); ++i) old_text += "line " + std::to_string(i) + " of the old text\n";
  std::string new_text = old_text;
  for (std::size_t at = 0; (at = new_text.find("old", at)) != std::string::npos;) new_text.replace(at, 3, "NEW");
  std::size_t occurrences = 0;
  for (std::size_t at = 0; (at = old_text.find("old", at)) != std::string::npos; at += 3) ++occurrences;
  testing::write_file(dir / "request.json",
                      R"({"path":"src/a.txt","revision":")" + revision(old_text) +
                          R"(","edits":[{"kind":"replace","old":"old","new":"NEW","count":)" +
                          std::to_string(occurrences) + "}]}");
  dir.write("repo/src/a.txt", old_text);
  const std::string repo = dir / "repo";

  // One undisturbed run sets the range of kill delays.
  auto started = Clock::now();
  int status = apply_killed_after(repo, dir / "request.json", std::chrono::seconds(30));
  const auto full = Clock::now() - started;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(testing::read_file(dir / "repo/src/a.txt"), new_text);

  std::mt19937 random(12345);
  std::uniform_int_distribution<long> pick(0, std::chrono::duration_cast<std::chrono::microseconds>(full).count() * 5 / 4);
  int killed = 0, old_seen = 0, new_seen = 0, leftovers = 0;
  const auto stop = Clock::now() + std::chrono::seconds(3);
  for (int round = 0; round < 400 && Clock::now() < stop; ++round) {
    dir.write("repo/src/a.txt", old_text);
    status = apply_killed_after(repo, dir / "request.json", std::chrono::microseconds(pick(random)));
    if (WIFSIGNALED(status)) ++killed;

    const std::string now = testing::read_file(dir / "repo/src/a.txt");
    ASSERT_TRUE(now == old_text || now == new_text) << "round " << round << ": mixed content of " << now.size() << " bytes";
    (now == old_text ? old_seen : new_seen)++;
    for (const auto& name : dir.list("repo/src")) {
      if (name == "a.txt") continue;
      ASSERT_EQ(name.rfind(".tuvel-edit-", 0), 0u) << "round " << round << ": unexpected " << name;
      ++leftovers;
      ASSERT_EQ(::unlink((dir / ("repo/src/" + name)).c_str()), 0);
    }
    ASSERT_EQ(dir.list("repo"), std::vector<std::string>{"src"});
  }
  std::printf("full run %lld us; %d killed, %d old, %d new, %d staging leftovers\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(full).count()), killed,
              old_seen, new_seen, leftovers);
}

}  // namespace
}  // namespace tuvel
