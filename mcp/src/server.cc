// SPDX-License-Identifier: Apache-2.0
#include "server.h"

#include "cli.h"
#include "jsonrpc.h"
#include "cli/cli_text.h"
#include "tools.h"

namespace tuvel::mcp {
namespace {

using nlohmann::ordered_json;

/// Deepest nesting of a message. Tool arguments are judged by the product's
/// decoder, whose own limit is far lower; this one only keeps the recursive
/// writer of the arguments text on a bounded stack.
constexpr int kMaxDepth = 512;

constexpr std::string_view kInstructions =
    "Safe, revision-checked access to the files of one repository. Read files to get their text and revision; "
    "preview or apply edits naming the revision you read; create new files; list directories. Paths are relative "
    "to the repository root. When a call fails with stale_revision, busy or concurrent_change, read the file again "
    "and retry with its new revision.";

/// Parses a message; the failure is the parser's own description.
std::optional<ordered_json> parse(std::string_view line, std::string& failure, bool& too_deep) {
  int depth = 0;
  const auto track = [&](int d, ordered_json::parse_event_t, ordered_json&) {
    if (d > depth) depth = d;
    return true;
  };
  try {
    ordered_json message = ordered_json::parse(line.begin(), line.end(), track);
    too_deep = depth > kMaxDepth;
    return message;
  } catch (const ordered_json::parse_error& e) {
    // "[json.exception.parse_error.101] parse error at ...": the text after the tag.
    std::string_view what = e.what();
    const auto tag = what.find("] ");
    failure = std::string(tag == std::string_view::npos ? what : what.substr(tag + 2));
    return std::nullopt;
  }
}

bool is_response(const ordered_json& message) { return message.contains("result") || message.contains("error"); }

const ordered_json* member(const ordered_json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string_view negotiated_version(const std::string& requested) {
  for (const std::string_view version : SUPPORTED_PROTOCOL_VERSIONS) {
    if (version == requested) return version;
  }
  return SUPPORTED_PROTOCOL_VERSIONS[0];
}

}  // namespace

std::string Server::overlong_answer() {
  return error_message(nullptr, RpcError::InvalidRequest, "message exceeds 20 MiB");
}

std::optional<std::string> Server::handle(std::string_view line) {
  // The line feed ends the message; left in, it would move the parser's
  // reported position of a truncated message to a line that is not there.
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  std::string failure;
  bool too_deep = false;
  std::optional<ordered_json> parsed = parse(line, failure, too_deep);
  if (!parsed) return error_message(nullptr, RpcError::ParseError, failure);
  const ordered_json& message = *parsed;
  if (message.is_array()) return error_message(nullptr, RpcError::InvalidRequest, "batches are not supported");
  if (!message.is_object()) return error_message(nullptr, RpcError::InvalidRequest, "a message must be a JSON object");

  const ordered_json* id = member(message, "id");
  const ordered_json* method = member(message, "method");
  if (id == nullptr) {
    // A notification, or a response to nothing we asked: never answered.
    // notifications/initialized needs no action (requests are served once
    // initialize is answered); notifications/cancelled can only name a call
    // already answered, since each is answered before the next line is read.
    if (method != nullptr && method->is_string()) return std::nullopt;
    if (is_response(message)) return std::nullopt;
    return error_message(nullptr, RpcError::InvalidRequest, "a request needs a method and an id");
  }
  if (!id->is_string() && !id->is_number()) {
    return error_message(nullptr, RpcError::InvalidRequest, "id must be a string or a number");
  }
  if (method == nullptr && is_response(message)) return std::nullopt;
  const ordered_json* jsonrpc = member(message, "jsonrpc");
  if (jsonrpc == nullptr || *jsonrpc != "2.0") {
    return error_message(*id, RpcError::InvalidRequest, "jsonrpc must be \"2.0\"");
  }
  if (method == nullptr || !method->is_string()) {
    return error_message(*id, RpcError::InvalidRequest, "method must be a string");
  }
  const ordered_json* params = member(message, "params");
  if (params != nullptr && !params->is_object() && !params->is_array()) {
    return error_message(*id, RpcError::InvalidRequest, "params must be an object or an array");
  }
  if (too_deep) return error_message(*id, RpcError::InvalidRequest, "message nested too deeply");
  return request(*id, method->get<std::string>(), params);
}

std::string Server::request(const ordered_json& id, const std::string& method, const ordered_json* params) {
  if (params != nullptr && !params->is_object()) {
    return error_message(id, RpcError::InvalidParams, "params must be an object");
  }
  if (method == "initialize") return initialize(id, params);
  if (method == "ping") return result_message(id, ordered_json::object());
  if (!initialized_) return error_message(id, RpcError::InvalidRequest, "server not initialized: send initialize first");
  if (method == "tools/list") return result_message(id, {{"tools", tool_list()}});
  if (method == "tools/call") return call(id, params);
  return error_message(id, RpcError::MethodNotFound, "unknown method `" + method + "`");
}

std::string Server::initialize(const ordered_json& id, const ordered_json* params) {
  if (initialized_) return error_message(id, RpcError::InvalidRequest, "initialize was already answered");
  const ordered_json* version = params == nullptr ? nullptr : member(*params, "protocolVersion");
  if (version == nullptr || !version->is_string()) {
    return error_message(id, RpcError::InvalidParams, "protocolVersion must be a string");
  }
  initialized_ = true;
  const ordered_json result = {
      {"protocolVersion", negotiated_version(version->get<std::string>())},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", MCP_PROGRAM_NAME}, {"version", PROGRAM_VERSION}}},
      {"instructions", kInstructions},
  };
  return result_message(id, result);
}

std::string Server::call(const ordered_json& id, const ordered_json* params) {
  const ordered_json* name = params == nullptr ? nullptr : member(*params, "name");
  if (name == nullptr || !name->is_string()) return error_message(id, RpcError::InvalidParams, "name must be a string");
  const std::string& tool = name->get_ref<const std::string&>();
  if (!is_tool(tool)) return error_message(id, RpcError::InvalidParams, unknown_tool_message(tool));
  const ordered_json* arguments = member(*params, "arguments");
  if (arguments != nullptr && !arguments->is_object()) {
    return error_message(id, RpcError::InvalidParams, "arguments must be an object");
  }
  // The product's decoder judges the arguments, as compact text.
  const std::string text = arguments == nullptr ? std::string("{}") : compact(*arguments);
  const CallOutcome outcome = call_tool(repo_, tool, text);
  if (outcome.invalid_params) return error_message(id, RpcError::InvalidParams, outcome.text);
  return tool_result_message(id, outcome);
}

}  // namespace tuvel::mcp
