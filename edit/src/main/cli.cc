// SPDX-License-Identifier: Apache-2.0
#include "main/cli.h"

#include <string_view>

#include "source/utf8.h"

namespace tuvel {
namespace {

constexpr std::string_view kAbout = "Bounded source reads and revision-checked edits for agents";
constexpr std::string_view kReadAbout = "Read up to 32 files as bounded JSON, including BLAKE3 revisions";
constexpr std::string_view kApplyAbout = "Apply one JSON edit request from stdin, or validate and preview it";
constexpr std::string_view kBatchAbout = "Serve JSON-lines read/preview/apply requests. Never caches source bytes";
constexpr std::string_view kHelpAbout = "Print this message or the help of the given subcommand(s)";
constexpr std::string_view kEndHelp = "Exclusive ending line; omitted reads at most 200 lines per file";

enum class Level : std::uint8_t { Top, Read, Apply, Batch };

std::string usage_tail(Level level) {
  switch (level) {
    case Level::Top: return " [OPTIONS] <COMMAND>";
    case Level::Read: return " read [OPTIONS] <PATHS>...";
    case Level::Apply: return " apply [OPTIONS]";
    case Level::Batch: return " batch [OPTIONS]";
  }
  return {};
}

std::string usage_line(const std::string& bin, Level level, const CliStyle& st) {
  return st.header("Usage:") + " " + st.literal(bin) + usage_tail(level);
}

std::string help_text(const std::string& bin, Level level, const CliStyle& st) {
  std::string t;
  switch (level) {
    case Level::Top: t += std::string(kAbout); break;
    case Level::Read: t += std::string(kReadAbout); break;
    case Level::Apply: t += std::string(kApplyAbout); break;
    case Level::Batch: t += std::string(kBatchAbout); break;
  }
  t += "\n\n" + usage_line(bin, level, st) + "\n\n";
  if (level == Level::Top) {
    t += st.header("Commands:") + "\n";
    t += help_row(st, "read", 5, kReadAbout);
    t += help_row(st, "apply", 5, kApplyAbout);
    t += help_row(st, "batch", 5, kBatchAbout);
    t += help_row(st, "help", 5, kHelpAbout);
    t += "\n" + st.header("Options:") + "\n";
    t += help_row(st, "    --repo <REPO>", 17, "[default: .]");
    t += help_row(st, "-h, --help", 17, "Print help");
    t += help_row(st, "-V, --version", 17, "Print version");
    return t;
  }
  if (level == Level::Read) {
    t += st.header("Arguments:") + "\n";
    t += help_row(st, "<PATHS>...", 10, "");
    t += "\n" + st.header("Options:") + "\n";
    t += help_row(st, "    --start <START>", 19, "[default: 1]");
    t += help_row(st, "    --end <END>", 19, kEndHelp);
    t += help_row(st, "    --repo <REPO>", 19, "[default: .]");
    t += help_row(st, "-h, --help", 19, "Print help");
    return t;
  }
  t += st.header("Options:") + "\n";
  if (level == Level::Apply) {
    t += help_row(st, "    --preview", 17, "");
  }
  t += help_row(st, "    --repo <REPO>", 17, "[default: .]");
  t += help_row(st, "-h, --help", 17, "Print help");
  return t;
}

bool valid_utf8(std::string_view s) { return !find_utf8_error(s).has_value(); }

/// Reasons given for a bad unsigned integer; empty when it parsed.
std::string parse_u64(std::string_view text, std::uint64_t& out) {
  if (text.empty()) return "cannot parse integer from empty string";
  if (text[0] == '+') {
    if (text.size() == 1) return "invalid digit found in string";
    text.remove_prefix(1);
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return "invalid digit found in string";
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (value > (UINT64_MAX - digit) / 10) overflow = true;
    value = value * 10 + digit;
  }
  if (overflow) return "number too large to fit in target type";
  out = value;
  return {};
}

struct Parser {
  const std::vector<std::string>& argv;
  CliColor color;
  std::string bin;
  Cli cli;
  bool repo_seen_top = false;
  bool repo_seen_sub = false;
  bool start_seen = false;
  bool end_seen = false;
  bool preview_seen = false;

  CliExit fail(Level level, std::string_view message) const {
    const CliStyle st = error_style();
    return {cli_error_text(st, message, usage_line(bin, level, st)), true, 2};
  }
  CliExit help(Level level) const { return {help_text(bin, level, CliStyle{color.stdout_color}), false, 0}; }
  CliStyle error_style() const { return {color.stderr_color}; }
  std::string quoted(std::string_view s) const { return cli_quoted(error_style(), s); }
  std::string option_name(std::string_view s) const { return cli_option(error_style(), s); }

  static Level level_of(Command c) {
    switch (c) {
      case Command::Read: return Level::Read;
      case Command::Apply: return Level::Apply;
      case Command::Batch: return Level::Batch;
    }
    return Level::Top;
  }
};

/// Handles the option argv[i], moving `i` past a value it takes; a CliExit
/// ends the parse.
std::optional<CliExit> parse_option(Parser& p, Level level, std::size_t& i, bool& options_done) {
  const std::vector<std::string>& argv = p.argv;
  const std::string& arg = argv[i];
  if (arg == "--") {
    if (level == Level::Top) return p.fail(level, unexpected_argument(p.error_style(), arg));
    options_done = true;
    return std::nullopt;
  }
  if (arg == "-h" || arg == "--help") return p.help(level);
  if (level == Level::Top && (arg == "-V" || arg == "--version")) {
    return CliExit{std::string(PROGRAM_NAME) + " " + PROGRAM_VERSION + "\n", false, 0};
  }
  std::string name = arg;
  std::optional<std::string> inline_value;
  if (arg.rfind("--", 0) == 0) {
    const auto eq = arg.find('=');
    if (eq != std::string::npos) {
      name = arg.substr(0, eq);
      inline_value = arg.substr(eq + 1);
    }
  }
  auto take_value = [&](const std::string& display) -> std::variant<std::string, CliExit> {
    if (inline_value) return *inline_value;
    if (i + 1 >= argv.size()) {
      return p.fail(level, missing_value(p.error_style(), display));
    }
    return argv[++i];
  };
  if (name == "--repo") {
    bool& seen = level == Level::Top ? p.repo_seen_top : p.repo_seen_sub;
    if (seen) return p.fail(level, repeated_option(p.error_style(), "--repo <REPO>"));
    seen = true;
    auto value = take_value("--repo <REPO>");
    if (auto* exit = std::get_if<CliExit>(&value)) return *exit;
    p.cli.repo = std::get<std::string>(value);
    return std::nullopt;
  }
  if (level == Level::Read && (name == "--start" || name == "--end")) {
    const bool is_start = name == "--start";
    const std::string display = is_start ? "--start <START>" : "--end <END>";
    bool& seen = is_start ? p.start_seen : p.end_seen;
    if (seen) return p.fail(level, repeated_option(p.error_style(), display));
    seen = true;
    auto value = take_value(display);
    if (auto* exit = std::get_if<CliExit>(&value)) return *exit;
    const std::string& text = std::get<std::string>(value);
    if (!valid_utf8(text)) return p.fail(level, kInvalidUtf8Argument);
    std::uint64_t number = 0;
    const std::string reason = parse_u64(text, number);
    if (!reason.empty()) {
      return p.fail(level, "invalid value " + p.quoted(text) + " for " + p.option_name(display) + ": " + reason);
    }
    if (is_start) {
      p.cli.start = number;
    } else {
      p.cli.end = number;
    }
    return std::nullopt;
  }
  if (level == Level::Apply && name == "--preview") {
    if (p.preview_seen) return p.fail(level, repeated_option(p.error_style(), "--preview"));
    if (inline_value) {
      return p.fail(level, "unexpected value " + p.quoted(*inline_value) + " for " + p.option_name("--preview") +
                               " found; no more were expected");
    }
    p.preview_seen = true;
    p.cli.preview = true;
    return std::nullopt;
  }
  return p.fail(level, unexpected_argument(p.error_style(), arg));
}

/// Handles the positional argv[i]: the command, then the paths of read.
std::optional<CliExit> parse_positional(Parser& p, Level& level, std::size_t i, bool& command_seen) {
  const std::vector<std::string>& argv = p.argv;
  const std::string& arg = argv[i];
  if (level == Level::Top) {
    if (arg == "help") {
      // help [COMMAND]: the help of the program or of the named command.
      if (i + 1 >= argv.size()) return p.help(Level::Top);
      const std::string& what = argv[i + 1];
      if (what == "read") return p.help(Level::Read);
      if (what == "apply") return p.help(Level::Apply);
      if (what == "batch") return p.help(Level::Batch);
      if (what == "help" || what == "-h" || what == "--help") return p.help(Level::Top);
      return p.fail(Level::Top, "unrecognized subcommand " + p.quoted(what));
    }
    if (arg == "read") {
      p.cli.command = Command::Read;
    } else if (arg == "apply") {
      p.cli.command = Command::Apply;
    } else if (arg == "batch") {
      p.cli.command = Command::Batch;
    } else {
      return p.fail(Level::Top, "unrecognized subcommand " + p.quoted(arg));
    }
    command_seen = true;
    level = Parser::level_of(p.cli.command);
    return std::nullopt;
  }
  if (level == Level::Read) {
    if (!valid_utf8(arg)) return p.fail(level, kInvalidUtf8Argument);
    p.cli.paths.push_back(arg);
    return std::nullopt;
  }
  return p.fail(level, unexpected_argument(p.error_style(), arg));
}

}  // namespace

std::variant<Cli, CliExit> parse_cli(const std::vector<std::string>& argv, CliColor color) {
  Parser p{argv, color, usage_name(argv, PROGRAM_NAME), {}};
  if (argv.size() <= 1) {
    CliExit text = p.help(Level::Top);
    text.text = help_text(p.bin, Level::Top, CliStyle{color.stderr_color});
    text.to_stderr = true;
    text.status = 2;
    return text;
  }

  Level level = Level::Top;
  bool command_seen = false;
  bool options_done = false;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (!valid_utf8(arg) && !(level != Level::Top && options_done)) {
      // --repo takes any bytes; everything else must be text.
      const bool repo_value = i > 1 && argv[i - 1] == "--repo";
      if (!repo_value && arg.rfind("--repo=", 0) != 0) return p.fail(level, kInvalidUtf8Argument);
    }
    const bool is_option = !options_done && arg.size() > 1 && arg[0] == '-';
    if (is_option) {
      if (auto exit = parse_option(p, level, i, options_done)) return *exit;
      continue;
    }
    if (auto exit = parse_positional(p, level, i, command_seen)) return *exit;
  }

  if (!command_seen) {
    return p.fail(Level::Top, "'" + CliStyle{color.stderr_color}.literal(p.bin) +
                                  "' requires a subcommand but one was not provided\n  [subcommands: read, apply, batch, help]");
  }
  if (level == Level::Read && p.cli.paths.empty()) {
    return p.fail(level, "the following required arguments were not provided:\n  " +
                             CliStyle{color.stderr_color}.valid("<PATHS>..."));
  }
  return p.cli;
}

}  // namespace tuvel
