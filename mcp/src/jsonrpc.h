// SPDX-License-Identifier: Apache-2.0
// The JSON-RPC 2.0 messages tuvel-mcp writes: results and errors, each one
// compact line of text without its line feed.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools.h"

namespace tuvel::mcp {

/// Error codes of JSON-RPC 2.0.
enum class RpcError : int {
  ParseError = -32700,      // the line is not JSON
  InvalidRequest = -32600,  // not a request, a batch, or not allowed now
  MethodNotFound = -32601,
  InvalidParams = -32602,   // params, tool name or tool arguments refused
};

/// Compact JSON text that never throws: texts from outside were checked when
/// parsed, and anything else is replaced rather than refused.
std::string compact(const nlohmann::ordered_json& value);

/// A response carrying `result`.
std::string result_message(const nlohmann::ordered_json& id, const nlohmann::ordered_json& result);

/// An error response; `id` is null when the request's id could not be read.
std::string error_message(const nlohmann::ordered_json& id, RpcError code, std::string_view message);

/// The response to a tools/call whose arguments were taken: the payload as
/// structuredContent and, the same text, as one text content item.
std::string tool_result_message(const nlohmann::ordered_json& id, const CallOutcome& outcome);

}  // namespace tuvel::mcp
