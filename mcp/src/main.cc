// SPDX-License-Identifier: Apache-2.0
// Entry of tuvel-mcp: prepare the standard descriptors, parse, then answer
// one message line after another until standard input ends.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "cli.h"
#include "cli/entry.h"
#include "cli/write_all.h"
#include "error/error.h"
#include "line_reader.h"
#include "server.h"
#include "source/source.h"

namespace {

/// A failure that ends the session, on standard error; a reader that went
/// away ends it silently.
int fatal(int err) {
  if (err == EPIPE) return 0;
  (void)tuvel::write_all(STDERR_FILENO, std::string(tuvel::mcp::MCP_PROGRAM_NAME) + ": " + tuvel::os_error_text(err) + "\n");
  return 2;
}

/// `text` on one line: control characters written as escapes.
std::string one_line(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

int serve(const std::string& repo_path) {
  // The repository is resolved and opened once: the session serves that
  // directory, whatever its path names later.
  auto repo = tuvel::open_repo(repo_path);
  if (!repo.ok()) {
    (void)tuvel::write_all(STDERR_FILENO, std::string(tuvel::mcp::MCP_PROGRAM_NAME) + ": cannot open repository '" +
                                              one_line(repo_path) + "': " + repo.error().render() + "\n");
    return 2;
  }
  tuvel::mcp::Server server(std::move(repo).value());
  tuvel::mcp::LineReader reader(STDIN_FILENO);
  for (;;) {
    auto line = reader.next();
    if (!line.ok()) return fatal(line.error().os_errno());
    if (!line->has_value()) return 0;
    int err = 0;
    if ((*line)->overlong) {
      line->reset();
      err = tuvel::write_all(STDOUT_FILENO, tuvel::mcp::Server::overlong_answer() + "\n");
    } else {
      (void)server.handle((*line)->bytes, [&err](std::string_view piece) {
        err = tuvel::write_all(STDOUT_FILENO, piece);
        return err == 0;
      });
    }
    if (err != 0) return fatal(err);
  }
}

}  // namespace

int main(int argc, char** argv) {
  tuvel::prepare_process();
  std::vector<std::string> args(argv, argv + argc);
  auto parsed = tuvel::mcp::parse_mcp_cli(args, tuvel::standard_color());
  if (auto* exit = std::get_if<tuvel::CliExit>(&parsed)) return tuvel::print_cli_exit(*exit);
  return serve(std::get<tuvel::mcp::McpCli>(parsed).repo);
}
