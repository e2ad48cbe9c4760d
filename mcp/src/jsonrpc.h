// SPDX-License-Identifier: Apache-2.0
// The JSON-RPC 2.0 messages tuvel-mcp writes: results and errors, each one
// compact line of text without its line feed. An id is the request's own
// text, written back as it came.
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
  InvalidParams = -32602,   // params, the tool name or arguments that are no object
};

/// Compact JSON text of a value the server built; never throws: text that
/// is not UTF-8 is replaced rather than refused.
std::string compact(const nlohmann::ordered_json& value);

/// The id of an answer to a request whose id could not be read.
inline constexpr std::string_view NULL_ID = "null";

/// A response carrying `result`.
std::string result_message(std::string_view id, const nlohmann::ordered_json& result);

/// An error response.
std::string error_message(std::string_view id, RpcError code, std::string_view message);

/// The response to a tools/call of a known tool: the payload as
/// structuredContent and, the same text, as one text content item.
std::string tool_result_message(std::string_view id, const CallOutcome& outcome);

}  // namespace tuvel::mcp
