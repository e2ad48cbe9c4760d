// Entry of tuvel-edit: prepare the standard descriptors, parse, dispatch.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <variant>

#include "main/cli.h"
#include "main/commands.h"
#include "main/response.h"

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

}  // namespace

int main(int argc, char** argv) {
  open_standard_descriptors();
  // A fixed threshold keeps large blocks (request lines, snapshots) in
  // mappings of their own that go back to the system when freed; glibc would
  // otherwise raise it after the first such free and keep later ones in a
  // heap that a long batch run cannot shrink.
  (void)::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  // A reader that went away shows as EPIPE, and a write past the file-size
  // limit as EFBIG, instead of killing the process: both become answers, and
  // a staging file is removed.
  (void)::signal(SIGPIPE, SIG_IGN);
  (void)::signal(SIGXFSZ, SIG_IGN);

  std::vector<std::string> args(argv, argv + argc);
  const tuvel::CliColor color{tuvel::use_color(::isatty(STDOUT_FILENO) == 1), tuvel::use_color(::isatty(STDERR_FILENO) == 1)};
  auto parsed = tuvel::parse_cli(args, color);
  if (auto* exit = std::get_if<tuvel::CliExit>(&parsed)) {
    (void)tuvel::write_all(exit->to_stderr ? STDERR_FILENO : STDOUT_FILENO, exit->text);
    return exit->status;
  }
  const auto& cli = *std::get_if<tuvel::Cli>(&parsed);
  switch (cli.command) {
    case tuvel::Command::Read: return tuvel::run_read(cli);
    case tuvel::Command::Apply: return tuvel::run_apply(cli);
    case tuvel::Command::Batch: return tuvel::run_batch(cli);
  }
  return tuvel::STATUS_FAILURE;
}
