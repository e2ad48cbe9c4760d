// SPDX-License-Identifier: Apache-2.0
// Envelope: the few members of a JSON-RPC message the server reads, taken as
// spans of its checked text; everything else in it is only stepped over. As
// with any JSON object read into a map, a repeated key counts last.
#pragma once

#include <optional>
#include <string_view>

#include "json_scan.h"

namespace tuvel::mcp {

struct Envelope {
  std::optional<JsonValue> jsonrpc;
  std::optional<JsonValue> id;
  std::optional<JsonValue> method;
  std::optional<JsonValue> params;
  bool response = false;  // it has a `result` or an `error`
};

/// The members read of the params object of initialize and tools/call.
struct ParamsMembers {
  std::optional<JsonValue> protocol_version;
  std::optional<JsonValue> name;
  std::optional<JsonValue> arguments;
};

/// The envelope of a checked object text.
Envelope read_envelope(std::string_view object);

/// The members read of a checked params object text.
ParamsMembers read_params(std::string_view object);

}  // namespace tuvel::mcp
