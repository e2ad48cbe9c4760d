// SPDX-License-Identifier: Apache-2.0
#include "cli.h"

#include <string_view>

#include "cli/cli_text.h"
#include "source/utf8.h"

namespace tuvel::mcp {
namespace {

constexpr std::string_view kAbout = "Serve tuvel-edit's reads and revision-checked edits to MCP clients over stdio";

std::string usage_line(const std::string& bin, const CliStyle& st) {
  return st.header("Usage:") + " " + st.literal(bin) + " [OPTIONS]";
}

/// Width of the options column of the help.
constexpr std::size_t kOptionsWidth = 17;

std::string help_text(const std::string& bin, const CliStyle& st) {
  std::string t = std::string(kAbout) + "\n\n" + usage_line(bin, st) + "\n\n";
  t += st.header("Options:") + "\n";
  t += help_row(st, "    --repo <REPO>", kOptionsWidth, "Repository directory [default: .]");
  t += help_row(st, "-h, --help", kOptionsWidth, "Print help");
  t += help_row(st, "-V, --version", kOptionsWidth, "Print version");
  t += "\nSpeaks the Model Context Protocol on stdin and stdout: JSON-RPC 2.0, one\n"
       "message per line, until stdin ends (exit status 0). Tools: read, preview,\n"
       "apply, create, list.\n";
  return t;
}

struct Parser {
  CliColor color;
  std::string bin;

  CliExit fail(std::string_view message) const {
    const CliStyle st = error_style();
    return {cli_error_text(st, message, usage_line(bin, st)), true, 2};
  }
  CliStyle error_style() const { return {color.stderr_color}; }
};

}  // namespace

std::variant<McpCli, CliExit> parse_mcp_cli(const std::vector<std::string>& argv, CliColor color) {
  Parser p{color, usage_name(argv, MCP_PROGRAM_NAME)};
  McpCli cli;
  bool repo_seen = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    const bool inline_repo = arg.rfind("--repo=", 0) == 0;
    // --repo takes any bytes; everything else must be text.
    const bool repo_value = i > 1 && argv[i - 1] == "--repo";
    if (!repo_value && !inline_repo && find_utf8_error(arg).has_value()) return p.fail(kInvalidUtf8Argument);
    if (arg == "-h" || arg == "--help") return CliExit{help_text(p.bin, CliStyle{color.stdout_color}), false, 0};
    if (arg == "-V" || arg == "--version") {
      return CliExit{std::string(MCP_PROGRAM_NAME) + " " + PROGRAM_VERSION + "\n", false, 0};
    }
    if (arg != "--repo" && !inline_repo) return p.fail(unexpected_argument(p.error_style(), arg));
    if (repo_seen) return p.fail(repeated_option(p.error_style(), "--repo <REPO>"));
    repo_seen = true;
    if (inline_repo) {
      cli.repo = arg.substr(std::string_view("--repo=").size());
    } else if (i + 1 >= argv.size()) {
      return p.fail(missing_value(p.error_style(), "--repo <REPO>"));
    } else {
      cli.repo = argv[++i];
    }
  }
  return cli;
}

}  // namespace tuvel::mcp
