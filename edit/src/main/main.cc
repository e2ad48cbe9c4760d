// SPDX-License-Identifier: Apache-2.0
// Entry of tuvel-edit: prepare the standard descriptors, parse, dispatch.
#include <variant>

#include "main/cli.h"
#include "main/commands.h"
#include "cli/entry.h"
#include "main/response.h"

int main(int argc, char** argv) {
  tuvel::prepare_process();
  std::vector<std::string> args(argv, argv + argc);
  auto parsed = tuvel::parse_cli(args, tuvel::standard_color());
  if (auto* exit = std::get_if<tuvel::CliExit>(&parsed)) return tuvel::print_cli_exit(*exit);
  const auto& cli = *std::get_if<tuvel::Cli>(&parsed);
  switch (cli.command) {
    case tuvel::Command::Read: return tuvel::run_read(cli);
    case tuvel::Command::Apply: return tuvel::run_apply(cli);
    case tuvel::Command::Batch: return tuvel::run_batch(cli);
  }
  return tuvel::STATUS_FAILURE;
}
