// SPDX-License-Identifier: Apache-2.0
// decode_request / decode_edit_request: the strict one-pass JSON decoder of
// request texts. A failure is a plain Error whose message ends with
// " at line {line} column {column}".
#pragma once

#include <string_view>

#include "error/error.h"
#include "protocol/request.h"

namespace tuvel {

/// Decodes one batch line (its line feed included) into a Request.
Result<Request> decode_request(std::string_view text);
/// Decodes the whole standard input of `apply` into an EditRequest.
Result<EditRequest> decode_edit_request(std::string_view text);
/// The failure of a request text longer than MAX_REQUEST_BYTES, which is
/// refused before it is decoded.
Error request_too_long();

/// Decodes the JSON object text of a create request.
Result<CreateRequest> decode_create_request(std::string_view text);
/// Decodes the JSON object text of a list request.
Result<ListRequest> decode_list_request(std::string_view text);
/// Decodes the JSON object text of a search request.
Result<SearchRequest> decode_search_request(std::string_view text);
/// Decodes the JSON object text of a find request.
Result<FindRequest> decode_find_request(std::string_view text);

/// Decodes the JSON object text of a move request.
Result<MoveRequest> decode_move_request(std::string_view text);
/// Decodes the JSON object text of a remove request.
Result<RemoveRequest> decode_remove_request(std::string_view text);
/// Decodes the JSON object text of a change set: {"changes":[...]}, each
/// change an object whose "kind" names its fields.
Result<ChangeSetRequest> decode_change_set_request(std::string_view text);

}  // namespace tuvel
