// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include "main/commands.h"
#include "main/response.h"

namespace tuvel {

int run_read(const Cli& cli) {
  ReadRequest body;
  body.files.reserve(cli.paths.size());
  for (const auto& path : cli.paths) body.files.push_back(ReadSpec{path, cli.start, cli.end});
  const Json envelope = response(cli.repo, Request{Op::Read, std::move(body)});
  if (Status written = write_response(STDOUT_FILENO, envelope); !written.ok()) return report_fatal(written.error());
  return envelope_status(envelope);
}

}  // namespace tuvel
