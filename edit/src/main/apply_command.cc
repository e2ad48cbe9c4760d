// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <cerrno>

#include "main/commands.h"
#include "main/response.h"
#include "protocol/decode.h"

namespace tuvel {
namespace {

constexpr std::size_t kReadLimit = MAX_REQUEST_BYTES + 1;

/// Reads standard input to its end but never past kReadLimit bytes.
Result<std::string> read_request_text() {
  std::string text;
  std::size_t capacity = std::size_t{64} * 1024;
  while (text.size() < kReadLimit) {
    if (text.size() == capacity) capacity = std::min(capacity * 2, kReadLimit);
    const std::size_t have = text.size();
    text.resize(capacity);
    const ssize_t n = ::read(STDIN_FILENO, text.data() + have, capacity - have);
    if (n < 0) {
      text.resize(have);
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    text.resize(have + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  return text;
}

}  // namespace

Result<Request> apply_outcome(std::string_view input, bool preview) {
  if (input.size() > MAX_REQUEST_BYTES) return request_too_long();
  TUVEL_TRY(EditRequest request, decode_edit_request(input));
  return Request{preview ? Op::Preview : Op::Apply, std::move(request)};
}

int run_apply(const Cli& cli) {
  auto input = read_request_text();
  if (!input.ok()) return report_fatal(input.error());
  const Json envelope = response(cli.repo, apply_outcome(*input, cli.preview));
  if (Status written = write_response(STDOUT_FILENO, envelope); !written.ok()) return report_fatal(written.error());
  return envelope_status(envelope);
}

}  // namespace tuvel
