// SPDX-License-Identifier: Apache-2.0
#include "cli/cli_text.h"

#include <cstdlib>

namespace tuvel {

bool use_color(bool is_terminal) {
  auto env = [](const char* name) -> const char* { return std::getenv(name); };
  const char* no_color = env("NO_COLOR");
  if (no_color != nullptr && *no_color != '\0') return false;
  const char* force = env("CLICOLOR_FORCE");
  if (force != nullptr && std::string_view(force) != "0") return true;
  const char* clicolor = env("CLICOLOR");
  if (clicolor != nullptr && std::string_view(clicolor) == "0") return false;
  if (!is_terminal) return false;
  const char* term = env("TERM");
  return (term != nullptr && std::string_view(term) != "dumb") || clicolor != nullptr;
}

std::string usage_name(const std::vector<std::string>& argv, std::string_view fallback) {
  if (argv.empty()) return std::string(fallback);
  const std::string& arg0 = argv[0];
  const auto slash = arg0.rfind('/');
  return slash == std::string::npos ? arg0 : arg0.substr(slash + 1);
}

std::string help_row(const CliStyle& st, std::string_view left, std::size_t width, std::string_view help) {
  std::string line = "  " + st.literal(left);
  if (!help.empty()) line += std::string(width - left.size() + 2, ' ') + std::string(help);
  return line + "\n";
}

std::string cli_error_text(const CliStyle& st, std::string_view message, std::string_view usage) {
  return st.error("error:") + " " + std::string(message) + "\n\n" + std::string(usage) +
         "\n\nFor more information, try '" + st.literal("--help") + "'.\n";
}

std::string cli_quoted(const CliStyle& st, std::string_view arg) { return "'" + st.invalid(arg) + "'"; }

std::string cli_option(const CliStyle& st, std::string_view option) { return "'" + st.literal(option) + "'"; }

std::string unexpected_argument(const CliStyle& st, std::string_view arg) {
  return "unexpected argument " + cli_quoted(st, arg) + " found";
}

std::string repeated_option(const CliStyle& st, std::string_view option) {
  return "the argument " + cli_option(st, option) + " cannot be used multiple times";
}

std::string missing_value(const CliStyle& st, std::string_view option) {
  return "a value is required for " + cli_option(st, option) + " but none was supplied";
}

}  // namespace tuvel
