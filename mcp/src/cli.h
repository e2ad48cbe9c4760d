// SPDX-License-Identifier: Apache-2.0
// parse_mcp_cli: the command line of tuvel-mcp, in the style of tuvel-edit's.
// Gives the options to serve with, or the text to print (help, version,
// parser error) with its stream and status.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/cli_text.h"

namespace tuvel::mcp {

inline constexpr const char* MCP_PROGRAM_NAME = "tuvel-mcp";

/// McpCli: what a successful parse gives.
struct McpCli {
  std::string repo = ".";
};

/// Parses argv (argv[0] names the program in usage lines).
std::variant<McpCli, CliExit> parse_mcp_cli(const std::vector<std::string>& argv, CliColor color);

}  // namespace tuvel::mcp
