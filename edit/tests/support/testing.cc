// SPDX-License-Identifier: Apache-2.0
#include "support/testing.h"

#include <blake3.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <algorithm>

#include "protocol/decode.h"
#include "protocol/request.h"

extern char** environ;

namespace tuvel::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  char tmpl[] = "/tmp/tuvel-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything writable again so removal cannot fail on 0444 dirs.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
  }
  fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& rel, const std::string& content, mode_t mode) const {
  const fs::path p = fs::path(path_) / rel;
  fs::create_directories(p.parent_path());
  write_file(p.string(), content, mode);
}

std::string TempDir::read(const std::string& rel) const { return read_file(path_ + "/" + rel); }

std::vector<std::string> TempDir::list(const std::string& rel) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(path_) / rel)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& content, mode_t mode) {
  ::unlink(path.c_str());
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) throw std::runtime_error("write failed " + path);
    done += static_cast<std::size_t>(n);
  }
  ::fchmod(fd, mode);
  ::close(fd);
}

std::string digest(std::string_view bytes) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  std::uint8_t out[BLAKE3_OUT_LEN];
  blake3_hasher_finalize(&hasher, out, BLAKE3_OUT_LEN);
  static const char hex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : out) {
    text += hex[b >> 4];
    text += hex[b & 15];
  }
  return text;
}

std::string json_quote(std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += hex[u >> 4];
          out += hex[u & 15];
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string failure_envelope(const std::string& message, const std::string& code) {
  return R"({"error":{"code":")" + code + R"(","message":)" + json_quote(message) + R"(},"ok":false,"version":1})";
}

std::string failure_line(const std::string& message, const std::string& code) {
  return failure_envelope(message, code) + "\n";
}

std::string edit_binary() { return TUVEL_EDIT_BIN; }

namespace {

constexpr std::size_t kLoggedAnswerBytes = std::size_t{1} << 20;

std::string_view op_name(Op op) {
  switch (op) {
    case Op::Read: return "read";
    case Op::Preview: return "preview";
    case Op::Apply: return "apply";
  }
  return "?";
}

/// The kind under which the answer to one batch line is logged.
std::string batch_kind(std::string_view line) {
  if (line.size() > MAX_REQUEST_BYTES) return "edit ?";
  Result<Request> request = decode_request(line);
  return request.ok() ? "edit " + std::string(op_name(request->op)) : "edit ?";
}

/// The complete lines of `text`, each with its line feed; a last line without
/// one too when `unfinished` is true.
std::vector<std::string_view> lines_of(std::string_view text, bool unfinished) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      if (unfinished) lines.push_back(text);
      break;
    }
    lines.push_back(text.substr(0, nl + 1));
    text.remove_prefix(nl + 1);
  }
  return lines;
}

}  // namespace

void log_answer(const std::string& kind, std::string_view answer) {
  const char* dir = std::getenv("TUVEL_ANSWER_LOG");
  if (dir == nullptr || *dir == '\0') return;
  if (::mkdir(dir, 0755) != 0 && errno != EEXIST) throw std::runtime_error(std::string("cannot make ") + dir);
  const std::string record = answer.size() > kLoggedAnswerBytes
                                 ? "skip " + kind + " " + std::to_string(answer.size()) + "\t\n"
                                 : kind + "\t" + std::string(answer) + "\n";
  // One file per test process; one write per record keeps records whole.
  const std::string path = std::string(dir) + "/answers-" + std::to_string(::getpid()) + ".log";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  const ssize_t n = ::write(fd, record.data(), record.size());
  ::close(fd);
  if (n != static_cast<ssize_t>(record.size())) throw std::runtime_error("cannot write " + path);
}

void log_edit_answers(const std::vector<std::string>& args, std::string_view input, std::string_view out) {
  std::string command;
  bool preview = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help" || arg == "-V" || arg == "--version") return;
    if (arg == "--preview") preview = true;
    if (!command.empty()) continue;
    if (arg == "--repo") {
      ++i;
    } else if (arg.rfind("--repo=", 0) != 0) {
      command = arg;
    }
  }
  if (command != "read" && command != "apply" && command != "batch") return;
  const std::vector<std::string_view> requests = lines_of(input, true);
  std::size_t index = 0;
  for (std::string_view line : lines_of(out, false)) {
    line.remove_suffix(1);
    std::string kind = command == "read" ? "edit read" : "edit apply";
    if (command == "apply" && preview) kind = "edit preview";
    if (command == "batch") kind = index < requests.size() ? batch_kind(requests[index]) : "edit ?";
    log_answer(kind, line);
    ++index;
  }
}

Run run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  // The reader is gone before the child starts, so its first write meets EPIPE.
  if (options.stdout_reader_closed) close(out_pipe[0]);
  std::vector<std::string> env_store;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (options.env.count(key)) continue;
    if (std::find(options.unset_env.begin(), options.unset_env.end(), key) != options.unset_env.end()) continue;
    env_store.push_back(entry);
  }
  for (const auto& [k, v] : options.env) env_store.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& e : env_store) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_store{options.argv0.empty() ? program : options.argv0};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
    if (options.close_stdin) {
      close(0);
    } else {
      dup2(in_pipe[0], 0);
    }
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  Run result;
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.close_stdin || options.input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  if (options.stdout_reader_closed) out_fd = -1;
  // The child may stop reading early; never let its exit kill us.
  signal(SIGPIPE, SIG_IGN);
  while (out_fd >= 0 || err_fd >= 0 || in_fd >= 0) {
    pollfd fds[3];
    int n = 0;
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in_fd) {
        ssize_t w = write(in_fd, options.input.data() + written, std::min<std::size_t>(options.input.size() - written, 65536));
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 || written == options.input.size()) {
          close(in_fd);
          in_fd = -1;
        }
      } else {
        char buf[65536];
        ssize_t r = read(fds[i].fd, buf, sizeof buf);
        if (r > 0) {
          (fds[i].fd == out_fd ? result.out : result.err).append(buf, static_cast<std::size_t>(r));
        } else {
          close(fds[i].fd);
          (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
        }
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (program == edit_binary() && !options.stdout_reader_closed) {
    log_edit_answers(args, options.close_stdin ? std::string_view() : std::string_view(options.input), result.out);
  }
  return result;
}

Run run_edit(const std::vector<std::string>& args, const RunOptions& options) {
  return run(edit_binary(), args, options);
}

}  // namespace tuvel::testing

namespace tuvel::testing {

Child::Child(const std::string& program, const std::vector<std::string>& args) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC)) throw std::runtime_error("pipe failed");
  std::vector<std::string> argv_store{program};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  in_ = in_pipe[1];
  out_ = out_pipe[0];
  signal(SIGPIPE, SIG_IGN);
  logged_ = program == edit_binary() && std::find(args.begin(), args.end(), "batch") != args.end();
}

Child::~Child() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    wait();
  }
}

void Child::write(const std::string& data) {
  if (logged_) {
    written_ += data;
    for (std::size_t nl; (nl = written_.find('\n')) != std::string::npos; written_.erase(0, nl + 1)) {
      kinds_.push_back(batch_kind(std::string_view(written_).substr(0, nl + 1)));
    }
  }
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(in_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("write to child failed");
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> Child::read_line() {
  for (;;) {
    const auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (logged_) {
        log_answer(kinds_.empty() ? "edit ?" : kinds_.front(), line);
        if (!kinds_.empty()) kinds_.pop_front();
      }
      return line;
    }
    char buf[65536];
    ssize_t n = ::read(out_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

void Child::close_stdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int Child::wait() {
  close_stdin();
  if (out_ >= 0) {
    char buf[65536];
    while (::read(out_, buf, sizeof buf) > 0) {
    }
    close(out_);
    out_ = -1;
  }
  int status = 0;
  if (pid_ > 0) waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace tuvel::testing
