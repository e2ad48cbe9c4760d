// SPDX-License-Identifier: Apache-2.0
// Typed reading over a Reader, straight from the text: arrays and objects
// walked member by member, records in their array or object form, and the
// scalar values their fields hold. Faults are recorded on the Reader as in
// the rest of the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "error/error.h"
#include "protocol/decode_messages.h"
#include "protocol/decode_reader.h"

namespace tuvel::decode {

/// fault_error: the fault of a failed decode, placed, with its position.
inline Error fault_error(Reader& r) {
  r.place();
  return Error::plain(with_position(r.fault().message, r.text(), r.fault().at));
}

/// contents: the array or object whose bracket is ahead, read by `visit`. A
/// fault without a point of its own is placed where the value closes.
template <class Visit>
bool contents(Reader& r, bool array, Visit visit) {
  if (!r.enter()) return false;
  const bool ok = visit();
  r.leave();
  if (ok) return array ? r.end_seq() : r.end_map();
  if (!r.placed()) {
    if (array) {
      r.skip_end_seq();
    } else {
      r.skip_end_map();
    }
    r.place();
  }
  return false;
}

/// elements: inside an array, `element()` reads each element that follows,
/// up to the closing bracket. `first`: no element has been moved to yet.
template <class Element>
bool elements(Reader& r, Element element, bool first = true) {
  for (;;) {
    bool has = false;
    if (!r.next_element(first, has)) return false;
    if (!has) return true;
    if (!element()) return false;
  }
}

/// members: inside an object, `member()` reads each member, from just past
/// its key's opening quote, up to the closing brace.
template <class Member>
bool members(Reader& r, Member member) {
  bool first = true;
  for (;;) {
    bool has = false;
    if (!r.next_key(first, has)) return false;
    if (!has) return true;
    r.bump();
    if (!member()) return false;
  }
}

/// record: a value of `shape`, its fields in order in the array form, named
/// once each in the object form; `field(f)` reads the value of field f.
/// `key` is scratch space for object keys.
template <class Field>
bool record(Reader& r, const Shape& shape, std::string& key, Field field) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c == '[') {
    return contents(r, true, [&] {
      bool first = true;
      for (std::size_t f = 0; f < shape.count; ++f) {
        bool has = false;
        if (!r.next_element(first, has)) return false;
        if (has) {
          if (!field(f)) return false;
        } else if (shape.presence[f] != Presence::Default) {
          return r.fail_model(invalid_length(f, shape.seq_expected));
        }
      }
      return true;
    });
  }
  if (c != '{') return r.invalid_type(shape.expected);
  return contents(r, false, [&] {
    bool seen[kMaxFields] = {};
    const bool read = members(r, [&] {
      if (!r.string_into(key)) return false;
      // Key faults are reported just past the key's closing quote.
      const int f = field_index(shape, key);
      if (f < 0) return r.fail_here(unknown_field(key, shape.names));
      if (seen[f]) return r.fail_here(duplicate_field(shape.fields[f]));
      seen[f] = true;
      return r.colon() && field(static_cast<std::size_t>(f));
    });
    if (!read) return false;
    for (std::size_t f = 0; f < shape.count; ++f) {
      if (!seen[f] && shape.presence[f] == Presence::Required) return r.fail_model(missing_field(shape.fields[f]));
    }
    return true;
  });
}

/// optional_value: null for none, else the value `read(out.emplace())` reads.
template <class T, class Read>
bool optional_value(Reader& r, std::optional<T>& out, Read read) {
  if (r.skip_ws() == 'n') {
    r.bump();
    if (!r.ident("ull")) return false;
    out.reset();
    return true;
  }
  return read(out.emplace());
}

/// string_value: a string.
inline bool string_value(Reader& r, std::string& out) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c != '"') return r.invalid_type(kExpectString);
  r.bump();
  return r.string_into(out);
}

/// optional_string_value: a string, or null for none.
inline bool optional_string_value(Reader& r, std::optional<std::string>& out) {
  return optional_value(r, out, [&](std::string& value) { return string_value(r, value); });
}

/// bool_value: true or false.
inline bool bool_value(Reader& r, bool& out) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c == 't') {
    r.bump();
    out = true;
    return r.ident("rue");
  }
  if (c == 'f') {
    r.bump();
    out = false;
    return r.ident("alse");
  }
  return r.invalid_type(kExpectBool);
}

/// usize_value: an unsigned integer (no fraction, no exponent, no sign).
inline bool usize_value(Reader& r, std::uint64_t& out) {
  const int c = r.skip_ws();
  if (c == Reader::kEnd) return r.fail_peek(kEofValue);
  if (c != '-' && (c < '0' || c > '9')) return r.invalid_type(kExpectUsize);
  Number n;
  if (!r.number(n)) return false;
  switch (n.kind) {
    case Number::Kind::Unsigned: out = n.u; return true;
    case Number::Kind::Signed: return r.fail_here(invalid_value(found_number(n), kExpectUsize));
    case Number::Kind::Float: break;
  }
  return r.fail_here(invalid_type(found_number(n), kExpectUsize));
}

}  // namespace tuvel::decode
