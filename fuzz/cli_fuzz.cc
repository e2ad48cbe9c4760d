// SPDX-License-Identifier: Apache-2.0
// Fuzz target for the command-line parser. The input is split at NUL bytes
// into arguments; the first byte chooses whether the input names argv[0]
// itself. Besides crashes it checks that
// - texts to print have the documented shape: help or version on stdout with
//   status 0, an "error: " text (or the help, for no arguments) on stderr
//   with status 2,
// - colour changes nothing but escape codes, and only on the stream it is
//   allowed for,
// - a parsed command line is complete (read has paths, options belong to
//   their command) and parses to itself again from a canonical argv.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "main/cli.h"

namespace {

using tuvel::Cli;
using tuvel::CliColor;
using tuvel::CliExit;
using tuvel::Command;
using Parsed = std::variant<Cli, CliExit>;

std::string escaped(std::string_view s) {
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

[[noreturn]] void fail(const char* what, const std::vector<std::string>& argv, const std::string& detail) {
  std::fprintf(stderr, "%s\n  detail: %s\n  argv:", what, escaped(detail).c_str());
  for (const auto& a : argv) std::fprintf(stderr, " [%s]", escaped(a).c_str());
  std::fprintf(stderr, "\n");
  std::abort();
}

// The parser's own escape codes; arguments echoed in messages may hold the
// same bytes, so both sides of a comparison are stripped alike.
std::string strip_color(std::string_view s) {
  static constexpr std::string_view kCodes[] = {"\x1b[1m", "\x1b[4m", "\x1b[0m", "\x1b[31m", "\x1b[32m", "\x1b[33m"};
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    bool skipped = false;
    for (std::string_view code : kCodes) {
      if (s.substr(i, code.size()) == code) {
        i += code.size();
        skipped = true;
        break;
      }
    }
    if (!skipped) out.push_back(s[i++]);
  }
  return out;
}

bool same(const Cli& a, const Cli& b) {
  return a.repo == b.repo && a.command == b.command && a.paths == b.paths && a.start == b.start && a.end == b.end &&
         a.preview == b.preview;
}

bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool is_help(std::string_view plain) {
  static constexpr std::string_view kAbouts[] = {
      "Bounded source reads and revision-checked edits for agents\n\nUsage: ",
      "Read up to 32 files as bounded JSON, including BLAKE3 revisions\n\nUsage: ",
      "Apply one JSON edit request from stdin, or validate and preview it\n\nUsage: ",
      "Serve JSON-lines read/preview/apply requests. Never caches source bytes\n\nUsage: ",
  };
  for (std::string_view about : kAbouts) {
    if (starts_with(plain, about)) return plain.find("\n\nOptions:\n") != std::string_view::npos;
  }
  return false;
}

void check_exit(const CliExit& exit, const std::vector<std::string>& argv) {
  const std::string plain = strip_color(exit.text);
  if (exit.status == 0) {
    if (exit.to_stderr) fail("status 0 on stderr", argv, exit.text);
    if (plain != "tuvel-edit 0.1.0\n" && !is_help(plain)) fail("status 0 text is neither help nor version", argv, exit.text);
    return;
  }
  if (exit.status != 2) fail("status other than 0 and 2", argv, std::to_string(exit.status));
  if (!exit.to_stderr) fail("status 2 on stdout", argv, exit.text);
  if (argv.size() <= 1) {
    if (!is_help(plain)) fail("no arguments without the help", argv, exit.text);
    return;
  }
  if (!starts_with(plain, "error: ") || plain.find("\n\nUsage: ") == std::string::npos ||
      !ends_with(plain, "\n\nFor more information, try '--help'.\n")) {
    fail("malformed parser error", argv, exit.text);
  }
}

bool any_arg_has(const std::vector<std::string>& argv, char c) {
  for (const auto& a : argv) {
    if (a.find(c) != std::string::npos) return true;
  }
  return false;
}

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    std::uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    const std::uint32_t least = len == 1 ? 0 : len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

bool contains(const std::vector<std::string>& argv, const std::string& s) {
  for (std::size_t i = 1; i < argv.size(); ++i) {
    if (argv[i] == s) return true;
  }
  return false;
}

void check_cli(const Cli& cli, const std::vector<std::string>& argv) {
  if (cli.command != Command::Read && cli.command != Command::Apply && cli.command != Command::Batch) {
    fail("command out of range", argv, "");
  }
  if (cli.command == Command::Read) {
    if (cli.paths.empty()) fail("read without paths", argv, "");
    if (cli.paths.size() >= argv.size()) fail("more paths than arguments", argv, "");
    for (const auto& path : cli.paths) {
      if (!valid_utf8(path)) fail("path is not UTF-8", argv, path);
      if (!contains(argv, path)) fail("path that is no argument", argv, path);
    }
    if (cli.start != 1 && !contains(argv, "--start") && !any_arg_has(argv, '=')) fail("start without --start", argv, "");
    if (cli.end && !contains(argv, "--end") && !any_arg_has(argv, '=')) fail("end without --end", argv, "");
  } else {
    if (!cli.paths.empty() || cli.start != 1 || cli.end) fail("read options on another command", argv, "");
  }
  if (cli.preview && cli.command != Command::Apply) fail("preview on another command", argv, "");
  if (cli.repo != "." && !contains(argv, cli.repo) && !contains(argv, "--repo=" + cli.repo)) {
    fail("repository that is no argument", argv, cli.repo);
  }

  // The same command line written canonically parses to the same value.
  std::vector<std::string> canonical{"tuvel-edit", "--repo=" + cli.repo};
  switch (cli.command) {
    case Command::Read:
      canonical.emplace_back("read");
      canonical.push_back("--start=" + std::to_string(cli.start));
      if (cli.end) canonical.push_back("--end=" + std::to_string(*cli.end));
      canonical.emplace_back("--");
      canonical.insert(canonical.end(), cli.paths.begin(), cli.paths.end());
      break;
    case Command::Apply:
      canonical.emplace_back("apply");
      if (cli.preview) canonical.emplace_back("--preview");
      break;
    case Command::Batch: canonical.emplace_back("batch"); break;
  }
  const Parsed again = tuvel::parse_cli(canonical, CliColor{});
  const auto* back = std::get_if<Cli>(&again);
  if (back == nullptr) fail("canonical form refused", canonical, std::get<CliExit>(again).text);
  if (!same(cli, *back)) fail("canonical form parses differently", canonical, "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> argv;
  if ((data[0] & 1) == 0) argv.emplace_back("tuvel-edit");
  if (!input.empty() || (data[0] & 2) != 0) {
    std::size_t begin = 0;
    while (true) {
      const std::size_t nul = input.find('\0', begin);
      argv.emplace_back(input.substr(begin, nul == std::string_view::npos ? std::string_view::npos : nul - begin));
      if (nul == std::string_view::npos) break;
      begin = nul + 1;
    }
  }

  const Parsed plain = tuvel::parse_cli(argv, CliColor{false, false});
  const Parsed color = tuvel::parse_cli(argv, CliColor{true, true});
  const Parsed out_only = tuvel::parse_cli(argv, CliColor{true, false});
  const Parsed err_only = tuvel::parse_cli(argv, CliColor{false, true});

  if (const auto* cli = std::get_if<Cli>(&plain)) {
    check_cli(*cli, argv);
    for (const Parsed* other : {&color, &out_only, &err_only}) {
      const auto* c = std::get_if<Cli>(other);
      if (c == nullptr || !same(*cli, *c)) fail("colour changes the parse", argv, "");
    }
    return 0;
  }

  const auto& exit = std::get<CliExit>(plain);
  check_exit(exit, argv);
  if (exit.text.find('\x1b') != std::string::npos && !any_arg_has(argv, '\x1b')) {
    fail("colour without colour", argv, exit.text);
  }
  for (const Parsed* other : {&color, &out_only, &err_only}) {
    const auto* e = std::get_if<CliExit>(other);
    if (e == nullptr || e->status != exit.status || e->to_stderr != exit.to_stderr) {
      fail("colour changes the outcome", argv, exit.text);
    }
    check_exit(*e, argv);
    if (strip_color(e->text) != strip_color(exit.text)) fail("colour changes more than escape codes", argv, e->text);
  }
  // Colour allowed only on the other stream changes nothing.
  const auto& unchanged = std::get<CliExit>(exit.to_stderr ? out_only : err_only);
  if (unchanged.text != exit.text) fail("colour leaks to the other stream", argv, unchanged.text);
  return 0;
}
