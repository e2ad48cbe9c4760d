// SPDX-License-Identifier: Apache-2.0
// The three commands of tuvel-edit; each answers on standard output and
// gives the exit status.
#pragma once

#include <string>
#include <string_view>

#include "error/error.h"
#include "main/cli.h"
#include "protocol/request.h"

namespace tuvel {

/// read: one request from the command line.
int run_read(const Cli& cli);
/// apply [--preview]: one edit request from standard input.
int run_apply(const Cli& cli);
/// batch: one request per line of standard input until it ends.
int run_batch(const Cli& cli);

/// The request of `apply` from the bytes of its standard input.
Result<Request> apply_outcome(std::string_view input, bool preview);

}  // namespace tuvel
