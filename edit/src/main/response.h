// SPDX-License-Identifier: Apache-2.0
// response / write_response / report_fatal: every outcome becomes one
// envelope line; output failures end the run.
#pragma once

#include <string>

#include "cli/write_all.h"
#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"

namespace tuvel {

inline constexpr int STATUS_SUCCESS = 0;
inline constexpr int STATUS_FAILURE = 2;
/// Standard output's line buffer; longer texts reach the system while written.
inline constexpr std::size_t STDOUT_BUFFER_BYTES = 1024;

/// The envelope for a request (executed against `repo`) or for the failure
/// that prevented one. Never fails.
Json response(const std::string& repo, Result<Request> outcome);

/// The failure envelope of `error`.
Json failure_envelope(const Error& error);

/// Writes `envelope` as one compact JSON line on `fd` and flushes it.
Status write_response(int fd, const Json& envelope);

/// Status of a one-shot command: 0 when the envelope says "ok", else 2.
int envelope_status(const Json& envelope);

/// Reports a failure that cannot be answered on standard output and gives
/// the exit status: silent 0 for a broken pipe, else the envelope on
/// standard error and 2.
int report_fatal(const Error& error);

}  // namespace tuvel
