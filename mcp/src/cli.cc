#include "cli.h"

#include <string_view>

#include "source/utf8.h"

namespace tuvel::mcp {
namespace {

constexpr std::string_view kAbout = "Serve tuvel-edit's reads and revision-checked edits to MCP clients over stdio";

/// Text styling, enabled only when colour is allowed on the target stream.
struct Style {
  bool on = false;
  std::string error(std::string_view s) const { return on ? "\x1b[1m\x1b[31m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string header(std::string_view s) const { return on ? "\x1b[1m\x1b[4m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string literal(std::string_view s) const { return on ? "\x1b[1m" + std::string(s) + "\x1b[0m" : std::string(s); }
  std::string invalid(std::string_view s) const { return on ? "\x1b[33m" + std::string(s) + "\x1b[0m" : std::string(s); }
};

std::string usage_line(const std::string& bin, const Style& st) {
  return st.header("Usage:") + " " + st.literal(bin) + " [OPTIONS]";
}

std::string row(const Style& st, std::string_view left, std::string_view help) {
  constexpr std::size_t kWidth = 17;
  return "  " + st.literal(left) + std::string(kWidth - left.size() + 2, ' ') + std::string(help) + "\n";
}

std::string help_text(const std::string& bin, const Style& st) {
  std::string t = std::string(kAbout) + "\n\n" + usage_line(bin, st) + "\n\n";
  t += st.header("Options:") + "\n";
  t += row(st, "    --repo <REPO>", "Repository directory [default: .]");
  t += row(st, "-h, --help", "Print help");
  t += row(st, "-V, --version", "Print version");
  t += "\nSpeaks the Model Context Protocol on stdin and stdout: JSON-RPC 2.0, one\n"
       "message per line, until stdin ends (exit status 0). Tools: read, preview,\n"
       "apply, create, list.\n";
  return t;
}

struct Parser {
  CliColor color;
  std::string bin;

  CliExit fail(const std::string& message) const {
    const Style st{color.stderr_color};
    return {st.error("error:") + " " + message + "\n\n" + usage_line(bin, st) + "\n\nFor more information, try '" +
                st.literal("--help") + "'.\n",
            true, 2};
  }
  std::string quoted(std::string_view s) const { return "'" + Style{color.stderr_color}.invalid(s) + "'"; }
  std::string option_name(std::string_view s) const { return "'" + Style{color.stderr_color}.literal(s) + "'"; }
};

}  // namespace

std::variant<McpCli, CliExit> parse_mcp_cli(const std::vector<std::string>& argv, CliColor color) {
  Parser p{color, MCP_PROGRAM_NAME};
  if (!argv.empty()) {
    const std::string& arg0 = argv[0];
    const auto slash = arg0.rfind('/');
    p.bin = slash == std::string::npos ? arg0 : arg0.substr(slash + 1);
  }
  McpCli cli;
  bool repo_seen = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    // --repo takes any bytes; everything else must be text.
    const bool repo_value = i > 1 && argv[i - 1] == "--repo";
    if (!repo_value && arg.rfind("--repo=", 0) != 0 && find_utf8_error(arg).has_value()) {
      return p.fail("invalid UTF-8 was detected in one or more arguments");
    }
    if (arg == "-h" || arg == "--help") return CliExit{help_text(p.bin, Style{color.stdout_color}), false, 0};
    if (arg == "-V" || arg == "--version") {
      return CliExit{std::string(MCP_PROGRAM_NAME) + " " + PROGRAM_VERSION + "\n", false, 0};
    }
    const bool inline_repo = arg.rfind("--repo=", 0) == 0;
    if (arg != "--repo" && !inline_repo) return p.fail("unexpected argument " + p.quoted(arg) + " found");
    if (repo_seen) return p.fail("the argument " + p.option_name("--repo <REPO>") + " cannot be used multiple times");
    repo_seen = true;
    if (inline_repo) {
      cli.repo = arg.substr(std::string_view("--repo=").size());
    } else if (i + 1 >= argv.size()) {
      return p.fail("a value is required for " + p.option_name("--repo <REPO>") + " but none was supplied");
    } else {
      cli.repo = argv[++i];
    }
  }
  return cli;
}

}  // namespace tuvel::mcp
