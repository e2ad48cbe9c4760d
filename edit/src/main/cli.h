// SPDX-License-Identifier: Apache-2.0
// parse_cli: the command line of tuvel-edit. Gives the parsed command, or the
// text to print (help, version, parser error) with its stream and status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_text.h"

namespace tuvel {

inline constexpr const char* PROGRAM_NAME = "tuvel-edit";

enum class Command : std::uint8_t { Read, Apply, Batch };

/// Cli: what a successful parse gives.
struct Cli {
  std::string repo = ".";
  Command command = Command::Read;
  // read
  std::vector<std::string> paths;
  std::uint64_t start = 1;
  std::optional<std::uint64_t> end;
  // apply
  bool preview = false;
};

/// Parses argv (argv[0] names the program in usage lines).
std::variant<Cli, CliExit> parse_cli(const std::vector<std::string>& argv, CliColor color);

}  // namespace tuvel
