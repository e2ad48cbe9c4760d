// SPDX-License-Identifier: Apache-2.0
// race_attack: runs reads, previews and applies of tuvel-edit in a loop (batch
// servers and one-shot processes) while attacker threads keep swapping the
// directories and files on the requested paths, and the repository directory
// itself, for links to an outside tree, hard links, FIFOs and other files.
//
// Passes when no answer carries an outside file's text or revision, no outside
// file changes, no process blocks or crashes, every answer is one well-formed
// envelope line that follows the output rules, every failure is a documented
// message with its code, and no staging file is left anywhere.
//
// Usage: race_attack <path-to-tuvel-edit> <seconds>
#include <blake3.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A process that answers nothing for this long counts as blocked.
constexpr auto kAnswerTimeout = std::chrono::seconds(10);
constexpr const char* kCanary = "CANARY-3f9c1e-outside-the-repository-must-never-be-read";

// ---------------------------------------------------------------------------
// Findings and counters

std::mutex g_report_mutex;
std::vector<std::string> g_failures;
std::map<std::string, long> g_messages;  // failure code + message (numbers folded) -> count

void fail(const std::string& what) {
  std::lock_guard lock(g_report_mutex);
  if (g_failures.size() < 10000) g_failures.push_back(what);
}

void count_message(const std::string& code, const std::string& message) {
  static const std::regex digits("[0-9a-f]{64}|[0-9]+");
  std::lock_guard lock(g_report_mutex);
  ++g_messages[code + ": " + std::regex_replace(message, digits, "#")];
}

std::atomic<long> g_reads{0}, g_previews{0}, g_applies{0}, g_applied{0}, g_foreign_applies{0};
std::atomic<long> g_ok{0}, g_failed{0}, g_processes{0};

// ---------------------------------------------------------------------------
// JSON: a strict parser that also holds the text to the output rules (compact,
// sorted unique keys, exact string escapes, plain integers, valid UTF-8).

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's value, or a number's digits
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* get(std::string_view key) const {
    for (const auto& [k, v] : members)
      if (k == key) return &v;
    return nullptr;
  }
  bool is_string() const { return kind == Kind::String; }
};

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  /// The value, or an empty optional with error() set.
  std::optional<Json> parse() {
    Json v;
    if (!value(v, 0)) return std::nullopt;
    if (i_ != s_.size()) return bad("trailing bytes");
    return v;
  }
  const std::string& error() const { return error_; }

 private:
  std::nullopt_t bad(const std::string& why) {
    if (error_.empty()) error_ = why + " at byte " + std::to_string(i_);
    return std::nullopt;
  }
  bool fails(const std::string& why) {
    bad(why);
    return false;
  }
  bool eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return fails("bad literal");
    i_ += word.size();
    return true;
  }

  bool value(Json& v, int depth) {
    if (depth > 64) return fails("nesting too deep");
    if (i_ >= s_.size()) return fails("end of text");
    switch (s_[i_]) {
      case 'n': v.kind = Json::Kind::Null; return literal("null");
      case 't': v.kind = Json::Kind::Bool; v.boolean = true; return literal("true");
      case 'f': v.kind = Json::Kind::Bool; v.boolean = false; return literal("false");
      case '"': v.kind = Json::Kind::String; return string(v.text);
      case '[': {
        v.kind = Json::Kind::Array;
        ++i_;
        if (eat(']')) return true;
        do {
          v.items.emplace_back();
          if (!value(v.items.back(), depth + 1)) return false;
        } while (eat(','));
        return eat(']') || fails("expected , or ]");
      }
      case '{': {
        v.kind = Json::Kind::Object;
        ++i_;
        if (eat('}')) return true;
        do {
          std::string key;
          if (i_ >= s_.size() || s_[i_] != '"') return fails("expected key");
          if (!string(key)) return false;
          if (!v.members.empty() && !(v.members.back().first < key)) return fails("keys not in ascending order: " + key);
          if (!eat(':')) return fails("expected :");
          v.members.emplace_back(std::move(key), Json{});
          if (!value(v.members.back().second, depth + 1)) return false;
        } while (eat(','));
        return eat('}') || fails("expected , or }");
      }
      default: v.kind = Json::Kind::Number; return number(v.text);
    }
  }

  bool number(std::string& out) {
    const std::size_t begin = i_;
    eat('-');
    if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9') return fails("bad value");
    if (s_[i_] == '0') {
      ++i_;
    } else {
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    }
    if (i_ < s_.size() && (s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E')) return fails("number is not a plain integer");
    out.assign(s_.substr(begin, i_ - begin));
    if (out == "-0") return fails("negative zero");
    return true;
  }

  static int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // uppercase digits break the output rules
  }

  bool string(std::string& out) {
    ++i_;  // opening quote
    while (true) {
      if (i_ >= s_.size()) return fails("end of text in string");
      const auto c = static_cast<unsigned char>(s_[i_]);
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c < 0x20) return fails("unescaped control character");
      if (c == '\\') {
        if (i_ + 1 >= s_.size()) return fails("end of text in escape");
        const char e = s_[i_ + 1];
        i_ += 2;
        switch (e) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case 'b': out += '\b'; break;
          case 't': out += '\t'; break;
          case 'n': out += '\n'; break;
          case 'f': out += '\f'; break;
          case 'r': out += '\r'; break;
          case 'u': {
            if (i_ + 4 > s_.size() || s_[i_] != '0' || s_[i_ + 1] != '0') return fails("\\u escape above U+001F");
            const int hi = hex(s_[i_ + 2]), lo = hex(s_[i_ + 3]);
            if (hi < 0 || lo < 0) return fails("\\u escape not lowercase hex");
            const int code = hi * 16 + lo;
            if (code >= 0x20 || code == 8 || code == 9 || code == 10 || code == 12 || code == 13)
              return fails("\\u escape where the rules give another form");
            out += static_cast<char>(code);
            i_ += 4;
            break;
          }
          default: return fails("escape outside the output rules");
        }
        continue;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
        ++i_;
        continue;
      }
      // One UTF-8 sequence: shortest form, no surrogates, at most U+10FFFF.
      int len = 0;
      std::uint32_t cp = 0;
      if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
      else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
      else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
      else return fails("invalid UTF-8");
      if (i_ + static_cast<std::size_t>(len) > s_.size()) return fails("truncated UTF-8");
      for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s_[i_ + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) return fails("invalid UTF-8");
        cp = (cp << 6) | (b & 0x3F);
      }
      if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return fails("invalid UTF-8");
      out.append(s_.substr(i_, static_cast<std::size_t>(len)));
      i_ += static_cast<std::size_t>(len);
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::string error_;
};

// ---------------------------------------------------------------------------
// The documented failure messages and their codes.

const std::map<std::string, std::string>& exact_messages() {
  static const std::map<std::string, std::string> table = {
      {"request exceeds 2 MiB", "io_or_request"},
      {"repo must be a directory", "io_or_request"},
      {"path must be relative, with no parent traversal", "io_or_request"},
      {"Git metadata cannot be edited", "io_or_request"},
      {"path exceeds 4096 bytes", "io_or_request"},
      {"filename is not UTF-8", "io_or_request"},
      {"source must be a regular file", "io_or_request"},
      {"refusing to replace a hard-linked file", "io_or_request"},
      {"source is read-only", "io_or_request"},
      {"special permission bits are unsupported", "io_or_request"},
      {"another writer holds the file lock; retry", "busy"},
      {"repo moved during source access", "io_or_request"},
      {"repo changed during access", "io_or_request"},
      {"source directory changed during access", "io_or_request"},
      {"source changed during access; read and retry", "concurrent_change"},
      {"source exceeds 16 MiB", "io_or_request"},
      {"source grew beyond 16 MiB", "io_or_request"},
      {"source contains NUL", "io_or_request"},
      {"read accepts 1..32 files", "io_or_request"},
      {"read output exceeds 64 KiB; request fewer files", "output_limit"},
      {"apply accepts 1..256 edits", "io_or_request"},
      {"replace requires nonempty old text and positive count", "io_or_request"},
      {"too many replacement matches", "io_or_request"},
      {"edits overlap or share an insertion point", "overlapping_edits"},
      {"replacement contains NUL", "io_or_request"},
      {"revision must be a BLAKE3 hex digest from read or tuvel-search", "io_or_request"},
      {"replacement size overflow", "size_limit"},
      {"result exceeds 16 MiB", "io_or_request"},
      {"publication requires a writer lock", "io_or_request"},
      {"could not reserve a staging file", "io_or_request"},
      {"atomic replacement would change source ownership", "io_or_request"},
      {"failed to write whole buffer", "io_or_request"},
      {"source content changed during edit", "io_or_request"},
  };
  return table;
}

struct Pattern {
  std::regex re;
  std::string code;
};

const std::vector<Pattern>& pattern_messages() {
  static const std::vector<Pattern> table = [] {
    const std::string at = " at line [0-9]+ column [0-9]+";
    std::vector<std::pair<std::string, std::string>> rows = {
        {"source is not UTF-8: (invalid utf-8 sequence of [0-9]+ bytes from index [0-9]+|incomplete utf-8 byte sequence from index [0-9]+)",
         "io_or_request"},
        {"expected 1 <= start <= end <= [0-9]+; end is exclusive", "invalid_range"},
        {"expected [0-9]+ exact matches, found [0-9]+; source was not changed", "match_count"},
        {"source changed; current revision is [0-9a-f]{64}; read the affected range and retry", "stale_revision"},
        // Decoder messages, each with its position.
        {"(EOF while parsing (a list|an object|a string|a value)|expected `:`|expected `,` or `\\]`|expected `,` or `\\}`"
         "|expected ident|expected value|invalid escape|invalid number|number out of range|invalid unicode code point"
         "|control character \\(\\\\u0000-\\\\u001F\\) found while parsing a string|key must be a string"
         "|lone leading surrogate in hex escape|unexpected end of hex escape|trailing comma|trailing characters"
         "|recursion limit exceeded)" + at,
         "io_or_request"},
        {"(missing|duplicate) field `[^`]*`" + at, "io_or_request"},
        {"unknown (field|variant) `[^`]*`, expected .*" + at, "io_or_request"},
        {"invalid (type|value|length) .*, expected .*" + at, "io_or_request"},
    };
    std::vector<Pattern> out;
    for (auto& [re, code] : rows) out.push_back({std::regex(re), code});
    return out;
  }();
  return table;
}

/// Empty when `message` is documented for `code`, else what is wrong.
std::string check_message(const std::string& code, const std::string& message) {
  const auto& exact = exact_messages();
  if (auto it = exact.find(message); it != exact.end())
    return it->second == code ? "" : "code " + code + " with message " + message;
  // "{text} (os error {n})" with the platform's text for n.
  static const std::regex os_error("(.+) \\(os error ([0-9]+)\\)");
  std::smatch m;
  if (std::regex_match(message, m, os_error)) {
    const int n = std::atoi(m[2].str().c_str());
    if (code != "io_or_request") return "operating-system error with code " + code;
    if (m[1].str() != std::strerror(n)) return "operating-system text differs from strerror(" + m[2].str() + ")";
    return "";
  }
  for (const auto& p : pattern_messages())
    if (std::regex_match(message, p.re)) return p.code == code ? "" : "code " + code + " with message " + message;
  return "undocumented message";
}

// ---------------------------------------------------------------------------
// Files and digests

std::string digest(const std::string& bytes) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  std::uint8_t out[BLAKE3_OUT_LEN];
  blake3_hasher_finalize(&hasher, out, BLAKE3_OUT_LEN);
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (auto b : out) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void put(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void must(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "race_attack: setup failed: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
  }
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// ---------------------------------------------------------------------------
// Child processes

struct Proc {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

Proc spawn(const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  must(::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0, "pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Proc p;
  const int rc = posix_spawn(&p.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  errno = rc;
  must(rc == 0, "spawn " + args[0]);
  p.in = in[1];
  p.out = out[0];
  p.err = err[0];
  ++g_processes;
  return p;
}

void write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the child is gone; its exit is judged elsewhere
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

/// Waits for `pid` until `deadline`; kills it when it has not ended by then.
/// Returns the wait status, or nullopt when it had to be killed.
std::optional<int> reap(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  while (true) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return status;
    if (Clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string describe_status(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

/// Reads what is available on `fd` into `buf`; false at end of file.
bool drain(int fd, std::string& buf) {
  char chunk[65536];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  buf.append(chunk, static_cast<std::size_t>(n));
  return true;
}

struct OneShot {
  bool blocked = false;
  int status = 0;
  std::string out, err;
};

OneShot run_once(const std::vector<std::string>& args, const std::string& input) {
  Proc p = spawn(args);
  write_all(p.in, input);
  ::close(p.in);
  const auto deadline = Clock::now() + kAnswerTimeout;
  OneShot r;
  int out = p.out, err = p.err;
  while (out >= 0 || err >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      r.blocked = true;
      break;
    }
    pollfd fds[2];
    nfds_t n = 0;
    if (out >= 0) fds[n++] = {out, POLLIN, 0};
    if (err >= 0) fds[n++] = {err, POLLIN, 0};
    if (::poll(fds, n, static_cast<int>(left)) < 0 && errno != EINTR) break;
    for (nfds_t k = 0; k < n; ++k) {
      if (fds[k].revents == 0) continue;
      int& fd = fds[k].fd == out ? out : err;
      if (!drain(fd, fds[k].fd == p.out ? r.out : r.err)) {
        ::close(fd);
        fd = -1;
      }
    }
  }
  if (out >= 0) ::close(out);
  if (err >= 0) ::close(err);
  auto status = reap(p.pid, r.blocked ? Clock::now() : deadline);
  if (!status) r.blocked = true;
  else r.status = *status;
  return r;
}

/// A batch server held in lock-step: one line out, one answer line back.
class Batch {
 public:
  explicit Batch(const std::vector<std::string>& args) : p_(spawn(args)) {}

  /// The answer line without its line feed; nullopt when the server ended or
  /// blocked (recorded as a failure).
  std::optional<std::string> ask(const std::string& line) {
    write_all(p_.in, line + "\n");
    const auto deadline = Clock::now() + kAnswerTimeout;
    while (true) {
      if (auto nl = pending_.find('\n'); nl != std::string::npos) {
        std::string answer = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        if (!pending_.empty()) fail("batch wrote more than one line for: " + line);
        return answer;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        fail("batch server blocked (no answer in time) on: " + line);
        dead_ = blocked_ = true;
        return std::nullopt;
      }
      pollfd fds[2] = {{p_.out, POLLIN, 0}, {p_.err, POLLIN, 0}};
      if (::poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) return std::nullopt;
      if (fds[1].revents && !drain(p_.err, err_)) fds[1].fd = -1;
      if (fds[0].revents && !drain(p_.out, pending_)) {
        fail("batch server ended its output early on: " + line + " (partial: " + pending_ + ")");
        dead_ = true;
        return std::nullopt;
      }
    }
  }

  bool dead() const { return dead_; }

  /// Closes the input and checks the server ends with status 0 and said
  /// nothing else.
  void finish() {
    ::close(p_.in);
    const auto deadline = Clock::now() + kAnswerTimeout;
    std::string rest;
    int out = p_.out, err = p_.err;
    while ((out >= 0 || err >= 0) && Clock::now() < deadline && !blocked_) {
      pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
      if (::poll(fds, 2, 100) < 0 && errno != EINTR) break;
      if (fds[0].revents && !drain(out, rest)) { ::close(out); out = -1; }
      if (fds[1].revents && !drain(err, err_)) { ::close(err); err = -1; }
    }
    if (out >= 0) ::close(out);
    if (err >= 0) ::close(err);
    const auto status = reap(p_.pid, blocked_ ? Clock::now() : deadline);
    if (!blocked_) {
      if (!status) fail("batch server did not end after its input closed");
      else if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) fail("batch server: " + describe_status(*status));
    }
    if (!(pending_ + rest).empty()) fail("batch server wrote unasked output: " + pending_ + rest);
    if (!err_.empty()) fail("batch server wrote to standard error: " + err_);
  }

 private:
  Proc p_;
  std::string pending_, err_;
  bool dead_ = false;     // no more questions: it ended or blocked
  bool blocked_ = false;  // it stopped answering; killed at the end
};

// ---------------------------------------------------------------------------
// The tree under attack
//
//   base/repo/            the repository (requests name the paths below)
//     top.txt             swapped with top.txt.{link,hard,fifo,other}
//     a/b/f.txt           a/b swapped with a/b.link -> base/outside/a/b
//     c/f.txt             c swapped with c.link -> base/outside/c
//     d/e/f.txt           d/e exchanged with d/e2, moved to base/away and back; d renamed
//     g/h/f.txt           swapped with g/h/f.txt.{link,hard,fifo,other}
//   base/repo.link -> base/decoy, base/decoy2   swapped in for base/repo
//   base/outside/         canary files (and the hard-link targets)

struct Tree {
  std::string base, repo, outside;
  std::vector<std::string> canary_files;     // outside, must never be read
  std::vector<std::string> forbidden;        // strings no answer may hold
  std::vector<std::string> foreign_revisions;  // applies with these must never succeed
  std::map<std::string, std::string> outside_digests;  // every outside file
  std::map<std::string, ino_t> outside_inodes;
  std::set<std::string> outside_listing;
};

const std::vector<std::string> kTargets = {"top.txt", "a/b/f.txt", "c/f.txt", "d/e/f.txt", "g/h/f.txt"};
// Names that are links or odd files at rest, read now and then.
const std::vector<std::string> kSideTargets = {"a/b.link/f.txt", "c.link/f.txt", "top.txt.link", "top.txt.hard",
                                               "top.txt.fifo", "g/h/f.txt.link", "g/h/f.txt.fifo"};

std::set<std::string> listing(const std::string& root) {
  std::set<std::string> names;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    names.insert(it->path().string());
  return names;
}

void fill_repo(const std::string& dir, const std::string& marker) {
  for (const auto& t : kTargets) put(dir + "/" + t, marker + " " + t + " v0\nsecond line\nthird line\n");
  fs::create_directories(dir + "/d/e2");
  put(dir + "/d/e2/f.txt", marker + " d/e2/f.txt\nsecond line\n");
}

Tree build_tree() {
  char tmpl[] = "/tmp/tuvel-race-XXXXXX";
  must(::mkdtemp(tmpl) != nullptr, "mkdtemp");
  Tree t;
  t.base = tmpl;
  t.repo = t.base + "/repo";
  t.outside = t.base + "/outside";
  const std::string canary_text = std::string(kCanary) + "\nsecond line\nthird line\n";
  for (const auto& rel : {"a/b/f.txt", "c/f.txt", "top.txt", "g.txt"}) {
    put(t.outside + "/" + rel, canary_text + rel + "\n");
    t.canary_files.push_back(t.outside + "/" + rel);
  }
  put(t.outside + "/hard.txt", "hard-linked outside file\nsecond line\n");
  put(t.outside + "/hard2.txt", "another hard-linked outside file\nsecond line\n");

  fill_repo(t.repo, "inside");
  fill_repo(t.base + "/decoy", "decoy");
  fill_repo(t.base + "/decoy2", "decoy2");
  fs::create_directories(t.base + "/away");
  must(::symlink((t.outside + "/a/b").c_str(), (t.repo + "/a/b.link").c_str()) == 0, "symlink a/b.link");
  must(::symlink((t.outside + "/c").c_str(), (t.repo + "/c.link").c_str()) == 0, "symlink c.link");
  must(::symlink((t.base + "/decoy").c_str(), (t.base + "/repo.link").c_str()) == 0, "symlink repo.link");

  // Outside files are writable, so a confused writer could change them.
  for (const auto& path : listing(t.outside)) {
    if (!fs::is_regular_file(path)) continue;
    ::chmod(path.c_str(), 0666);
    const std::string bytes = slurp(path);
    t.outside_digests[path] = digest(bytes);
    t.outside_inodes[path] = inode_of(path);
    if (bytes.find(kCanary) != std::string::npos) t.forbidden.push_back(digest(bytes));
    t.foreign_revisions.push_back(digest(bytes));
  }
  t.forbidden.push_back(kCanary);
  return t;
}

// ---------------------------------------------------------------------------
// Attackers

std::atomic<bool> g_stop{false};
std::shared_mutex g_repo_lock;  // exclusive while the repository itself is swapped
std::atomic<long> g_swaps_dir{0}, g_swaps_file{0}, g_swaps_rename{0}, g_swaps_repo{0};

void pause_us(std::mt19937& rng, int max_us) {
  std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, max_us)(rng)));
}

bool swap_names(const std::string& a, const std::string& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

/// Swaps a directory on the path for a link to the outside tree and back.
void attack_dirs(const Tree& t, unsigned seed) {
  std::mt19937 rng(seed);
  const std::vector<std::pair<std::string, std::string>> pairs = {{t.repo + "/a/b", t.repo + "/a/b.link"},
                                                                  {t.repo + "/c", t.repo + "/c.link"}};
  while (!g_stop) {
    {
      std::shared_lock lock(g_repo_lock);
      const auto& [dir, link] = pairs[rng() % pairs.size()];
      if (swap_names(dir, link)) {
        pause_us(rng, 300);
        if (!swap_names(dir, link)) fail("attacker could not swap back " + dir);
        ++g_swaps_dir;
      }
    }
    pause_us(rng, 300);
  }
}

/// Swaps a file for a link out, a hard link to an outside file, a FIFO or
/// another file, and back; repairs the spare names when an apply that raced
/// the swap renamed its result over one of them.
void attack_file(const Tree& t, const std::string& rel, const std::string& link_target, const std::string& hard_target,
                 unsigned seed) {
  std::mt19937 rng(seed);
  const std::string main = t.repo + "/" + rel;
  const ino_t hard_ino = inode_of(hard_target);
  auto repair = [&](const std::string& kind) {
    const std::string spare = main + "." + kind;
    struct stat st {};
    const bool exists = ::lstat(spare.c_str(), &st) == 0;
    bool good = exists;
    if (kind == "link") good = good && S_ISLNK(st.st_mode);
    if (kind == "hard") good = good && st.st_ino == hard_ino;
    if (kind == "fifo") good = good && S_ISFIFO(st.st_mode);
    if (kind == "other") good = good && S_ISREG(st.st_mode);
    if (good) return;
    ::unlink(spare.c_str());
    if (kind == "link") must(::symlink(link_target.c_str(), spare.c_str()) == 0, "symlink " + spare);
    if (kind == "hard") must(::link(hard_target.c_str(), spare.c_str()) == 0, "link " + spare);
    if (kind == "fifo") must(::mkfifo(spare.c_str(), 0644) == 0, "mkfifo " + spare);
    if (kind == "other") put(spare, "a different file\nsecond line\n");
  };
  const std::vector<std::string> kinds = {"link", "hard", "fifo", "other"};
  for (const auto& k : kinds) repair(k);
  while (!g_stop) {
    {
      std::shared_lock lock(g_repo_lock);
      const std::string& kind = kinds[rng() % kinds.size()];
      if (swap_names(main, main + "." + kind)) {
        pause_us(rng, 300);
        if (!swap_names(main, main + "." + kind)) fail("attacker could not swap back " + main);
        ++g_swaps_file;
      }
      struct stat st {};
      if (::lstat(main.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        ::unlink(main.c_str());
        put(main, "restored " + rel + "\nsecond line\n");
      }
      repair(kind);
    }
    pause_us(rng, 300);
  }
}

/// Exchanges sibling directories, moves one out of the repository and back,
/// and renames a directory away and back.
void attack_renames(const Tree& t, unsigned seed) {
  std::mt19937 rng(seed);
  const std::string d = t.repo + "/d";
  while (!g_stop) {
    {
      std::shared_lock lock(g_repo_lock);
      bool done = false;
      switch (rng() % 3) {
        case 0:
          if (swap_names(d + "/e", d + "/e2")) {
            pause_us(rng, 300);
            done = swap_names(d + "/e", d + "/e2");
            if (!done) fail("attacker could not exchange back d/e");
          }
          break;
        case 1:
          if (::rename((d + "/e").c_str(), (t.base + "/away/e").c_str()) == 0) {
            pause_us(rng, 300);
            done = ::rename((t.base + "/away/e").c_str(), (d + "/e").c_str()) == 0;
            if (!done) fail("attacker could not move back d/e");
          }
          break;
        default:
          if (::rename(d.c_str(), (t.repo + "/d.moved").c_str()) == 0) {
            pause_us(rng, 300);
            done = ::rename((t.repo + "/d.moved").c_str(), d.c_str()) == 0;
            if (!done) fail("attacker could not rename back d");
          }
      }
      if (done) ++g_swaps_rename;
    }
    pause_us(rng, 300);
  }
}

/// Replaces the repository directory itself with a link to another directory,
/// with another directory, or with nothing, and back.
void attack_repo(const Tree& t, unsigned seed) {
  std::mt19937 rng(seed);
  while (!g_stop) {
    {
      std::unique_lock lock(g_repo_lock);
      bool done = false;
      switch (rng() % 3) {
        case 0:
          if (swap_names(t.repo, t.base + "/repo.link")) {
            pause_us(rng, 500);
            done = swap_names(t.repo, t.base + "/repo.link");
          }
          break;
        case 1:
          if (swap_names(t.repo, t.base + "/decoy2")) {
            pause_us(rng, 500);
            done = swap_names(t.repo, t.base + "/decoy2");
          }
          break;
        default:
          if (::rename(t.repo.c_str(), (t.base + "/repo.away").c_str()) == 0) {
            pause_us(rng, 500);
            done = ::rename((t.base + "/repo.away").c_str(), t.repo.c_str()) == 0;
          }
      }
      if (!done) fail("attacker could not put the repository back");
      ++g_swaps_repo;
    }
    pause_us(rng, 3000);
  }
}

// ---------------------------------------------------------------------------
// Workers

enum class Op { Read, Preview, Apply };

struct Asked {
  Op op = Op::Read;
  std::string what;       // for reports
  std::string revision;   // the revision sent with an edit
  bool foreign = false;   // the revision is an outside file's: must never succeed
  std::size_t files = 0;  // files of a read
};

/// Checks one answer line; returns the envelope when it parsed.
std::optional<Json> examine(const Tree& t, const std::string& line, const Asked& asked) {
  for (const auto& f : t.forbidden)
    if (line.find(f) != std::string::npos) fail("answer holds outside content (" + f.substr(0, 16) + "...) for " + asked.what + ": " + line);
  Parser parser(line);
  auto v = parser.parse();
  if (!v) {
    fail("malformed answer (" + parser.error() + ") for " + asked.what + ": " + line);
    return std::nullopt;
  }
  const Json* ok = v->get("ok");
  const Json* version = v->get("version");
  if (v->kind != Json::Kind::Object || ok == nullptr || ok->kind != Json::Kind::Bool || version == nullptr ||
      version->text != "1" || v->members.size() != 3) {
    fail("not an envelope for " + asked.what + ": " + line);
    return std::nullopt;
  }
  if (!ok->boolean) {
    ++g_failed;
    const Json* error = v->get("error");
    const Json* code = error ? error->get("code") : nullptr;
    const Json* message = error ? error->get("message") : nullptr;
    if (!code || !message || !code->is_string() || !message->is_string() || error->members.size() != 2) {
      fail("bad error object for " + asked.what + ": " + line);
      return std::nullopt;
    }
    if (auto why = check_message(code->text, message->text); !why.empty())
      fail(why + " for " + asked.what + ": " + line);
    count_message(code->text, message->text);
    return v;
  }
  ++g_ok;
  const Json* data = v->get("data");
  if (data == nullptr || data->kind != Json::Kind::Object) {
    fail("success without data for " + asked.what + ": " + line);
    return std::nullopt;
  }
  if (asked.op == Op::Read) {
    const Json* files = data->get("files");
    if (!files || files->kind != Json::Kind::Array || files->items.size() != asked.files)
      fail("read answer without one entry per file for " + asked.what + ": " + line);
    return v;
  }
  if (asked.foreign) fail("an apply or preview with an outside file's revision succeeded: " + asked.what + ": " + line);
  const Json* before = data->get("revision_before");
  if (!before || before->text != asked.revision) fail("revision_before differs from the revision sent: " + line);
  const Json* applied = data->get("applied");
  if (asked.op == Op::Apply && applied && applied->boolean) ++g_applied;
  if (asked.op == Op::Preview && (!data->get("preview") || (applied && applied->boolean)))
    fail("preview answer without preview or applied: " + line);
  return v;
}

std::string read_line_request(const std::vector<std::string>& paths) {
  std::string files;
  for (const auto& p : paths) files += std::string(files.empty() ? "" : ",") + R"({"path":")" + p + R"("})";
  return R"({"op":"read","request":{"files":[)" + files + "]}}";
}

std::string edit_request(const std::string& path, const std::string& rev, unsigned n) {
  return R"({"path":")" + path + R"(","revision":")" + rev + R"(","edits":[{"kind":"lines","start":1,"end":2,"text":"v)" +
         std::to_string(n) + R"(\n"}]})";
}

/// The revision of the first file of a read answer, or a made-up stale one.
std::string revision_of(const std::optional<Json>& v) {
  if (v) {
    const Json* ok = v->get("ok");
    const Json* data = v->get("data");
    if (ok && ok->boolean && data) {
      const Json* files = data->get("files");
      if (files && !files->items.empty())
        if (const Json* rev = files->items[0].get("revision")) return rev->text;
    }
  }
  return std::string(64, '0');
}

/// One step of the loop: the request kinds an agent sends, against either a
/// batch server or one-shot processes.
template <typename Send>
void one_step(const Tree& t, std::mt19937& rng, Send&& send) {
  const auto roll = rng() % 100;
  const std::string target = kTargets[rng() % kTargets.size()];
  if (roll < 35) {
    std::vector<std::string> paths;
    const std::size_t n = 1 + rng() % 3;
    for (std::size_t k = 0; k < n; ++k)
      paths.push_back(rng() % 5 == 0 ? kSideTargets[rng() % kSideTargets.size()] : kTargets[rng() % kTargets.size()]);
    ++g_reads;
    send(Asked{Op::Read, "read " + paths[0], "", false, paths.size()}, paths, "");
    return;
  }
  std::string rev;
  bool foreign = false;
  if (roll >= 90) {
    rev = t.foreign_revisions[rng() % t.foreign_revisions.size()];
    foreign = true;
    ++g_foreign_applies;
  } else {
    ++g_reads;
    rev = revision_of(send(Asked{Op::Read, "read " + target, "", false, 1}, {target}, ""));
  }
  const Op op = roll < 55 ? Op::Preview : Op::Apply;
  (op == Op::Preview ? g_previews : g_applies)++;
  send(Asked{op, (op == Op::Preview ? "preview " : "apply ") + target, rev, foreign, 0}, {},
       edit_request(target, rev, static_cast<unsigned>(rng())));
}

void batch_worker(const Tree& t, const std::string& binary, unsigned seed) {
  std::mt19937 rng(seed);
  Batch batch({binary, "--repo", t.repo, "batch"});
  auto send = [&](const Asked& asked, const std::vector<std::string>& paths, const std::string& edit) -> std::optional<Json> {
    if (batch.dead()) return std::nullopt;
    std::string line = asked.op == Op::Read ? read_line_request(paths)
                                           : std::string(R"({"op":")") + (asked.op == Op::Preview ? "preview" : "apply") +
                                                 R"(","request":)" + edit + "}";
    auto answer = batch.ask(line);
    if (!answer) return std::nullopt;
    return examine(t, *answer, asked);
  };
  while (!g_stop && !batch.dead()) one_step(t, rng, send);
  batch.finish();
}

void oneshot_worker(const Tree& t, const std::string& binary, unsigned seed) {
  std::mt19937 rng(seed);
  auto send = [&](const Asked& asked, const std::vector<std::string>& paths, const std::string& edit) -> std::optional<Json> {
    std::vector<std::string> args = {binary, "--repo", t.repo};
    if (asked.op == Op::Read) {
      args.push_back("read");
      args.insert(args.end(), paths.begin(), paths.end());
    } else {
      args.push_back("apply");
      if (asked.op == Op::Preview) args.push_back("--preview");
    }
    const OneShot r = run_once(args, edit);
    if (r.blocked) {
      fail("one-shot process blocked: " + asked.what);
      return std::nullopt;
    }
    if (!WIFEXITED(r.status) || (WEXITSTATUS(r.status) != 0 && WEXITSTATUS(r.status) != 2)) {
      fail("one-shot process " + describe_status(r.status) + ": " + asked.what + " stderr: " + r.err);
      return std::nullopt;
    }
    if (!r.err.empty()) fail("one-shot process wrote to standard error: " + asked.what + ": " + r.err);
    if (r.out.empty() || r.out.back() != '\n' || r.out.find('\n') != r.out.size() - 1) {
      fail("one-shot answer is not exactly one line: " + asked.what + ": " + r.out);
      return std::nullopt;
    }
    auto v = examine(t, r.out.substr(0, r.out.size() - 1), asked);
    if (v) {
      const bool ok = v->get("ok")->boolean;
      if (WEXITSTATUS(r.status) != (ok ? 0 : 2)) fail("exit status does not follow \"ok\": " + asked.what + ": " + r.out);
    }
    return v;
  };
  while (!g_stop) one_step(t, rng, send);
}

// ---------------------------------------------------------------------------

void verify_outside(const Tree& t) {
  for (const auto& [path, sum] : t.outside_digests) {
    if (digest(slurp(path)) != sum) fail("outside file changed: " + path);
    if (inode_of(path) != t.outside_inodes.at(path)) fail("outside file replaced: " + path);
  }
  if (listing(t.outside) != t.outside_listing) fail("the outside tree gained or lost entries");
  for (auto it = fs::recursive_directory_iterator(t.base); it != fs::recursive_directory_iterator(); ++it)
    if (it->path().filename().string().rfind(".tuvel-edit-", 0) == 0) fail("staging file left behind: " + it->path().string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <path-to-tuvel-edit> <seconds>\n", argv[0]);
    return 2;
  }
  const std::string binary = fs::absolute(argv[1]).string();
  const double seconds = std::atof(argv[2]);
  if (::access(binary.c_str(), X_OK) != 0 || seconds <= 0) {
    std::fprintf(stderr, "race_attack: need an executable tuvel-edit and a positive number of seconds\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);

  Tree tree = build_tree();
  tree.outside_listing = listing(tree.outside);
  const unsigned seed = static_cast<unsigned>(std::random_device{}());
  std::printf("race_attack: %s for %.0f s in %s (seed %u)\n", binary.c_str(), seconds, tree.base.c_str(), seed);
  std::fflush(stdout);

  std::vector<std::thread> attackers, workers;
  attackers.emplace_back(attack_dirs, std::cref(tree), seed + 1);
  attackers.emplace_back(attack_file, std::cref(tree), "top.txt", tree.outside + "/top.txt", tree.outside + "/hard.txt", seed + 2);
  attackers.emplace_back(attack_file, std::cref(tree), "g/h/f.txt", tree.outside + "/g.txt", tree.outside + "/hard2.txt", seed + 3);
  attackers.emplace_back(attack_renames, std::cref(tree), seed + 4);
  attackers.emplace_back(attack_repo, std::cref(tree), seed + 5);
  for (unsigned k = 0; k < 3; ++k) workers.emplace_back(batch_worker, std::cref(tree), binary, seed + 10 + k);
  for (unsigned k = 0; k < 2; ++k) workers.emplace_back(oneshot_worker, std::cref(tree), binary, seed + 20 + k);

  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  g_stop = true;
  for (auto& w : workers) w.join();
  for (auto& a : attackers) a.join();
  verify_outside(tree);

  const long ops = g_reads + g_previews + g_applies;
  std::printf("operations: %ld (reads %ld, previews %ld, applies %ld of which %ld published, %ld with an outside revision)\n",
              ops, g_reads.load(), g_previews.load(), g_applies.load(), g_applied.load(), g_foreign_applies.load());
  std::printf("answers: %ld ok, %ld failed; processes started: %ld\n", g_ok.load(), g_failed.load(), g_processes.load());
  std::printf("swaps: %ld (directory<->outside link %ld, file<->link/hard link/FIFO/other %ld, directory renames %ld, repository %ld)\n",
              g_swaps_dir + g_swaps_file + g_swaps_rename + g_swaps_repo, g_swaps_dir.load(), g_swaps_file.load(),
              g_swaps_rename.load(), g_swaps_repo.load());
  std::printf("failure messages seen:\n");
  for (const auto& [message, n] : g_messages) std::printf("  %7ld  %s\n", n, message.c_str());

  if (!g_failures.empty()) {
    std::printf("FAILED: %zu findings (tree kept in %s)\n", g_failures.size(), tree.base.c_str());
    for (std::size_t k = 0; k < g_failures.size() && k < 30; ++k) std::printf("  %s\n", g_failures[k].c_str());
    return 1;
  }
  std::error_code ec;
  fs::remove_all(tree.base, ec);
  std::printf("passed\n");
  return 0;
}
