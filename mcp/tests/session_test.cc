// SPDX-License-Identifier: Apache-2.0
// The MCP session through the real binary: lifecycle, version negotiation,
// protocol faults, the line bound, notifications and the end of input.
#include <gtest/gtest.h>

#include <string>

#include "session.h"

namespace tuvel::mcp {
namespace {

using testing::initialize_answer;
using testing::initialize_request;
using testing::rpc_error;
using testing::run_mcp;
using testing::session;
using tuvel::testing::TempDir;

TEST(McpSession, InitializeAnswersTheRequestedVersionWhenSupportedElseTheLatest) {
  const struct {
    std::string requested;
    std::string answered;
  } cases[] = {
      {"2025-11-25", "2025-11-25"}, {"2025-06-18", "2025-06-18"}, {"2025-03-26", "2025-03-26"},
      {"2024-11-05", "2024-11-05"}, {"2024-10-07", "2024-10-07"}, {"2099-01-01", "2025-11-25"},
      {"", "2025-11-25"},
  };
  for (const auto& c : cases) {
    const auto run = run_mcp({}, initialize_request(c.requested, 7) + "\n");
    EXPECT_EQ(run.out, initialize_answer(c.answered, 7) + "\n") << c.requested;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(McpSession, OnlyPingAndInitializeAreServedBeforeInitialize) {
  const std::string input = R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})"
                            "\n"
                            R"({"jsonrpc":"2.0","id":"p","method":"ping"})"
                            "\n"
                            R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"read"}})"
                            "\n" +
                            initialize_request("2025-06-18", 3) + "\n" + initialize_request("2025-06-18", 4) + "\n" +
                            R"({"jsonrpc":"2.0","id":5,"method":"ping","params":{}})" + "\n";
  const auto run = run_mcp({}, input);
  EXPECT_EQ(run.out, rpc_error("1", -32600, "server not initialized: send initialize first") + "\n" +
                         R"({"jsonrpc":"2.0","id":"p","result":{}})" + "\n" +
                         rpc_error("2", -32600, "server not initialized: send initialize first") + "\n" +
                         initialize_answer("2025-06-18", 3) + "\n" +
                         rpc_error("4", -32600, "initialize was already answered") + "\n" +
                         R"({"jsonrpc":"2.0","id":5,"result":{}})" + "\n");
  EXPECT_EQ(run.status, 0);
}

TEST(McpSession, ProtocolFaultsAreAnsweredAndTheSessionGoesOn) {
  TempDir dir;
  const struct {
    std::string line;
    std::string answer;  // empty: no answer at all
  } cases[] = {
      {"not json", rpc_error("null", -32700,
                             "parse error at line 1, column 2: syntax error while parsing value - invalid literal; "
                             "last read: 'no'")},
      {"", rpc_error("null", -32700,
                     "parse error at line 1, column 1: syntax error while parsing value - unexpected end of input; "
                     "expected '[', '{', or a literal")},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping")",
       rpc_error("null", -32700,
                 "parse error at line 1, column 40: syntax error while parsing object - unexpected end of input; "
                 "expected '}'")},
      {"\"caf\xC3\"", rpc_error("null", -32700,
                                "parse error at line 1, column 6: syntax error while parsing value - invalid string: "
                                "ill-formed UTF-8 byte; last read: '\"caf\xEF\xBF\xBD\"'")},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", rpc_error("null", -32600, "batches are not supported")},
      {"42", rpc_error("null", -32600, "a message must be a JSON object")},
      {"{}", rpc_error("null", -32600, "a request needs a method and an id")},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", rpc_error("null", -32600, "id must be a string or a number")},
      {R"({"jsonrpc":"2.0","id":[1],"method":"ping"})", rpc_error("null", -32600, "id must be a string or a number")},
      {R"({"id":1,"method":"ping"})", rpc_error("1", -32600, "jsonrpc must be \"2.0\"")},
      {R"({"jsonrpc":"1.0","id":1,"method":"ping"})", rpc_error("1", -32600, "jsonrpc must be \"2.0\"")},
      {R"({"jsonrpc":"2.0","id":1,"method":7})", rpc_error("1", -32600, "method must be a string")},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":3})",
       rpc_error("1", -32600, "params must be an object or an array")},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[]})", rpc_error("1", -32602, "params must be an object")},
      {R"({"jsonrpc":"2.0","id":"x","method":"resources/list"})",
       rpc_error("\"x\"", -32601, "unknown method `resources/list`")},
      {R"({"jsonrpc":"2.0","id":2.5,"method":"ping"})", R"({"jsonrpc":"2.0","id":2.5,"result":{}})"},
      // Notifications and responses are never answered, whatever they hold.
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", ""},
      {R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1,"reason":"x"}})", ""},
      {R"({"jsonrpc":"2.0","method":"notifications/unknown"})", ""},
      {R"({"method":"tools/call","params":7})", ""},
      {R"({"jsonrpc":"2.0","id":9,"result":{}})", ""},
      {R"({"jsonrpc":"2.0","id":9,"error":{"code":1,"message":"m"}})", ""},
  };
  for (const auto& c : cases) {
    const auto run = session(dir.path(), {c.line, R"({"jsonrpc":"2.0","id":"after","method":"ping"})"});
    EXPECT_EQ(run.out, (c.answer.empty() ? "" : c.answer + "\n") + R"({"jsonrpc":"2.0","id":"after","result":{}})" +
                           "\n")
        << c.line;
    EXPECT_EQ(run.status, 0);
  }
}

TEST(McpSession, DeepNestingIsRefusedWithoutCrashing) {
  TempDir dir;
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const auto run = session(dir.path(), {R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"read","arguments":{"files":)" + deep + "}}}"});
  EXPECT_EQ(run.out, rpc_error("1", -32600, "message nested too deeply") + "\n");
  EXPECT_EQ(run.status, 0);
}

TEST(McpSession, LineBoundCountsTheLineFeedAndTheStreamGoesOn) {
  TempDir dir;
  constexpr std::size_t kBound = std::size_t{20} * 1024 * 1024;
  // A ping padded with spaces to exactly the bound, line feed included, is
  // served; one byte more is refused and the next line is served.
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
  const std::string fits = ping + std::string(kBound - ping.size() - 1, ' ');
  const std::string over = ping + std::string(kBound - ping.size(), ' ');
  const auto run = session(dir.path(), {fits, over, ping});
  EXPECT_EQ(run.out, std::string(R"({"jsonrpc":"2.0","id":1,"result":{}})") + "\n" +
                         rpc_error("null", -32600, "message exceeds 20 MiB") + "\n" +
                         R"({"jsonrpc":"2.0","id":1,"result":{}})" + "\n");
  // The last line, without a line feed, is measured without one.
  const auto last = run_mcp({}, over + " ");
  EXPECT_EQ(last.out, rpc_error("null", -32600, "message exceeds 20 MiB") + "\n");
  EXPECT_EQ(last.status, 0);
}

TEST(McpSession, EndOfInputEndsWithStatusZero) {
  const struct {
    std::string input;
    std::string out;
  } cases[] = {
      {"", ""},
      {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", ""},
      // The last line needs no line feed; a carriage return is white space.
      {R"({"jsonrpc":"2.0","id":1,"method":"ping"})", R"({"jsonrpc":"2.0","id":1,"result":{}})"
                                                      "\n"},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\r\n", R"({"jsonrpc":"2.0","id":1,"result":{}})"
                                                                  "\n"},
  };
  for (const auto& c : cases) {
    const auto run = run_mcp({}, c.input);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(McpSession, ClosedDescriptorsEndTheSessionQuietly) {
  // No standard input at all is an empty session.
  tuvel::testing::RunOptions closed;
  closed.close_stdin = true;
  const auto no_input = tuvel::testing::run(testing::mcp_binary(), {}, closed);
  EXPECT_EQ(no_input.out, "");
  EXPECT_EQ(no_input.err, "");
  EXPECT_EQ(no_input.status, 0);
  // A reader that went away ends the session at the next answer, silently.
  tuvel::testing::RunOptions gone;
  gone.input = std::string(R"({"jsonrpc":"2.0","id":1,"method":"ping"})") + "\n";
  gone.stdout_reader_closed = true;
  const auto no_reader = tuvel::testing::run(testing::mcp_binary(), {}, gone);
  EXPECT_EQ(no_reader.err, "");
  EXPECT_EQ(no_reader.status, 0);
}

}  // namespace
}  // namespace tuvel::mcp
