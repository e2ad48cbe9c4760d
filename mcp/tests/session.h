// Helpers of the tuvel-mcp tests: request lines, the exact answers expected,
// and whole sessions through the built binary.
#pragma once

#include <string>
#include <vector>

#include "support/testing.h"

namespace tuvel::mcp::testing {

using tuvel::testing::Run;

inline std::string mcp_binary() { return TUVEL_MCP_BIN; }

inline std::string initialize_request(const std::string& version, int id = 0) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"initialize","params":{"protocolVersion":")" +
         version + R"(","capabilities":{},"clientInfo":{"name":"test","version":"1"}}})";
}

inline std::string initialize_answer(const std::string& version, int id = 0) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":{"protocolVersion":")" + version +
         R"(","capabilities":{"tools":{"listChanged":false}},"serverInfo":{"name":"tuvel-mcp","version":"0.1.0"},)"
         R"("instructions":"Safe, revision-checked access to the files of one repository. Read files to get their )"
         R"(text and revision; preview or apply edits naming the revision you read; create new files; list )"
         R"(directories. Paths are relative to the repository root. When a call fails with stale_revision, busy or )"
         R"(concurrent_change, read the file again and retry with its new revision."}})";
}

/// A tools/call request line.
inline std::string call_request(int id, const std::string& tool, const std::string& arguments) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"tools/call","params":{"name":")" + tool +
         R"(","arguments":)" + arguments + "}}";
}

/// The answer to a call whose operation ran: `payload` as structured content and as text.
inline std::string tool_answer(int id, const std::string& payload, bool is_error = false) {
  return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"result":{"content":[{"type":"text","text":)" +
         tuvel::testing::json_quote(payload) + R"(}],"isError":)" + (is_error ? "true" : "false") +
         R"(,"structuredContent":)" + payload + "}}";
}

inline std::string error_payload(const std::string& code, const std::string& message) {
  return R"({"error":{"code":")" + code + R"(","message":)" + tuvel::testing::json_quote(message) + "}}";
}

/// A JSON-RPC error answer; `id` as written ("null", "7", "\"a\"").
inline std::string rpc_error(const std::string& id, int code, const std::string& message) {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":)" + std::to_string(code) + R"(,"message":)" +
         tuvel::testing::json_quote(message) + "}}";
}

/// Runs one session on `repo` with `input` as standard input.
inline Run run_mcp(const std::vector<std::string>& args, const std::string& input) {
  tuvel::testing::RunOptions options;
  options.input = input;
  return tuvel::testing::run(mcp_binary(), args, options);
}

/// Runs an initialized session: `lines` follow initialize, each with a line
/// feed; gives the answers after initialize's, each with its line feed.
inline Run session(const std::string& repo, const std::vector<std::string>& lines) {
  std::string input = initialize_request("2025-11-25") + "\n";
  for (const auto& line : lines) input += line + "\n";
  Run run = run_mcp({"--repo", repo}, input);
  const std::string first = initialize_answer("2025-11-25") + "\n";
  if (run.out.rfind(first, 0) == 0) run.out.erase(0, first.size());
  return run;
}

}  // namespace tuvel::mcp::testing
