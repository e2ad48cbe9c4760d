// SPDX-License-Identifier: Apache-2.0
// The pieces the command lines of tuvel-edit and tuvel-mcp are written
// with, so both read and colour alike: styling, the program's name, the
// layout of an error and the messages about arguments they share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tuvel {

/// The version both programs report.
inline constexpr const char* PROGRAM_VERSION = "0.1.0";

/// CliExit: text the parser prints instead of running a command.
struct CliExit {
  std::string text;
  bool to_stderr = false;
  int status = 0;
};

/// Whether the parser's texts may carry colour, per stream.
struct CliColor {
  bool stdout_color = false;
  bool stderr_color = false;
};

/// Colour decision for a stream from the environment and whether it is a terminal.
bool use_color(bool is_terminal);

/// CliStyle: text styling, enabled only when colour is allowed on the target stream.
struct CliStyle {
  bool on = false;
  std::string error(std::string_view s) const { return on ? "\x1b[1m\x1b[31m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string header(std::string_view s) const { return on ? "\x1b[1m\x1b[4m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string literal(std::string_view s) const { return on ? "\x1b[1m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string invalid(std::string_view s) const { return on ? "\x1b[33m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string valid(std::string_view s) const { return on ? "\x1b[32m" + std::string(s) + "\x1b[0m" : std::string(s); }
};

/// The name usage lines give the program: argv[0] without its directory,
/// or `fallback` when there is no argv[0].
std::string usage_name(const std::vector<std::string>& argv, std::string_view fallback);

/// One row of an options or commands table: `left` and, when there is one,
/// its help text starting `width` + 4 columns in.
std::string help_row(const CliStyle& st, std::string_view left, std::size_t width, std::string_view help);

/// An error text: "error:", `message`, the `usage` line and the pointer to --help.
std::string cli_error_text(const CliStyle& st, std::string_view message, std::string_view usage);

/// An argument or value as messages quote it.
std::string cli_quoted(const CliStyle& st, std::string_view arg);
/// An option (with its value's name) as messages quote it.
std::string cli_option(const CliStyle& st, std::string_view option);

inline constexpr std::string_view kInvalidUtf8Argument = "invalid UTF-8 was detected in one or more arguments";
std::string unexpected_argument(const CliStyle& st, std::string_view arg);
std::string repeated_option(const CliStyle& st, std::string_view option);
std::string missing_value(const CliStyle& st, std::string_view option);

}  // namespace tuvel
