// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <array>
#include <cerrno>

#include "cli/bounded_line.h"
#include "main/commands.h"
#include "main/response.h"
#include "protocol/decode.h"

namespace tuvel {
namespace {

constexpr std::size_t kInputBufferBytes = 8192;

}  // namespace

int run_batch(const Cli& cli) {
  std::array<char, kInputBufferBytes> input;
  std::size_t begin = 0;  // unread bytes are input[begin, end)
  std::size_t end = 0;
  for (;;) {
    BoundedLine line;
    bool consumed = false;
    bool complete = false;
    while (!complete) {
      if (begin == end) {
        // One read call at a time, never retried: its failure ends the loop.
        const ssize_t n = ::read(STDIN_FILENO, input.data(), input.size());
        if (n < 0) return report_fatal(Error::os(errno));
        if (n == 0) {
          if (!consumed) return STATUS_SUCCESS;
          break;  // the last line, without a line feed
        }
        begin = 0;
        end = static_cast<std::size_t>(n);
      }
      begin += take_chunk(line, std::string_view(input.data() + begin, end - begin), MAX_REQUEST_BYTES, complete);
      consumed = true;
    }
    Result<Request> outcome = line.overlong ? Result<Request>(request_too_long()) : decode_request(line.bytes);
    std::string().swap(line.bytes);
    const Json envelope = response(cli.repo, std::move(outcome));
    if (Status written = write_response(STDOUT_FILENO, envelope); !written.ok()) return report_fatal(written.error());
  }
}

}  // namespace tuvel
