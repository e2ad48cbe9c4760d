// SPDX-License-Identifier: Apache-2.0
// The apply command through the real binary, an agent's read -> preview ->
// apply loop, and several processes editing the same files at once.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <string>
#include <thread>
#include <vector>

#include "protocol/request.h"
#include "source/source.h"
#include "support/testing.h"

namespace tuvel {
namespace {

using testing::Child;
using testing::RunOptions;
using testing::TempDir;
using testing::failure_line;
using testing::run_edit;

std::string edit_request(const std::string& path, const std::string& rev, const std::string& old_text,
                         const std::string& new_text) {
  return R"({"path":")" + path + R"(","revision":")" + rev + R"(","edits":[{"kind":"replace","old":")" + old_text +
         R"(","new":")" + new_text + R"(","count":1}]})";
}

/// The value of a string member in a compact JSON text (test helper only).
std::string member(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  const auto at = json.find(marker);
  if (at == std::string::npos) return {};
  const auto begin = at + marker.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

TEST(Apply, InputLimitAndDecodeFailures) {
  TempDir dir;
  dir.write("a.txt", "hello\n");
  const std::string request = edit_request("a.txt", revision("hello\n"), "hello", "bye");
  const std::string at_limit = request + std::string(MAX_REQUEST_BYTES - request.size(), '\n');
  const auto previewed = run_edit({"--repo", dir.path(), "apply", "--preview"}, RunOptions{.input = at_limit});
  EXPECT_EQ(previewed.status, 0) << previewed.out;
  EXPECT_EQ(dir.read("a.txt"), "hello\n");

  const auto over = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = at_limit + " "});
  EXPECT_EQ(over.status, 2);
  EXPECT_EQ(over.out, failure_line("request exceeds 2 MiB"));
  // Far more than the limit: the rest is left unread and the answer is the same.
  const auto far_over = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = std::string(3 * MAX_REQUEST_BYTES, ' ')});
  EXPECT_EQ(far_over.out, failure_line("request exceeds 2 MiB"));

  const auto empty = run_edit({"--repo", dir.path(), "apply"});
  EXPECT_EQ(empty.status, 2);
  EXPECT_EQ(empty.out, failure_line("EOF while parsing a value at line 1 column 0"));

  const auto batch_form = run_edit({"--repo", dir.path(), "apply"},
                                   RunOptions{.input = R"({"op":"apply","request":{}})"});
  EXPECT_EQ(batch_form.status, 2);
  EXPECT_EQ(batch_form.out, failure_line("unknown field `op`, expected one of `path`, `revision`, `edits` at line 1 column 5"));
  EXPECT_EQ(dir.read("a.txt"), "hello\n");
}

TEST(Apply, AgentReadPreviewApplyLoop) {
  TempDir dir;
  dir.write("src/main.c", "int main() {\n  return 1;\n}\n");
  const auto first = run_edit({"--repo", dir.path(), "read", "src/main.c"});
  ASSERT_EQ(first.status, 0);
  const std::string rev = member(first.out, "revision");
  ASSERT_EQ(rev.size(), 64u);

  const std::string request = edit_request("src/main.c", rev, "return 1;", "return 0;");
  const auto preview = run_edit({"--repo", dir.path(), "apply", "--preview"}, RunOptions{.input = request});
  EXPECT_EQ(preview.status, 0);
  EXPECT_NE(preview.out.find(R"("preview":[{"after":"return 0;","before":"return 1;","end_byte":24,"start_byte":15,"truncated":false}])"),
            std::string::npos)
      << preview.out;
  EXPECT_EQ(dir.read("src/main.c"), "int main() {\n  return 1;\n}\n");

  const auto apply = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = request});
  EXPECT_EQ(apply.status, 0) << apply.out;
  const std::string new_rev = revision("int main() {\n  return 0;\n}\n");
  EXPECT_EQ(apply.out, R"({"data":{"applied":true,"bytes_after":27,"bytes_before":27,"changed":true,"durability_warning":null,)"
                       R"("path":"src/main.c","replacements":1,"revision_after":")" + new_rev +
                       R"(","revision_before":")" + rev + R"("},"ok":true,"version":1})" "\n");
  EXPECT_EQ(member(run_edit({"--repo", dir.path(), "read", "src/main.c"}).out, "revision"), new_rev);

  const auto stale = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = request});
  EXPECT_EQ(stale.status, 2);
  EXPECT_EQ(stale.out, failure_line("source changed; current revision is " + new_rev + "; read the affected range and retry",
                               "stale_revision"));
  EXPECT_EQ(dir.list("src"), std::vector<std::string>{"main.c"});
}

// The new content as published and as named by its revision, whether the
// edits leave the unchanged stretches in place, cancel out or are many.
TEST(Apply, NewContentExactlyAsEdited) {
  const struct {
    const char* name;
    std::string before;
    std::string edits;
    std::string after;
  } cases[] = {
      {"one line", "a\nb\nc\n", R"({"kind":"lines","start":2,"end":3,"text":"B\n"})", "a\nB\nc\n"},
      {"first and last", "a\nb\nc", R"({"kind":"lines","start":1,"end":2,"text":""},{"kind":"lines","start":3,"end":3,"text":"+"})",
       "b\n+c"},
      {"all of it", "a\nb\n", R"({"kind":"lines","start":1,"end":3,"text":""})", ""},
      {"from empty", "", R"({"kind":"lines","start":1,"end":1,"text":"new\n"})", "new\n"},
      {"cancelling", "ab", R"({"kind":"replace","old":"a","new":"ab","count":1},{"kind":"replace","old":"b","new":"","count":1})", "ab"},
      {"same text", "keep\n", R"({"kind":"replace","old":"keep","new":"keep","count":1})", "keep\n"},
      {"many", "0123456789\n",
       R"({"kind":"replace","old":"1","new":"<1>","count":1},{"kind":"replace","old":"2","new":"","count":1},)"
       R"({"kind":"replace","old":"3","new":"<3>","count":1},{"kind":"replace","old":"4","new":"<4>","count":1},)"
       R"({"kind":"replace","old":"5","new":"<5>","count":1},{"kind":"replace","old":"6","new":"<6>","count":1},)"
       R"({"kind":"replace","old":"7","new":"<7>","count":1},{"kind":"replace","old":"8","new":"<8>","count":1},)"
       R"({"kind":"replace","old":"9","new":"<9>","count":1})",
       "0<1><3><4><5><6><7><8><9>\n"},
      {"many cancelling", "abcdefghij",
       R"({"kind":"replace","old":"a","new":"ab","count":1},{"kind":"replace","old":"b","new":"","count":1},)"
       R"({"kind":"replace","old":"c","new":"cd","count":1},{"kind":"replace","old":"d","new":"","count":1},)"
       R"({"kind":"replace","old":"e","new":"ef","count":1},{"kind":"replace","old":"f","new":"","count":1},)"
       R"({"kind":"replace","old":"g","new":"gh","count":1},{"kind":"replace","old":"h","new":"","count":1},)"
       R"({"kind":"replace","old":"i","new":"ij","count":1},{"kind":"replace","old":"j","new":"","count":1})",
       "abcdefghij"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("f.txt", c.before);
    const std::string request =
        R"({"path":"f.txt","revision":")" + revision(c.before) + R"(","edits":[)" + c.edits + "]}";
    const auto r = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = request});
    const bool changed = c.after != c.before;
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, r.out.find(R"(,"durability_warning")")),
              R"({"data":{"applied":)" + std::string(changed ? "true" : "false") + R"(,"bytes_after":)" +
                  std::to_string(c.after.size()) + R"(,"bytes_before":)" + std::to_string(c.before.size()) +
                  R"(,"changed":)" + (changed ? "true" : "false"));
    EXPECT_EQ(member(r.out, "revision_after"), testing::digest(c.after));
    EXPECT_EQ(dir.read("f.txt"), c.after);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"f.txt"});
  }
}

// A file capability grants privilege as set-user-ID does; carrying it over to
// new content would keep that privilege, so such a file is not edited.
TEST(Apply, FileWithCapabilitiesIsReadButNotEdited) {
  constexpr const char* kCapability = "security.capability";
  TempDir dir;
  dir.write("tool", "old\n", 0755);
  const std::string path = dir / "tool";
  // cap_setuid=ep as the kernel stores it (revision 2, little-endian words).
  const std::uint32_t words[5] = {VFS_CAP_REVISION_2 | VFS_CAP_FLAGS_EFFECTIVE, 1U << CAP_SETUID, 0, 0, 0};
  if (::setxattr(path.c_str(), kCapability, words, sizeof words, 0) != 0)
    GTEST_SKIP() << "cannot set file capabilities here: errno " << errno;

  const auto read = run_edit({"--repo", dir.path(), "read", "tool"});
  EXPECT_EQ(read.status, 0) << read.out;
  const std::string request = edit_request("tool", revision("old\n"), "old", "new");
  const auto preview = run_edit({"--repo", dir.path(), "apply", "--preview"}, RunOptions{.input = request});
  EXPECT_EQ(preview.status, 0) << preview.out;

  const auto apply = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = request});
  EXPECT_EQ(apply.status, 2);
  EXPECT_EQ(apply.out, failure_line("special permission bits are unsupported"));
  EXPECT_EQ(apply.err, "");
  EXPECT_EQ(dir.read("tool"), "old\n");
  EXPECT_EQ(::getxattr(path.c_str(), kCapability, nullptr, 0), static_cast<ssize_t>(sizeof words));
  EXPECT_EQ(dir.list(), std::vector<std::string>{"tool"});

  // The same file without the capability is edited.
  ASSERT_EQ(::removexattr(path.c_str(), kCapability), 0);
  const auto plain = run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = request});
  EXPECT_EQ(plain.status, 0) << plain.out;
  EXPECT_EQ(dir.read("tool"), "new\n");
}

/// Runs tuvel-edit under a file-size limit of `limit` bytes, as `ulimit -f`
/// sets it, with SIGXFSZ at its default action. Input and output fit in a pipe.
testing::Run run_with_file_size_limit(const std::vector<std::string>& args, const std::string& input, rlim_t limit) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
  if (::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return {};
  ::close(in[1]);
  std::vector<std::string> store{testing::edit_binary()};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    ::signal(SIGXFSZ, SIG_DFL);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  testing::Run r;
  for (auto [fd, text] : {std::pair{out[0], &r.out}, std::pair{err[0], &r.err}}) {
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text->append(buf, static_cast<std::size_t>(n));
    ::close(fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// New content past the file-size limit is an ordinary failure, not a death
// by signal, and leaves no staging file.
TEST(Apply, FileSizeLimitIsAnOrdinaryFailure) {
  TempDir dir;
  dir.write("a.txt", "small\n");
  const std::string request = edit_request("a.txt", revision("small\n"), "small", std::string(4000, 'x'));
  for (const bool batch : {false, true}) {
    SCOPED_TRACE(batch ? "batch" : "apply");
    const auto r = batch ? run_with_file_size_limit({"--repo", dir.path(), "batch"},
                                                    R"({"op":"apply","request":)" + request + "}\n", 1024)
                         : run_with_file_size_limit({"--repo", dir.path(), "apply"}, request, 1024);
    EXPECT_EQ(r.status, batch ? 0 : 2);
    EXPECT_EQ(r.out, failure_line("File too large (os error 27)"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("a.txt"), "small\n");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"a.txt"});
  }
  // Within the limit the same request is applied.
  const auto within = run_with_file_size_limit({"--repo", dir.path(), "apply"}, request, 8192);
  EXPECT_EQ(within.status, 0) << within.out;
  EXPECT_EQ(dir.read("a.txt"), std::string(4000, 'x') + "\n");
}

// Batch servers and one-shot applies increment one counter file at once.
// Every apply lands whole or fails with a retryable code; none is lost.
TEST(Apply, ConcurrentWritersNeverLoseAnUpdate) {
  TempDir dir;
  dir.write("counter.txt", "0\n");
  dir.write("other.txt", "stable\n");
  constexpr int kWorkers = 4;
  constexpr int kRounds = 25;

  auto worker = [&](int index, int* landed, bool* clean) {
    std::unique_ptr<Child> batch;
    if (index % 2 == 0) batch = std::make_unique<Child>(testing::edit_binary(), std::vector<std::string>{"--repo", dir.path(), "batch"});
    auto ask = [&](const std::string& op, const std::string& body) -> std::string {
      if (batch) {
        batch->write(R"({"op":")" + op + R"(","request":)" + body + "}\n");
        return batch->read_line().value_or("");
      }
      if (op == "read") return run_edit({"--repo", dir.path(), "read", "counter.txt", "other.txt"}).out;
      return run_edit({"--repo", dir.path(), "apply"}, RunOptions{.input = body}).out;
    };
    for (int round = 0; round < kRounds; ++round) {
      const std::string read = ask("read", R"({"files":[{"path":"counter.txt"},{"path":"other.txt"}]})");
      if (read.find(R"("ok":true)") == std::string::npos) {
        // A reader meets a file renamed over while it reads; it just retries.
        if (read.find(R"("code":"concurrent_change")") == std::string::npos) {
          ADD_FAILURE() << read;
          *clean = false;
        }
        continue;
      }
      const std::string text = member(read, "text");
      const std::string rev = member(read, "revision");
      const std::string number = text.substr(0, text.find('\\'));
      const std::string next = std::to_string(std::stoi(number) + 1);
      const std::string answer = ask("apply", R"({"path":"counter.txt","revision":")" + rev +
                                                  R"(","edits":[{"kind":"lines","start":1,"end":2,"text":")" + next + R"(\n"}]})");
      if (answer.find(R"("applied":true)") != std::string::npos) {
        ++*landed;
      } else if (answer.find(R"("code":"busy")") == std::string::npos &&
                 answer.find(R"("code":"stale_revision")") == std::string::npos &&
                 answer.find(R"("code":"concurrent_change")") == std::string::npos) {
        ADD_FAILURE() << answer;
        *clean = false;
      }
    }
  };
  int landed[kWorkers] = {};
  bool clean[kWorkers] = {true, true, true, true};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkers; ++i) threads.emplace_back(worker, i, &landed[i], &clean[i]);
  for (auto& t : threads) t.join();
  int total = 0;
  for (int i = 0; i < kWorkers; ++i) {
    total += landed[i];
    EXPECT_TRUE(clean[i]);
  }
  EXPECT_GT(total, 0);
  EXPECT_EQ(dir.read("counter.txt"), std::to_string(total) + "\n");
  EXPECT_EQ(dir.read("other.txt"), "stable\n");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"counter.txt", "other.txt"}));
}

}  // namespace
}  // namespace tuvel
