// SPDX-License-Identifier: Apache-2.0
#include "main/response.h"

#include <unistd.h>

#include <cerrno>

#include "execute/execute.h"

namespace tuvel {

Json failure_envelope(const Error& error) {
  return JsonObject{
      {"error", JsonObject{{"code", std::string(error.code())}, {"message", error.render()}}},
      {"ok", false},
      {"version", 1},
  };
}

Json response(const std::string& repo, Result<Request> outcome) {
  if (!outcome.ok()) return failure_envelope(outcome.error());
  auto result = execute(repo, std::move(outcome).value());
  if (!result.ok()) return failure_envelope(result.error());
  return JsonObject{{"data", std::move(result).value()}, {"ok", true}, {"version", 1}};
}

Status write_response(int fd, const Json& envelope) {
  std::string line;
  write_json(envelope, line);
  // A text that outgrows the buffer starts to reach the system while it is
  // written; a failure there is the writer's, not an I/O error of its own.
  if (line.size() > STDOUT_BUFFER_BYTES) {
    if (const int err = write_all(fd, line)) return Error::plain(os_error_text(err));
    line.clear();
  }
  line.push_back('\n');
  if (const int err = write_all(fd, line)) return Error::os(err);
  return Ok{};
}

int envelope_status(const Json& envelope) {
  const Json* ok = envelope.find("ok");
  const bool success = ok != nullptr && std::holds_alternative<bool>(ok->value()) && std::get<bool>(ok->value());
  return success ? STATUS_SUCCESS : STATUS_FAILURE;
}

int report_fatal(const Error& error) {
  if (error.os_errno() == EPIPE) return STATUS_SUCCESS;
  std::string line;
  write_json(failure_envelope(error), line);
  line.push_back('\n');
  (void)write_all(STDERR_FILENO, line);
  return STATUS_FAILURE;
}

}  // namespace tuvel
