// Entry of tuvel-mcp: prepare the standard descriptors, parse, then answer
// one message line after another until standard input ends.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <variant>

#include "cli.h"
#include "line_reader.h"
#include "main/response.h"
#include "server.h"

namespace {

/// Descriptors 0-2 always exist, so a closed one cannot be reused by a file.
void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

/// A failure that ends the session, on standard error; a reader that went
/// away ends it silently.
int fatal(int err) {
  if (err == EPIPE) return 0;
  (void)tuvel::write_all(STDERR_FILENO, std::string(tuvel::mcp::MCP_PROGRAM_NAME) + ": " + tuvel::os_error_text(err) + "\n");
  return 2;
}

int serve(const std::string& repo) {
  tuvel::mcp::Server server(repo);
  tuvel::mcp::LineReader reader(STDIN_FILENO);
  for (;;) {
    auto line = reader.next();
    if (!line.ok()) return fatal(line.error().os_errno());
    if (!line->has_value()) return 0;
    std::optional<std::string> answer;
    if ((*line)->overlong) {
      answer = tuvel::mcp::Server::overlong_answer();
    } else {
      answer = server.handle((*line)->bytes);
    }
    // The line goes back to the system before the answer is written.
    line->reset();
    if (!answer) continue;
    answer->push_back('\n');
    if (const int err = tuvel::write_all(STDOUT_FILENO, *answer)) return fatal(err);
  }
}

}  // namespace

int main(int argc, char** argv) {
  open_standard_descriptors();
  // As in tuvel-edit: large blocks (message lines, snapshots) live in
  // mappings of their own that go back to the system when freed, so a long
  // session does not keep a grown heap.
  (void)::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  // A reader that went away, or a file-size limit, becomes an ordinary failure.
  (void)::signal(SIGPIPE, SIG_IGN);
  (void)::signal(SIGXFSZ, SIG_IGN);

  std::vector<std::string> args(argv, argv + argc);
  const tuvel::CliColor color{tuvel::use_color(::isatty(STDOUT_FILENO) == 1), tuvel::use_color(::isatty(STDERR_FILENO) == 1)};
  auto parsed = tuvel::mcp::parse_mcp_cli(args, color);
  if (auto* exit = std::get_if<tuvel::CliExit>(&parsed)) {
    (void)tuvel::write_all(exit->to_stderr ? STDERR_FILENO : STDOUT_FILENO, exit->text);
    return exit->status;
  }
  return serve(std::get<tuvel::mcp::McpCli>(parsed).repo);
}
