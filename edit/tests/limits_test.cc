// SPDX-License-Identifier: Apache-2.0
// Bad input at the edges of every limit, sent through the real binary as a
// caller meets it: paths of 4096/4097 bytes, 2 MiB requests, 16 MiB sources and
// results, 32/33 files, 256/257 edits, 100,000/100,001 matches, nesting of
// 127/128 levels, invalid UTF-8 and NUL bytes in paths, sources, requests and
// replacements. Each gives its documented answer; nothing crashes or hangs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/testing.h"

namespace tuvel {
namespace {

using testing::RunOptions;
using testing::TempDir;
using testing::failure_line;
using testing::digest;
using testing::run_edit;
using testing::json_quote;

constexpr std::size_t kMiB = 1024 * 1024;
const std::string kMaxU64 = "18446744073709551615";

RunOptions stdin_of(std::string text) {
  RunOptions options;
  options.input = std::move(text);
  return options;
}

std::string read_ok(const std::string& path, const std::string& content, std::uint64_t total_lines, std::uint64_t start,
                    std::uint64_t end, const std::string& text) {
  return R"({"data":{"files":[{"end":)" + std::to_string(end) + R"(,"path":)" + json_quote(path) + R"(,"revision":")" +
         digest(content) + R"(","start":)" + std::to_string(start) + R"(,"text":)" + json_quote(text) +
         R"(,"total_lines":)" + std::to_string(total_lines) + R"(,"truncated":false}]},"ok":true,"version":1})" "\n";
}

std::string applied(const std::string& path, const std::string& before, const std::string& after,
                    std::uint64_t replacements) {
  return R"({"data":{"applied":true,"bytes_after":)" + std::to_string(after.size()) + R"(,"bytes_before":)" +
         std::to_string(before.size()) + R"(,"changed":true,"durability_warning":null,"path":)" + json_quote(path) +
         R"(,"replacements":)" + std::to_string(replacements) + R"(,"revision_after":")" + digest(after) +
         R"(","revision_before":")" + digest(before) + R"("},"ok":true,"version":1})" "\n";
}

std::string request(const std::string& path, const std::string& rev, const std::string& edits) {
  return R"({"path":)" + json_quote(path) + R"(,"revision":")" + rev + R"(","edits":[)" + edits + "]}";
}
std::string lines_edit(std::uint64_t start, std::uint64_t end, std::string_view text) {
  return R"({"kind":"lines","start":)" + std::to_string(start) + R"(,"end":)" + std::to_string(end) +
         R"(,"text":)" + json_quote(text) + "}";
}
std::string replace_edit(std::string_view old_text, std::string_view new_text, const std::string& count) {
  return R"({"kind":"replace","old":)" + json_quote(old_text) + R"(,"new":)" + json_quote(new_text) + R"(,"count":)" + count + "}";
}
std::string batch_read(const std::string& path) {
  return R"({"op":"read","request":{"files":[{"path":)" + json_quote(path) + "}]}}\n";
}

std::string repeated(std::string_view unit, std::size_t times) {
  std::string out;
  out.reserve(unit.size() * times);
  for (std::size_t k = 0; k < times; ++k) out += unit;
  return out;
}

/// A relative path of exactly `bytes` bytes: 199-byte directory names, then a
/// file name that makes up the rest.
std::string path_of(std::size_t bytes) {
  std::string path;
  while (bytes - path.size() > 200) path += std::string(199, 'd') + "/";
  return path + std::string(bytes - path.size(), 'f');
}

/// Creates `rel` under `root` with `content`, walking relative to directory
/// handles, since the whole path may pass the platform's path limit.
void write_deep(const std::string& root, const std::string& rel, const std::string& content) {
  int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  std::size_t at = 0;
  for (std::size_t slash; (slash = rel.find('/', at)) != std::string::npos; at = slash + 1) {
    const std::string name = rel.substr(at, slash - at);
    ::mkdirat(dir, name.c_str(), 0755);
    const int next = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(dir);
    ASSERT_GE(next, 0);
    dir = next;
  }
  const int fd = ::openat(dir, rel.substr(at).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ::close(dir);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
}

struct Case {
  const char* name;
  std::string input;     // batch lines
  std::string expected;  // answer lines
};

/// Sends every case through one batch server, then each on its own, and
/// compares the answers byte for byte.
void expect_batch_answers(const TempDir& dir, const std::vector<Case>& cases) {
  std::string input, expected;
  for (const auto& c : cases) {
    const auto alone = run_edit({"--repo", dir.path(), "batch"}, stdin_of(c.input));
    EXPECT_EQ(alone.status, 0) << c.name;
    EXPECT_EQ(alone.err, "") << c.name;
    EXPECT_EQ(alone.out, c.expected) << c.name;
    input += c.input;
    expected += c.expected;
  }
  const auto all = run_edit({"--repo", dir.path(), "batch"}, stdin_of(input));
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out, expected);
}

TEST(Limits, PathLengthAndBytes) {
  TempDir dir;
  const std::string at_limit = path_of(4096), over = path_of(4097);
  ASSERT_EQ(at_limit.size(), 4096u);
  write_deep(dir.path(), at_limit, "x\n");
  write_deep(dir.path(), over, "y\n");
  const std::string rev = digest("x\n");

  expect_batch_answers(dir, {
      {"4096-byte path", batch_read(at_limit), read_ok(at_limit, "x\n", 1, 1, 2, "x\n")},
      {"4097-byte path to an existing file", batch_read(over), failure_line("path exceeds 4096 bytes")},
      {"4097-byte path with a parent component", batch_read("../" + over.substr(3)),
       failure_line("path must be relative, with no parent traversal")},
      {"escaped NUL in a directory name", batch_read(std::string("d\0d/f", 5)), failure_line("Invalid argument (os error 22)")},
      {"escaped NUL in the file name", batch_read(std::string("f\0", 2)), failure_line("Invalid argument (os error 22)")},
      {"raw NUL inside the path string", std::string(R"({"op":"read","request":{"files":[{"path":"a)") + '\0' + "\"}]}}\n",
       failure_line("control character (\\u0000-\\u001F) found while parsing a string at line 1 column 44")},
      {"invalid UTF-8 inside the path string", R"({"op":"read","request":{"files":[{"path":"a)" "\xff" "\"}]}}\n",
       failure_line("invalid unicode code point at line 1 column 45")},
      {"lone trailing surrogate in the path", R"({"op":"read","request":{"files":[{"path":"\udc00"}]}}
)", failure_line("lone leading surrogate in hex escape at line 1 column 48")},
  });

  // The same edges through the one-shot commands.
  EXPECT_EQ(run_edit({"--repo", dir.path(), "read", at_limit}).out, read_ok(at_limit, "x\n", 1, 1, 2, "x\n"));
  const auto read_over = run_edit({"--repo", dir.path(), "read", over});
  EXPECT_EQ(read_over.status, 2);
  EXPECT_EQ(read_over.out, failure_line("path exceeds 4096 bytes"));
  const auto preview = run_edit({"--repo", dir.path(), "apply", "--preview"},
                                stdin_of(request(at_limit, rev, lines_edit(1, 2, "z\n"))));
  EXPECT_EQ(preview.status, 0) << preview.out;
  const auto apply_over = run_edit({"--repo", dir.path(), "apply"},
                                   stdin_of(request(over, digest("y\n"), lines_edit(1, 2, "z\n"))));
  EXPECT_EQ(apply_over.out, failure_line("path exceeds 4096 bytes"));
  const auto apply = run_edit({"--repo", dir.path(), "apply"},
                              stdin_of(request(at_limit, rev, lines_edit(1, 2, "z\n"))));
  EXPECT_EQ(apply.out, applied(at_limit, "x\n", "z\n", 1));

  // A path that is not UTF-8 cannot pass the command line.
  const auto not_utf8 = run_edit({"--repo", dir.path(), "read", "a\xff"});
  EXPECT_EQ(not_utf8.status, 2);
  EXPECT_EQ(not_utf8.out, "");
  EXPECT_EQ(not_utf8.err.rfind("error: ", 0), 0u) << not_utf8.err;
}

TEST(Limits, SixteenMiBSourcesAndResults) {
  TempDir dir;
  // 16,384 lines of 1,024 bytes: exactly 16 MiB.
  const std::string line = std::string(1023, 'a') + "\n";
  const std::string exact = repeated(line, 16 * 1024);
  ASSERT_EQ(exact.size(), 16 * kMiB);
  dir.write("exact.txt", exact);
  dir.write("over.txt", exact + "b");
  const std::string rev = digest(exact);

  const auto last_line = run_edit({"--repo", dir.path(), "read", "exact.txt", "--start", "16384", "--end", "16385"});
  EXPECT_EQ(last_line.status, 0);
  EXPECT_EQ(last_line.out, read_ok("exact.txt", exact, 16384, 16384, 16385, line));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "read", "over.txt"}).out, failure_line("source exceeds 16 MiB"));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("over.txt", rev, lines_edit(1, 1, "")))).out,
            failure_line("source exceeds 16 MiB"));

  // One byte more than 16 MiB of result is refused and the file stays as it was.
  const auto grows = run_edit({"--repo", dir.path(), "apply"},
                              stdin_of(request("exact.txt", rev, lines_edit(16385, 16385, "c"))));
  EXPECT_EQ(grows.status, 2);
  EXPECT_EQ(grows.out, failure_line("result exceeds 16 MiB"));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply", "--preview"},
                     stdin_of(request("exact.txt", rev, replace_edit("a\n", "ab\n", "16384")))).out,
            failure_line("result exceeds 16 MiB"));
  EXPECT_EQ(dir.read("exact.txt"), exact);

  // Exactly 16 MiB of result is published.
  const std::string result = exact.substr(0, exact.size() - 2) + "c\n";
  const auto same_size = run_edit({"--repo", dir.path(), "apply"},
                                  stdin_of(request("exact.txt", rev, lines_edit(16384, 16385, line.substr(1, 1022) + "c\n"))));
  EXPECT_EQ(same_size.status, 0);
  EXPECT_EQ(same_size.out, applied("exact.txt", exact, result, 1));
  EXPECT_EQ(dir.read("exact.txt"), result);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"exact.txt", "over.txt"}));
}

TEST(Limits, SourceBytesThatAreNotText) {
  TempDir dir;
  dir.write("nul.txt", std::string("ab\0\xff", 4));
  dir.write("bad.txt", "ab\xff" "cd");
  dir.write("cut.txt", "ab\xe2\x82");
  dir.write("overlong.txt", "ok\xc0\xaf");
  const std::string any_rev(64, 'f');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"nul.txt", "source contains NUL"},
      {"bad.txt", "source is not UTF-8: invalid utf-8 sequence of 1 bytes from index 2"},
      {"cut.txt", "source is not UTF-8: incomplete utf-8 byte sequence from index 2"},
      {"overlong.txt", "source is not UTF-8: invalid utf-8 sequence of 1 bytes from index 2"},
  };
  for (const auto& [path, message] : cases) {
    EXPECT_EQ(run_edit({"--repo", dir.path(), "read", path}).out, failure_line(message)) << path;
    // The snapshot is judged before the revision, for previews and applies alike.
    for (const char* mode : {"--preview", ""}) {
      std::vector<std::string> args{"--repo", dir.path(), "apply"};
      if (*mode) args.push_back(mode);
      EXPECT_EQ(run_edit(args, stdin_of(request(path, any_rev, lines_edit(1, 1, "x")))).out, failure_line(message))
          << path << " " << mode;
    }
  }
  EXPECT_EQ(dir.read("nul.txt"), std::string("ab\0\xff", 4));
}

TEST(Limits, FileEditAndMatchCounts) {
  TempDir dir;
  std::vector<std::string> args{"--repo", dir.path(), "read"};
  std::string expected_files;
  dir.write("f.txt", "x\n");
  for (int k = 0; k < 32; ++k) args.push_back("f.txt");
  const auto thirty_two = run_edit(args);
  EXPECT_EQ(thirty_two.status, 0);
  EXPECT_EQ(thirty_two.out.find(R"("truncated":true)"), std::string::npos);
  args.push_back("f.txt");
  EXPECT_EQ(run_edit(args).out, failure_line("read accepts 1..32 files"));

  // 256 one-line edits are applied; 257 (or none) are refused.
  const std::string lines300 = repeated("l\n", 300);
  dir.write("lines.txt", lines300);
  std::string edits256;
  for (int k = 1; k <= 256; ++k) edits256 += (k > 1 ? "," : "") + lines_edit(k, k + 1, "L\n");
  const std::string rev = digest(lines300);
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("lines.txt", rev, edits256 + "," + lines_edit(257, 258, "L\n")))).out,
            failure_line("apply accepts 1..256 edits"));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("lines.txt", rev, ""))).out,
            failure_line("apply accepts 1..256 edits"));
  const std::string after256 = repeated("L\n", 256) + repeated("l\n", 44);
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("lines.txt", rev, edits256))).out,
            applied("lines.txt", lines300, after256, 256));
  EXPECT_EQ(dir.read("lines.txt"), after256);

  // 100,000 occurrences are replaced; 100,001 are too many whatever the count says.
  const std::string many = repeated("ab\n", 100000);
  dir.write("many.txt", many);
  dir.write("more.txt", many + "ab\n");
  const std::string more_rev = digest(many + "ab\n");
  for (const char* count : {"100001", "100000", "1"})
    EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"},
                       stdin_of(request("more.txt", more_rev, replace_edit("ab", "c", count)))).out,
              failure_line("too many replacement matches"))
        << count;
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"},
                     stdin_of(request("many.txt", digest(many), replace_edit("ab", "c", "99999")))).out,
            failure_line("expected 99999 exact matches, found 100000; source was not changed", "match_count"));
  const auto all = run_edit({"--repo", dir.path(), "apply"},
                            stdin_of(request("many.txt", digest(many), replace_edit("ab", "c", "100000"))));
  EXPECT_EQ(all.out, applied("many.txt", many, repeated("c\n", 100000), 100000));
  EXPECT_EQ(dir.read("more.txt"), many + "ab\n");
}

TEST(Limits, LargestNumbers) {
  TempDir dir;
  dir.write("f.txt", "a\n");
  const std::string rev = digest("a\n");
  const std::string range = failure_line("expected 1 <= start <= end <= 2; end is exclusive", "invalid_range");
  EXPECT_EQ(run_edit({"--repo", dir.path(), "read", "f.txt", "--start", kMaxU64}).out, range);
  EXPECT_EQ(run_edit({"--repo", dir.path(), "read", "f.txt", "--start", "1", "--end", kMaxU64}).out, range);
  const std::string max_lines = R"({"kind":"lines","start":)" + kMaxU64 + R"(,"end":)" + kMaxU64 + R"(,"text":""})";
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("f.txt", rev, max_lines))).out, range);
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(request("f.txt", rev, replace_edit("a", "b", kMaxU64)))).out,
            failure_line("expected 18446744073709551615 exact matches, found 1; source was not changed", "match_count"));
  EXPECT_EQ(dir.read("f.txt"), "a\n");
}

TEST(Limits, RequestTexts) {
  TempDir dir;
  dir.write("f.txt", "a\n");
  const std::string rev = digest("a\n");

  // A request of exactly 2 MiB whose replacement fills it is applied whole;
  // one byte more is refused unread. Through apply and as a batch line.
  const std::string shell = request("f.txt", rev, lines_edit(1, 2, ""));
  const std::string fill(2 * kMiB - shell.size(), 'x');
  const std::string at_limit = request("f.txt", rev, lines_edit(1, 2, fill));
  ASSERT_EQ(at_limit.size(), 2 * kMiB);
  const auto over = run_edit({"--repo", dir.path(), "apply"},
                             stdin_of(request("f.txt", rev, lines_edit(1, 2, fill + "x"))));
  EXPECT_EQ(over.out, failure_line("request exceeds 2 MiB"));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(at_limit)).out, applied("f.txt", "a\n", fill, 1));
  EXPECT_EQ(dir.read("f.txt"), fill);

  const std::string batch_shell = R"({"op":"apply","request":)" + request("f.txt", digest(fill), lines_edit(1, 2, "")) + "}\n";
  const std::string batch_fill(2 * kMiB - batch_shell.size(), 'y');
  const std::string batch_line = R"({"op":"apply","request":)" + request("f.txt", digest(fill), lines_edit(1, 2, batch_fill)) + "}\n";
  ASSERT_EQ(batch_line.size(), 2 * kMiB);
  const auto batch = run_edit({"--repo", dir.path(), "batch"}, stdin_of(batch_line));
  EXPECT_EQ(batch.out, applied("f.txt", fill, batch_fill, 1));
  dir.write("f.txt", "a\n");

  // Nesting: level 127 is read (the edit then fails on its unknown key), level
  // 128 is refused at its opening bracket, and a megabyte of brackets likewise.
  // Edits are read whole before they are matched, so the brackets nest there.
  const std::string prefix = R"({"path":"f.txt","revision":")" + rev + R"(","edits":[{"kind":"lines","zzz":)";
  auto nested = [&](std::size_t arrays) { return prefix + std::string(arrays, '[') + std::string(arrays, ']') + "}]}"; };
  // The request object, "edits" and the edit are levels 1 to 3.
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(nested(124))).out,
            failure_line("unknown field `zzz`, expected one of `start`, `end`, `text` at line 1 column " +
                    std::to_string(prefix.size() + 2 * 124 + 2)));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(nested(125))).out,
            failure_line("recursion limit exceeded at line 1 column " + std::to_string(prefix.size() + 125)));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "apply"}, stdin_of(prefix + std::string(kMiB, '['))).out,
            failure_line("recursion limit exceeded at line 1 column " + std::to_string(prefix.size() + 125)));
  // A batch body before "op" is read as plain JSON; the envelope is level 1.
  EXPECT_EQ(run_edit({"--repo", dir.path(), "batch"}, stdin_of(R"({"request":)" + std::string(kMiB, '[') + "\n")).out,
            failure_line("recursion limit exceeded at line 1 column 138"));
  EXPECT_EQ(run_edit({"--repo", dir.path(), "batch"}, stdin_of(std::string(kMiB, '{') + "\n" + batch_read("f.txt"))).out,
            failure_line("key must be a string at line 1 column 2") + read_ok("f.txt", "a\n", 1, 1, 2, "a\n"));

  // NUL and invalid UTF-8 inside requests and replacements.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {request("f.txt", rev, replace_edit("a", std::string("b\0c", 3), "1")), failure_line("replacement contains NUL")},
      {request("f.txt", rev, lines_edit(1, 2, std::string("\0", 1))), failure_line("replacement contains NUL")},
      {request("f.txt", rev, replace_edit(std::string("a\0", 2), "b", "1")),
       failure_line("expected 1 exact matches, found 0; source was not changed", "match_count")},
      {std::string(R"({"path":"f.txt)") + '\0' + R"("})", failure_line("control character (\\u0000-\\u001F) found while parsing a string at line 1 column 15")},
      {std::string(R"({"path":"f.txt)") + "\xc3" + R"("})", failure_line("invalid unicode code point at line 1 column 16")},
      {request("f.txt", rev, lines_edit(1, 2, "b")) + '\0',
       failure_line("trailing characters at line 1 column " + std::to_string(request("f.txt", rev, lines_edit(1, 2, "b")).size() + 1))},
      {std::string(1, '\0'), failure_line("expected value at line 1 column 1")},
      {"\xef\xbb\xbf{}", failure_line("expected value at line 1 column 1")},
  };
  for (const auto& [input, expected] : cases) {
    const auto r = run_edit({"--repo", dir.path(), "apply"}, stdin_of(input));
    EXPECT_EQ(r.status, 2) << json_quote(input);
    EXPECT_EQ(r.out, expected) << json_quote(input);
  }
  EXPECT_EQ(dir.read("f.txt"), "a\n");

  // A batch server answers broken lines in order and serves the next one.
  const auto stream = run_edit({"--repo", dir.path(), "batch"},
                               stdin_of(std::string("\0\n\xff\n", 4) + batch_read("f.txt")));
  EXPECT_EQ(stream.status, 0);
  EXPECT_EQ(stream.out, failure_line("expected value at line 1 column 1") + failure_line("expected value at line 1 column 1") +
                            read_ok("f.txt", "a\n", 1, 1, 2, "a\n"));
}

}  // namespace
}  // namespace tuvel
