// SPDX-License-Identifier: Apache-2.0
#include "envelope.h"

namespace tuvel::mcp {

Envelope read_envelope(std::string_view object) {
  Envelope envelope;
  Members members(object);
  std::string_view key;
  JsonValue value;
  while (members.next(key, value)) {
    if (string_equals(key, "jsonrpc")) {
      envelope.jsonrpc = value;
    } else if (string_equals(key, "id")) {
      envelope.id = value;
    } else if (string_equals(key, "method")) {
      envelope.method = value;
    } else if (string_equals(key, "params")) {
      envelope.params = value;
    } else if (string_equals(key, "result") || string_equals(key, "error")) {
      envelope.response = true;
    }
  }
  return envelope;
}

ParamsMembers read_params(std::string_view object) {
  ParamsMembers params;
  Members members(object);
  std::string_view key;
  JsonValue value;
  while (members.next(key, value)) {
    if (string_equals(key, "protocolVersion")) {
      params.protocol_version = value;
    } else if (string_equals(key, "name")) {
      params.name = value;
    } else if (string_equals(key, "arguments")) {
      params.arguments = value;
    }
  }
  return params;
}

}  // namespace tuvel::mcp
