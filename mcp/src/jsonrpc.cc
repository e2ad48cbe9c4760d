// SPDX-License-Identifier: Apache-2.0
#include "jsonrpc.h"

#include "protocol/json.h"

namespace tuvel::mcp {

using nlohmann::ordered_json;

namespace {

std::string head(std::string_view id) {
  std::string out = R"({"jsonrpc":"2.0","id":)";
  out += id;
  return out;
}

}  // namespace

std::string compact(const ordered_json& value) {
  return value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string result_message(std::string_view id, const ordered_json& result) {
  return head(id) + ",\"result\":" + compact(result) + "}";
}

std::string error_message(std::string_view id, RpcError code, std::string_view message) {
  const ordered_json error = {{"code", static_cast<int>(code)}, {"message", message}};
  return head(id) + ",\"error\":" + compact(error) + "}";
}

std::string tool_result_message(std::string_view id, const CallOutcome& outcome) {
  // The payload is the library's own compact text: spliced in as it is, once
  // as a value and once as a string, so both carry the same bytes.
  std::string out = head(id);
  out += ",\"result\":{\"content\":[{\"type\":\"text\",\"text\":";
  out.reserve(out.size() + 2 * outcome.text.size() + 64);
  write_json_string(outcome.text, out);
  out += "}],\"isError\":";
  out += outcome.is_error ? "true" : "false";
  out += ",\"structuredContent\":";
  out += outcome.text;
  out += "}}";
  return out;
}

}  // namespace tuvel::mcp
