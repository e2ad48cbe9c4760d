// Typed reading over a Reader, straight from the text: records in their
// array or object form, and the scalar values their fields hold. Faults are
// recorded on the Reader as in the rest of the decoder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "protocol/decode_messages.h"
#include "protocol/decode_reader.h"

namespace tuvel::decode {

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
    bool seen[3] = {};
    bool first = true;
    for (;;) {
      bool has = false;
      if (!r.next_key(first, has)) return false;
      if (!has) break;
      r.bump();
      if (!r.string_into(key)) return false;
      // Key faults are reported just past the key's closing quote.
      const int f = field_index(shape, key);
      if (f < 0) return r.fail_here(unknown_field(key, shape.names));
      if (seen[f]) return r.fail_here(duplicate_field(shape.fields[f]));
      seen[f] = true;
      if (!r.colon() || !field(static_cast<std::size_t>(f))) return false;
    }
    for (std::size_t f = 0; f < shape.count; ++f) {
      if (!seen[f] && shape.presence[f] == Presence::Required) return r.fail_model(missing_field(shape.fields[f]));
    }
    return true;
  });
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
  if (r.skip_ws() == 'n') {
    r.bump();
    if (!r.ident("ull")) return false;
    out.reset();
    return true;
  }
  return string_value(r, out.emplace());
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

}  // namespace tuvel::decode
