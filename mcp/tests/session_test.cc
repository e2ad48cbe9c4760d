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
      // A NUL byte does not end the text.
      {std::string(R"({"jsonrpc":"2.0","id":1,"method":"ping"})") + '\0' + "x",
       rpc_error("null", -32700, "syntax error at line 1 column 40")},
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
      // An id comes back as it was written.
      {R"({"jsonrpc":"2.0","id":2.5,"method":"ping"})", R"({"jsonrpc":"2.0","id":2.5,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":12345678901234567890123,"method":"ping"})",
       R"({"jsonrpc":"2.0","id":12345678901234567890123,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":-1.50E+2,"method":"ping"})", R"({"jsonrpc":"2.0","id":-1.50E+2,"result":{}})"},
      {R"({"jsonrpc":"2.0","id":"\u00e9\/","method":"ping"})", R"({"jsonrpc":"2.0","id":"\u00e9\/","result":{}})"},
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

TEST(McpSession, NumbersBeyondADoubleAreParseErrorsAndTheSessionGoesOn) {
  const std::string ping = R"({"jsonrpc":"2.0","id":"after","method":"ping"})";
  const std::string pong = R"({"jsonrpc":"2.0","id":"after","result":{}})";
  const std::string huge = "1" + std::string(400, '0');
  const struct {
    std::string line;
    std::string number;  // the first one out of range; empty: the line is served
  } cases[] = {
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":1e400}})", "1e400"},
      {R"({"jsonrpc":"2.0","id":1e309,"method":"ping"})", "1e309"},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":[-1e400]})", "-1e400"},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","ignored":{"deep":[0.5E+999]}})", "0.5E+999"},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":)" + huge + "}}", huge},
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":1.7976931348623159e308}})", "1.7976931348623159e308"},
      {R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":1e400}})", "1e400"},
      {R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"read","arguments":{"files":[{"path":"a.txt","start":1e400}]}}})",
       "1e400"},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":1e400}}])", "1e400"},
      // Within range, or too small to be anything but zero: served.
      {R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":1.7976931348623157e308,"y":1e-400,"z":0e99999999999}})",
       ""},
  };
  for (const bool initialized : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.line);
      std::string expected;
      if (!c.number.empty()) {
        const std::size_t column = c.line.find(c.number) + c.number.size();
        expected = rpc_error("null", -32700, "number out of range at line 1 column " + std::to_string(column)) + "\n";
      } else {
        expected = std::string(R"({"jsonrpc":"2.0","id":1,"result":{}})") + "\n";
      }
      const std::string input = c.line + "\n" + ping + "\n";
      const auto run = initialized ? session(TempDir().path(), {c.line, ping}) : run_mcp({}, input);
      EXPECT_EQ(run.out, expected + pong + "\n");
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 0);
    }
  }
}

TEST(McpSession, HugeLinesCostTimeInProportionToTheirLength) {
  // The worst lines within the bound; each cost minutes to hours, or
  // hundreds of MiB, while a document was built before its depth was known.
  // No clock here: the test's timeout catches a cost out of proportion, and
  // bench/mcp-parse shows time and memory.
  const auto repeat = [](std::string_view piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
  };
  const std::string head = R"({"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":)";
  const std::string pong = R"({"jsonrpc":"2.0","id":1,"result":{}})";
  constexpr std::size_t kDeep = std::size_t{19} * 1024 * 1024 / 2;
  const struct {
    std::string line;
    std::string answer;
  } cases[] = {
      {head + std::string(kDeep, '[') + std::string(kDeep, ']') + "}}",
       rpc_error("1", -32600, "message nested too deeply")},
      {head + "[" + repeat("0,", 10'000'000) + "0]}}", pong},
      {head + "[" + repeat("{},", 6'500'000) + "{}]}}", pong},
      {head + "[" + repeat("{},", 320'000) + "{}]}}", pong},
  };
  std::string input;
  std::string expected;
  for (const auto& c : cases) {
    input += c.line + "\n";
    expected += c.answer + "\n";
  }
  input += R"({"jsonrpc":"2.0","id":"after","method":"ping"})" "\n";
  expected += R"({"jsonrpc":"2.0","id":"after","result":{}})" "\n";
  const auto run = run_mcp({}, input);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.status, 0);

  // Tool arguments with a repeated key at each of 500 levels around 19 MiB:
  // the text the decoder judges is put together without moving the inner
  // levels once per level.
  TempDir dir;
  const std::string nested = R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"read","arguments":)" +
                             repeat(R"({"a":0,"a":)", 500) + "\"" + std::string(19'000'000, 'x') + "\"" +
                             std::string(500, '}') + "}}";
  const auto repeats = session(dir.path(), {nested});
  EXPECT_EQ(repeats.out,
            testing::tool_answer(2, testing::error_payload("io_or_request", "request exceeds 2 MiB"), true) + "\n");
  EXPECT_EQ(repeats.status, 0);
}

TEST(McpSession, BatchesAreTakenOnlyUnderTheRevisionThatHasThem) {
  const std::string ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})";
  const std::string pong = R"({"jsonrpc":"2.0","id":1,"result":{}})";
  const std::string note = R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
  const std::string not_object = rpc_error("null", -32600, "a message must be a JSON object");
  // Enough members that the answer is written in several pieces.
  std::string many = "[";
  std::string many_answers = "[";
  for (int i = 0; i < 3000; ++i) {
    const std::string sep = i == 0 ? "" : ",";
    many += sep + R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"ping"})";
    many_answers += sep + R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"result":{}})";
  }
  many += "]";
  many_answers += "]";
  const struct {
    std::string line;
    std::string answer;  // empty: no answer at all
  } cases[] = {
      {"[" + ping + "," + note + R"(, {"jsonrpc":"2.0","id":"b","method":"nope"}])",
       "[" + pong + "," + rpc_error("\"b\"", -32601, "unknown method `nope`") + "]"},
      {"[" + note + "," + note + R"(,{"jsonrpc":"2.0","id":9,"result":{}}])", ""},
      {" [ ] ", rpc_error("null", -32600, "a batch must not be empty")},
      {"[1,[" + ping + "]]", "[" + not_object + "," + not_object + "]"},
      {"[" + initialize_request("2025-03-26", 5) + "]",
       "[" + rpc_error("5", -32600, "initialize was already answered") + "]"},
      {many, many_answers},
  };
  const std::string refused = rpc_error("null", -32600, "batches are not supported") + "\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 200));
    const std::string answer = c.answer.empty() ? "" : c.answer + "\n";
    const auto taken = run_mcp({}, initialize_request("2025-03-26") + "\n" + c.line + "\n" + ping + "\n");
    EXPECT_EQ(taken.out, initialize_answer("2025-03-26") + "\n" + answer + pong + "\n");
    // Before initialize and under the other revisions a batch is one error.
    const auto before = run_mcp({}, c.line + "\n" + initialize_request("2025-03-26") + "\n");
    EXPECT_EQ(before.out, refused + initialize_answer("2025-03-26") + "\n");
    for (const std::string version : {"2025-11-25", "2025-06-18", "2024-11-05"}) {
      const auto later = run_mcp({}, initialize_request(version) + "\n" + c.line + "\n");
      EXPECT_EQ(later.out, initialize_answer(version) + "\n" + refused) << version;
    }
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
