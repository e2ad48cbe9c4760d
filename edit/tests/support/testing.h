// SPDX-License-Identifier: Apache-2.0
// Shared test fixtures: temporary repositories and running the real binary.
#pragma once

#include <sys/types.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tuvel::testing {

/// TempDir: a fresh directory under /tmp, removed with its contents when dropped.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  /// path() + "/" + rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
  /// Writes `content` at `rel`, creating parent directories.
  void write(const std::string& rel, const std::string& content, mode_t mode = 0644) const;
  std::string read(const std::string& rel) const;
  /// Names in the directory `rel` (without . and ..), sorted.
  std::vector<std::string> list(const std::string& rel = "") const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
/// The BLAKE3 revision of `bytes`, computed here independently of the library.
std::string digest(std::string_view bytes);
/// `s` as a JSON string by the output rules, written here, not by the library.
std::string json_quote(std::string_view s);
/// A failure envelope as tuvel-edit answers it, without and with its line feed.
std::string failure_envelope(const std::string& message, const std::string& code = "io_or_request");
std::string failure_line(const std::string& message, const std::string& code = "io_or_request");
void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);

/// What a finished child process left.
struct Run {
  int status = -1;  ///< exit status, or 128 + signal
  std::string out;
  std::string err;
};

/// Options for run().
struct RunOptions {
  std::string input;                          ///< written to stdin, then closed
  bool close_stdin = false;                   ///< start with descriptor 0 closed
  std::map<std::string, std::string> env;     ///< added to / overriding the environment
  std::vector<std::string> unset_env;         ///< removed from the environment
  std::string cwd;
  std::string argv0;                          ///< name to start the program under
  bool stdout_reader_closed = false;          ///< stdout is a pipe whose reader is gone
};

/// Runs `program` with `args` and collects its output and status.
Run run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});
/// Runs the built tuvel-edit.
Run run_edit(const std::vector<std::string>& args, const RunOptions& options = {});
/// Path of the built tuvel-edit.
std::string edit_binary();

/// Appends one answer line (without its line feed) to the answer log, the
/// directory that TUVEL_ANSWER_LOG names (set by ctest; nothing is logged
/// without it), as "{kind}\t{answer}"; schema/tests validates the log after
/// the tests. An answer over 1 MiB is only noted ("skip {kind} {bytes}"), so
/// tests of large texts do not make the log large.
void log_answer(const std::string& kind, std::string_view answer);
/// Logs the complete answer lines of tuvel-edit run with `args` on `input`,
/// each under the op that answered it: "edit read", "edit preview", "edit
/// apply", or "edit ?" for a batch line that does not decode.
void log_edit_answers(const std::vector<std::string>& args, std::string_view input, std::string_view out);

}  // namespace tuvel::testing

namespace tuvel::testing {

/// Child: a running program with its stdin and stdout as pipes, for lock-step
/// conversations (write a line, read the answer line).
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  /// Writes all of `data` to the child's stdin.
  void write(const std::string& data);
  /// Reads one line from the child's stdout (without its line feed); empty
  /// optional at end of output.
  std::optional<std::string> read_line();
  /// Closes the child's stdin.
  void close_stdin();
  /// Closes stdin, drains the output and gives the exit status.
  int wait();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
  // tuvel-edit batch: the ops of the lines written, for the answer log.
  bool logged_ = false;
  std::string written_;
  std::deque<std::string> kinds_;
};

}  // namespace tuvel::testing
