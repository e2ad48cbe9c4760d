// SPDX-License-Identifier: Apache-2.0
// The decoders of the file-tree requests (create, list): one record each,
// judged by the same rules and messages as the edit request.
#include "protocol/decode.h"
#include "protocol/decode_structure.h"

namespace tuvel {

using namespace decode;

Result<CreateRequest> decode_create_request(std::string_view text) {
  Reader r(text);
  std::string key;
  CreateRequest request;
  const bool ok = record(r, kCreateRequestShape, key, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r, request.path);
      case 1: return string_value(r, request.text);
      default: return bool_value(r, request.parents);
    }
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

Result<ListRequest> decode_list_request(std::string_view text) {
  Reader r(text);
  std::string key;
  ListRequest request;
  const bool ok = record(r, kListRequestShape, key, [&](std::size_t f) {
    return optional_string_value(r, f == 0 ? request.path : request.cursor);
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

}  // namespace tuvel
