// SPDX-License-Identifier: Apache-2.0
// Helpers of the tuvel-mcp tests: request lines, the exact answers expected,
// and whole sessions through the built binary.
#pragma once

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
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

/// Logs each complete answer line of a session (see tuvel::testing::log_answer)
/// as "mcp {method}", "mcp tools/call {tool}", or "mcp ?" when no one request
/// line of `input` has its id; each answer of a batch is logged on its own.
inline void log_mcp_answers(const std::string& input, const std::string& out) {
  if (std::getenv("TUVEL_ANSWER_LOG") == nullptr) return;
  constexpr std::size_t kParsed = std::size_t{1} << 20;
  std::map<std::string, std::string> kinds;  // id as compact JSON -> kind
  std::istringstream requests(input);
  for (std::string line; std::getline(requests, line);) {
    if (line.size() > kParsed) continue;
    const nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (!message.is_object() || !message.contains("id") || !message.contains("method") ||
        !message["method"].is_string()) {
      continue;
    }
    std::string kind = "mcp " + message["method"].get<std::string>();
    const auto params = message.find("params");
    if (kind == "mcp tools/call" && params != message.end() && params->is_object() && params->contains("name") &&
        (*params)["name"].is_string()) {
      kind += " " + (*params)["name"].get<std::string>();
    }
    const auto [at, added] = kinds.emplace(message["id"].dump(), kind);
    if (!added && at->second != kind) at->second = "mcp ?";
  }
  std::istringstream answers(out);
  for (std::string line; std::getline(answers, line);) {
    if (answers.eof()) break;  // a last line without its line feed is not an answer
    if (line.size() <= kParsed && line.rfind('[', 0) == 0) {
      const nlohmann::json batch = nlohmann::json::parse(line, nullptr, false);
      if (batch.is_array()) {
        for (const auto& answer : batch) tuvel::testing::log_answer("mcp ?", answer.dump());
        continue;
      }
    }
    std::string kind = "mcp ?";
    if (line.size() <= kParsed) {
      const nlohmann::json answer = nlohmann::json::parse(line, nullptr, false);
      if (answer.is_object() && answer.contains("id")) {
        const auto at = kinds.find(answer["id"].dump());
        if (at != kinds.end()) kind = at->second;
      }
    }
    tuvel::testing::log_answer(kind, line);
  }
}

/// Runs one session on `repo` with `input` as standard input.
inline Run run_mcp(const std::vector<std::string>& args, const std::string& input) {
  tuvel::testing::RunOptions options;
  options.input = input;
  Run run = tuvel::testing::run(mcp_binary(), args, options);
  log_mcp_answers(input, run.out);
  return run;
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
