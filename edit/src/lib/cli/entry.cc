// SPDX-License-Identifier: Apache-2.0
#include "cli/entry.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include "cli/write_all.h"

namespace tuvel {
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

void prepare_process() {
  open_standard_descriptors();
  // A fixed threshold keeps large blocks (request and message lines,
  // snapshots) in mappings of their own that go back to the system when
  // freed; glibc would otherwise raise it after the first such free and keep
  // later ones in a heap that a long batch run or session cannot shrink.
  (void)::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  // A reader that went away shows as EPIPE, and a write past the file-size
  // limit as EFBIG, instead of killing the process: both become answers, and
  // a staging file is removed.
  (void)::signal(SIGPIPE, SIG_IGN);
  (void)::signal(SIGXFSZ, SIG_IGN);
}

CliColor standard_color() {
  return {use_color(::isatty(STDOUT_FILENO) == 1), use_color(::isatty(STDERR_FILENO) == 1)};
}

int print_cli_exit(const CliExit& exit) {
  (void)write_all(exit.to_stderr ? STDERR_FILENO : STDOUT_FILENO, exit.text);
  return exit.status;
}

}  // namespace tuvel
