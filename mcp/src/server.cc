// SPDX-License-Identifier: Apache-2.0
#include "server.h"

#include "arguments_text.h"
#include "cli.h"
#include "cli/cli_text.h"
#include "envelope.h"
#include "jsonrpc.h"
#include "parse_failure.h"
#include "tools.h"

namespace tuvel::mcp {
namespace {

using nlohmann::ordered_json;

/// Deepest nesting of a message. Tool arguments are judged by the product's
/// decoder, whose own limit is far lower; this one keeps clients from
/// sending documents that no tool could take.
constexpr std::size_t kMaxDepth = 512;

/// A batch's answer is handed on whenever this much of it is held, so it
/// never has to be held whole (it can be far longer than its line).
constexpr std::size_t kBatchPieceBytes = std::size_t{64} * 1024;

constexpr std::string_view kInstructions =
    "Safe, revision-checked access to the files of one repository. Read files to get their text and revision; "
    "preview or apply edits naming the revision you read; create new files; list directories. Paths are relative "
    "to the repository root. When a call fails with stale_revision, busy or concurrent_change, read the file again "
    "and retry with its new revision.";

std::string_view negotiated_version(const std::string& requested) {
  for (const std::string_view version : SUPPORTED_PROTOCOL_VERSIONS) {
    if (version == requested) return version;
  }
  return SUPPORTED_PROTOCOL_VERSIONS[0];
}

/// BatchAnswer: the array of a batch's answers, handed on in pieces; no
/// text at all when no member was answered.
class BatchAnswer {
 public:
  explicit BatchAnswer(const Server::Emit& emit) : emit_(emit) {}

  /// Adds one member's answer; false once a piece could not be written.
  bool add(std::string_view answer) {
    held_.push_back(started_ ? ',' : '[');
    started_ = true;
    held_ += answer;
    return held_.size() < kBatchPieceBytes || flush();
  }

  /// Closes the array.
  bool finish() {
    if (!started_) return true;
    held_ += "]\n";
    return flush();
  }

 private:
  bool flush() {
    const bool written = emit_(held_);
    held_.clear();
    return written;
  }

  const Server::Emit& emit_;
  std::string held_;
  bool started_ = false;
};

}  // namespace

std::string Server::overlong_answer() {
  return error_message(NULL_ID, RpcError::InvalidRequest, "message exceeds 20 MiB");
}

std::optional<std::string> Server::handle(std::string_view line) {
  std::string out;
  (void)handle(line, [&out](std::string_view piece) {
    out += piece;
    return true;
  });
  if (out.empty()) return std::nullopt;
  out.pop_back();
  return out;
}

bool Server::handle(std::string_view line, const Emit& emit) {
  // The line feed ends the message; left in, it would move the parser's
  // reported position of a truncated message to a line that is not there.
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  const Checked checked = check_json(line);
  std::optional<std::string> answer;
  if (checked.fault) {
    answer = error_message(NULL_ID, RpcError::ParseError, parse_failure(line, *checked.fault));
  } else if (checked.value.type == JsonType::Array) {
    if (batches_) return batch(checked.value, emit);
    answer = error_message(NULL_ID, RpcError::InvalidRequest, "batches are not supported");
  } else {
    answer = message(checked.value, checked.depth);
  }
  if (!answer) return true;
  answer->push_back('\n');
  return emit(*answer);
}

bool Server::batch(const JsonValue& array, const Emit& emit) {
  Elements elements(array.text);
  JsonValue member;
  std::size_t depth = 0;
  if (!elements.next(member, depth)) {
    return emit(error_message(NULL_ID, RpcError::InvalidRequest, "a batch must not be empty") + "\n");
  }
  BatchAnswer out(emit);
  do {
    const std::optional<std::string> answer = message(member, depth);
    if (answer && !out.add(*answer)) return false;
  } while (elements.next(member, depth));
  return out.finish();
}

std::optional<std::string> Server::message(const JsonValue& value, std::size_t depth) {
  if (value.type != JsonType::Object) {
    return error_message(NULL_ID, RpcError::InvalidRequest, "a message must be a JSON object");
  }
  const Envelope envelope = read_envelope(value.text);
  const std::optional<JsonValue>& id = envelope.id;
  const std::optional<JsonValue>& method = envelope.method;
  if (!id) {
    // A notification, or a response to nothing we asked: never answered.
    // notifications/initialized needs no action (requests are served once
    // initialize is answered); notifications/cancelled can only name a call
    // already answered, since each is answered before the next line is read.
    if (method && method->type == JsonType::String) return std::nullopt;
    if (envelope.response) return std::nullopt;
    return error_message(NULL_ID, RpcError::InvalidRequest, "a request needs a method and an id");
  }
  if (id->type != JsonType::String && id->type != JsonType::Number) {
    return error_message(NULL_ID, RpcError::InvalidRequest, "id must be a string or a number");
  }
  if (!method && envelope.response) return std::nullopt;
  const std::optional<JsonValue>& jsonrpc = envelope.jsonrpc;
  if (!jsonrpc || jsonrpc->type != JsonType::String || !string_equals(jsonrpc->text, "2.0")) {
    return error_message(id->text, RpcError::InvalidRequest, "jsonrpc must be \"2.0\"");
  }
  if (!method || method->type != JsonType::String) {
    return error_message(id->text, RpcError::InvalidRequest, "method must be a string");
  }
  const JsonValue* params = envelope.params ? &*envelope.params : nullptr;
  if (params != nullptr && params->type != JsonType::Object && params->type != JsonType::Array) {
    return error_message(id->text, RpcError::InvalidRequest, "params must be an object or an array");
  }
  if (depth > kMaxDepth) return error_message(id->text, RpcError::InvalidRequest, "message nested too deeply");
  return request(id->text, string_value(method->text), params);
}

std::string Server::request(std::string_view id, const std::string& method, const JsonValue* params) {
  if (params != nullptr && params->type != JsonType::Object) {
    return error_message(id, RpcError::InvalidParams, "params must be an object");
  }
  if (method == "initialize") return initialize(id, params);
  if (method == "ping") return result_message(id, ordered_json::object());
  if (!initialized_) return error_message(id, RpcError::InvalidRequest, "server not initialized: send initialize first");
  if (method == "tools/list") return result_message(id, {{"tools", tool_list()}});
  if (method == "tools/call") return call(id, params);
  return error_message(id, RpcError::MethodNotFound, "unknown method `" + method + "`");
}

std::string Server::initialize(std::string_view id, const JsonValue* params) {
  if (initialized_) return error_message(id, RpcError::InvalidRequest, "initialize was already answered");
  const ParamsMembers members = params == nullptr ? ParamsMembers{} : read_params(params->text);
  const std::optional<JsonValue>& version = members.protocol_version;
  if (!version || version->type != JsonType::String) {
    return error_message(id, RpcError::InvalidParams, "protocolVersion must be a string");
  }
  initialized_ = true;
  const std::string_view negotiated = negotiated_version(string_value(version->text));
  batches_ = negotiated == BATCH_PROTOCOL_VERSION;
  const ordered_json result = {
      {"protocolVersion", negotiated},
      {"capabilities", {{"tools", {{"listChanged", false}}}}},
      {"serverInfo", {{"name", MCP_PROGRAM_NAME}, {"version", PROGRAM_VERSION}}},
      {"instructions", kInstructions},
  };
  return result_message(id, result);
}

std::string Server::call(std::string_view id, const JsonValue* params) {
  const ParamsMembers members = params == nullptr ? ParamsMembers{} : read_params(params->text);
  const std::optional<JsonValue>& name = members.name;
  if (!name || name->type != JsonType::String) return error_message(id, RpcError::InvalidParams, "name must be a string");
  const std::string tool = string_value(name->text);
  if (!is_tool(tool)) return error_message(id, RpcError::InvalidParams, unknown_tool_message(tool));
  const std::optional<JsonValue>& arguments = members.arguments;
  if (arguments && arguments->type != JsonType::Object) {
    return error_message(id, RpcError::InvalidParams, "arguments must be an object");
  }
  // The product's decoder judges the arguments, as compact text.
  const std::string text = arguments ? arguments_text(arguments->text) : std::string("{}");
  return tool_result_message(id, call_tool(repo_, tool, text));
}

}  // namespace tuvel::mcp
