// SPDX-License-Identifier: Apache-2.0
// The steps the entries of tuvel-edit and tuvel-mcp share: preparing the
// process before anything else runs, the colour of its standard streams and
// printing what the command-line parser gives instead of a command.
#pragma once

#include "cli/cli_text.h"

namespace tuvel {

/// Opens the missing standard descriptors on /dev/null, keeps large blocks in
/// mappings of their own and turns the signals of a broken pipe and of the
/// file-size limit into failing writes.
void prepare_process();

/// The colour decisions for this process's standard output and standard error.
CliColor standard_color();

/// Prints `exit`'s text on its stream; the status to exit with.
int print_cli_exit(const CliExit& exit);

}  // namespace tuvel
