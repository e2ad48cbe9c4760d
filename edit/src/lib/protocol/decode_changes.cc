// SPDX-License-Identifier: Apache-2.0
// The decoders of the change-set requests (move, remove, a change set), judged
// by the same rules and messages as the edit request. A change is read whole,
// since its "kind" may stand after the fields it names, then matched.
#include "protocol/decode.h"
#include "protocol/decode_match.h"
#include "protocol/decode_plain.h"
#include "protocol/decode_structure.h"

namespace tuvel {

using namespace decode;

Result<MoveRequest> decode_move_request(std::string_view text) {
  Reader r(text);
  std::string key;
  MoveRequest request;
  const bool ok = record(r, kMoveRequestShape, key, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r, request.from);
      case 1: return string_value(r, request.to);
      case 2: return string_value(r, request.revision);
      default: return bool_value(r, request.parents);
    }
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

Result<RemoveRequest> decode_remove_request(std::string_view text) {
  Reader r(text);
  std::string key;
  RemoveRequest request;
  const bool ok = record(r, kRemoveRequestShape, key, [&](std::size_t f) {
    return string_value(r, f == 0 ? request.path : request.revision);
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

Result<ChangeSetRequest> decode_change_set_request(std::string_view text) {
  Reader r(text);
  std::string key;
  Plain held;
  ChangeSetRequest request;
  const bool ok = record(r, kChangeSetShape, key, [&](std::size_t) {
    const int c = r.skip_ws();
    if (c == Reader::kEnd) return r.fail_peek(kEofValue);
    if (c != '[') return r.invalid_type(kExpectSequence);
    return contents(r, true, [&] {
      return elements(r, [&] {
        held.reset(r.text());
        return held.capture(r) && Matcher(held, r).change(0, request.changes);
      });
    });
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

}  // namespace tuvel
