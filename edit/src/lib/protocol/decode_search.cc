// SPDX-License-Identifier: Apache-2.0
// The decoders of the search and find requests, judged by the same rules
// and messages as the other requests.
#include "protocol/decode.h"
#include "protocol/decode_structure.h"

namespace tuvel {
namespace {

using namespace decode;

bool string_list(Reader& r, std::vector<std::string>& out) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c != '[') return r.invalid_type(kExpectSequence);
  return contents(r, true, [&] { return elements(r, [&] { return string_value(r, out.emplace_back()); }); });
}

bool output_value(Reader& r, std::string& scratch, bool& files_only) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c != '"') return r.invalid_type(kExpectVariant);
  r.bump();
  if (!r.string_into(scratch)) return false;
  if (scratch == kOutputNames[0] || scratch == kOutputNames[1]) {
    files_only = scratch == kOutputNames[1];
    return true;
  }
  return r.fail_here(unknown_variant(scratch, kOutputList));
}

}  // namespace

Result<SearchRequest> decode_search_request(std::string_view text) {
  Reader r(text);
  std::string key;
  std::string scratch;
  SearchRequest request;
  const bool ok = record(r, kSearchRequestShape, key, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r, request.pattern);
      case 1: return optional_string_value(r, request.path);
      case 2: return string_list(r, request.globs);
      case 3: return bool_value(r, request.case_insensitive);
      case 4: return bool_value(r, request.fixed_strings);
      case 5: return bool_value(r, request.hidden);
      case 6: return bool_value(r, request.no_ignore);
      case 7: return usize_value(r, request.context);
      case 8: return output_value(r, scratch, request.files_only);
      case 9: return usize_value(r, request.max_results);
      default: return optional_string_value(r, request.cursor);
    }
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

Result<FindRequest> decode_find_request(std::string_view text) {
  Reader r(text);
  std::string key;
  FindRequest request;
  const bool ok = record(r, kFindRequestShape, key, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r, request.pattern);
      case 1: return optional_string_value(r, request.path);
      case 2: return bool_value(r, request.hidden);
      case 3: return bool_value(r, request.no_ignore);
      case 4: return usize_value(r, request.max_results);
      default: return optional_string_value(r, request.cursor);
    }
  });
  if (!ok || !r.end()) return fault_error(r);
  return request;
}

}  // namespace tuvel
