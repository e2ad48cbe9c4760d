// SPDX-License-Identifier: Apache-2.0
// The typed layer of the decoder: reads the request records straight from
// the text, front to back, and hands the two parts that are read whole (a
// body before "op", an edit's fields) to a Plain store and the Matcher.
#include "protocol/decode.h"

#include <span>

#include "protocol/decode_match.h"
#include "protocol/decode_messages.h"
#include "protocol/decode_plain.h"
#include "protocol/decode_reader.h"
#include "protocol/decode_structure.h"

namespace tuvel {
namespace {

using namespace decode;

class Decoder {
 public:
  explicit Decoder(std::string_view text) : r_(text) {}

  bool request(Request& out);
  bool edit_request(EditRequest& out);
  bool finish() { return r_.end(); }
  Error error() { return fault_error(r_); }

 private:
  template <class T, class Element>
  bool sequence(std::vector<T>& out, Element element);
  bool envelope(Request& out);
  bool envelope_key(bool& first, int& which);
  bool op_value(Op& out);
  bool body(Op op, Request& out);
  bool read_request(ReadRequest& out);
  bool read_spec(ReadSpec& out);
  bool edit(std::vector<Edit>& out);
  bool edit_map(int& kind, std::size_t& root);
  bool edit_sequence(int& kind, std::size_t& root);
  bool variant(std::span<const std::string_view> names, std::string_view list, int& out);
  bool usize(std::uint64_t& out);
  bool optional_usize(std::optional<std::uint64_t>& out);

  Reader r_;
  Plain held_;  // a body that stood before "op"
  Plain edit_;  // the fields of the edit being read
  std::string key_;
};

template <class T, class Element>
bool Decoder::sequence(std::vector<T>& out, Element element) {
  const int c = r_.skip_ws();
  if (c == Reader::kEnd) return r_.fail_peek(kEofValue);
  if (c != '[') return r_.invalid_type(kExpectSequence);
  return contents(r_, true, [&] { return elements(r_, [&] { return element(out); }); });
}

bool Decoder::usize(std::uint64_t& out) { return usize_value(r_, out); }

bool Decoder::optional_usize(std::optional<std::uint64_t>& out) {
  return optional_value(r_, out, [&](std::uint64_t& value) { return usize(value); });
}

bool Decoder::variant(std::span<const std::string_view> names, std::string_view list, int& out) {
  const int c = r_.skip_ws();
  if (c == Reader::kEnd) return r_.fail_peek(kEofValue);
  if (c != '"') return r_.invalid_type(kExpectVariant);
  r_.bump();
  if (!r_.string_into(key_)) return false;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (key_ == names[k]) {
      out = static_cast<int>(k);
      return true;
    }
  }
  return r_.fail_here(unknown_variant(key_, list));
}

bool Decoder::read_request(ReadRequest& out) {
  return record(r_, kReadRequestShape, key_, [&](std::size_t) {
    return sequence(out.files, [&](std::vector<ReadSpec>& files) { return read_spec(files.emplace_back()); });
  });
}

bool Decoder::read_spec(ReadSpec& out) {
  return record(r_, kReadSpecShape, key_, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r_, out.path);
      case 1: return usize(out.start);
      default: return optional_usize(out.end);
    }
  });
}

bool Decoder::edit_request(EditRequest& out) {
  return record(r_, kEditRequestShape, key_, [&](std::size_t f) {
    switch (f) {
      case 0: return string_value(r_, out.path);
      case 1: return string_value(r_, out.revision);
      default: return sequence(out.edits, [&](std::vector<Edit>& edits) { return edit(edits); });
    }
  });
}

// An edit is read whole first: "kind" is matched as it comes, every other
// member is held, and the held members are matched once the kind is known.
bool Decoder::edit(std::vector<Edit>& out) {
  const int c = r_.skip_ws();
  if (c == Reader::kEnd) return r_.fail_peek(kEofValue);
  edit_.reset(r_.text());
  int kind = -1;
  std::size_t root = 0;
  bool read = false;
  if (c == '{') {
    read = contents(r_, false, [&] { return edit_map(kind, root); });
  } else if (c == '[') {
    read = contents(r_, true, [&] { return edit_sequence(kind, root); });
  } else {
    return r_.invalid_type(kExpectEdit);
  }
  if (!read) return false;
  return Matcher(edit_, r_).edit_fields(kind, root, Matcher::Tag::Removed, out);
}

// The map form of an edit: "kind" anywhere among the held members.
bool Decoder::edit_map(int& kind, std::size_t& root) {
  root = edit_.open(Node::Kind::Object);
  std::size_t count = 0;
  const bool read = members(r_, [&] {
    if (!edit_.capture_string(r_)) return false;
    if (edit_.string(edit_.size() - 1) == kKindKey) {
      edit_.drop_string();
      if (kind >= 0) return r_.fail_here(duplicate_field(kKindKey));
      return r_.colon() && variant(kKindNames, kKindList, kind);
    }
    ++count;
    return r_.colon() && edit_.capture(r_);
  });
  if (!read) return false;
  edit_.close(root, count);
  if (kind < 0) return r_.fail_model(missing_field(kKindKey));
  return true;
}

// The sequence form of an edit: the kind first, then the held fields.
bool Decoder::edit_sequence(int& kind, std::size_t& root) {
  bool first = true;
  bool has = false;
  if (!r_.next_element(first, has)) return false;
  if (!has) return r_.fail_model(missing_field(kKindKey));
  if (!variant(kKindNames, kKindList, kind)) return false;
  root = edit_.open(Node::Kind::Array);
  std::size_t count = 0;
  const auto element = [&] {
    ++count;
    return edit_.capture(r_);
  };
  if (!elements(r_, element, first)) return false;
  edit_.close(root, count);
  return true;
}

// The op: a name, or an object whose one key is the name and whose value is null.
bool Decoder::op_value(Op& out) {
  const int c = r_.skip_ws();
  int index = 0;
  if (c == '"') {
    if (!variant(kOpNames, kOpList, index)) return false;
  } else if (c == '{') {
    if (!r_.enter()) return false;
    // The name is an object key: anything but a string (or the brace of an
    // empty object) is a syntax error there.
    const int key = r_.skip_ws();
    if (key == Reader::kEnd) return r_.fail_peek(kEofObject);
    if (key != '"' && key != '}') return r_.fail_peek(kKeyMustBeString);
    if (!variant(kOpNames, kOpList, index) || !r_.colon()) return false;
    const int v = r_.skip_ws();
    if (v == Reader::kEnd) return r_.fail_peek(kEofValue);
    if (v != 'n') return r_.invalid_type(kExpectUnit);
    r_.bump();
    if (!r_.ident("ull")) return false;
    r_.leave();
    // Only the closing brace may follow the one member.
    const int close = r_.skip_ws();
    if (close != '}') return r_.fail_peek(close == Reader::kEnd ? kEofObject : kExpectedValue);
    r_.bump();
  } else {
    return r_.fail_peek(c == Reader::kEnd ? kEofValue : kExpectedValue);
  }
  out = static_cast<Op>(index);
  return true;
}

bool Decoder::body(Op op, Request& out) {
  out.op = op;
  if (op == Op::Read) return read_request(out.body.emplace<ReadRequest>());
  return edit_request(out.body.emplace<EditRequest>());
}

// which: 0 at the end of the object, 1 for "op", 2 for "request".
bool Decoder::envelope_key(bool& first, int& which) {
  bool has = false;
  if (!r_.next_key(first, has)) return false;
  which = 0;
  if (!has) return true;
  r_.bump();
  if (!r_.string_into(key_)) return false;
  if (key_ == kOpKey) {
    which = 1;
  } else if (key_ == kRequestKey) {
    which = 2;
  } else {
    return r_.fail_here(invalid_value(found_string(key_), kExpectEnvelopeKey));
  }
  return true;
}

bool Decoder::envelope(Request& out) {
  bool first = true;
  int key = 0;
  if (!envelope_key(first, key)) return false;
  if (key == 0) return r_.fail_model(missing_field(kOpKey));
  Op op = Op::Read;
  if (key == 1) {
    if (!r_.colon() || !op_value(op) || !envelope_key(first, key)) return false;
    if (key == 0) return r_.fail_model(missing_field(kRequestKey));
    if (key == 1) return r_.fail_here(duplicate_field(kOpKey));
    if (!r_.colon() || !body(op, out)) return false;
  } else {
    // The body comes first: hold it until the op names its type.
    held_.reset(r_.text());
    if (!r_.colon() || !held_.capture(r_) || !envelope_key(first, key)) return false;
    if (key == 0) return r_.fail_model(missing_field(kOpKey));
    if (key == 2) return r_.fail_here(duplicate_field(kRequestKey));
    if (!r_.colon() || !op_value(op)) return false;
    out.op = op;
    Matcher held(held_, r_);
    const bool matched = op == Op::Read ? held.read_request(0, out.body.emplace<ReadRequest>())
                                        : held.edit_request(0, out.body.emplace<EditRequest>());
    if (!matched) return false;
  }
  if (!envelope_key(first, key)) return false;
  if (key == 1) return r_.fail_here(duplicate_field(kOpKey));
  if (key == 2) return r_.fail_here(duplicate_field(kRequestKey));
  return true;
}

bool Decoder::request(Request& out) {
  const int c = r_.skip_ws();
  if (c == Reader::kEnd) return r_.fail_peek(kEofValue);
  if (c == '{') return contents(r_, false, [&] { return envelope(out); });
  if (c != '[') return r_.invalid_type(kExpectRequest);
  return contents(r_, true, [&] {
    bool first = true;
    bool has = false;
    if (!r_.next_element(first, has)) return false;
    if (!has) return r_.fail_model(invalid_length(0, kExpectRequest));
    int index = 0;
    if (!variant(kOpNames, kOpList, index) || !r_.next_element(first, has)) return false;
    if (!has) return r_.fail_model(invalid_length(1, kExpectRequest));
    return body(static_cast<Op>(index), out);
  });
}

}  // namespace

Result<Request> decode_request(std::string_view text) {
  Decoder decoder(text);
  Request request;
  if (!decoder.request(request) || !decoder.finish()) return decoder.error();
  return request;
}

Result<EditRequest> decode_edit_request(std::string_view text) {
  Decoder decoder(text);
  EditRequest request;
  if (!decoder.edit_request(request) || !decoder.finish()) return decoder.error();
  return request;
}

Error request_too_long() { return Error::plain(std::string(kRequestTooLong)); }

}  // namespace tuvel
