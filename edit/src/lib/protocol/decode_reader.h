// SPDX-License-Identifier: Apache-2.0
// Reader: the byte-level half of the request decoder. It walks a JSON text
// once, front to back, and knows whitespace, strings, numbers, literals,
// separators and the nesting limit. Every operation returns false after
// recording the one Fault of the decode; the typed layers stop at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tuvel::decode {

/// A fault whose point is not known yet (a model error); the innermost
/// enclosing value places it when it closes.
inline constexpr std::size_t kUnplaced = static_cast<std::size_t>(-1);

/// Fault: the first problem of a decode and the byte offset it is reported at.
struct Fault {
  std::string message;
  std::size_t at = kUnplaced;
};

/// Number: a JSON number as the decoder classifies it.
struct Number {
  enum class Kind : std::uint8_t { Unsigned, Signed, Float };
  Kind kind = Kind::Unsigned;
  std::uint64_t u = 0;  ///< Unsigned
  std::int64_t i = 0;   ///< Signed (always negative)
  double f = 0;         ///< Float
};

/// The {found} text of a number.
std::string found_number(const Number& n);

/// Str: where a string's decoded bytes lie: in the text when it had no
/// escape, else in the buffer passed to Reader::string.
struct Str {
  std::size_t begin = 0;
  std::size_t size = 0;
  bool copied = false;
};

/// Sink: writes a decoded string into a buffer sized up front, growing it
/// only if the size given was short.
class Sink {
 public:
  Sink(std::string& buf, std::size_t bound);
  void room(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - out_) < n) grow(n);
  }
  /// After room(1).
  void byte(char c) { *out_++ = c; }
  void bytes(const char* p, std::size_t n) {
    room(n);
    if (n != 0) std::memcpy(out_, p, n);
    out_ += n;
  }
  /// Trims the buffer to what was written; the length of the string.
  std::size_t finish();

 private:
  void grow(std::size_t n);

  std::string& buf_;
  std::size_t begin_;
  char* out_;
  char* limit_;
};

class Reader {
 public:
  static constexpr int kEnd = -1;
  /// Arrays and objects may nest this deep, the outermost counting as 1.
  static constexpr int kMaxDepth = 127;

  explicit Reader(std::string_view text) : text_(text) {}

  std::string_view text() const { return text_; }
  std::size_t pos() const { return pos_; }
  /// Skips whitespace; the byte now ahead (not consumed), or kEnd.
  int skip_ws();
  void bump() { ++pos_; }

  const Fault& fault() const { return fault_; }
  bool placed() const { return fault_.at != kUnplaced; }
  bool fail_at(std::size_t at, std::string message);
  /// Reported at the current position.
  bool fail_here(std::string_view message) { return fail_at(pos_, std::string(message)); }
  /// Reported just past the byte ahead (or at the end of the text).
  bool fail_peek(std::string_view message);
  /// A model error; placed later by place().
  bool fail_model(std::string message);
  /// Gives an unplaced fault the current position.
  void place() {
    if (fault_.at == kUnplaced) fault_.at = pos_;
  }

  /// At '[' or '{': consumes it unless that would pass the nesting limit.
  bool enter();
  void leave() { --depth_; }

  /// After a literal's first byte: the rest of "true", "false" or "null".
  bool ident(std::string_view rest);
  /// After the opening quote: reads up to and past the closing quote.
  /// Escaped strings are decoded by appending to `buf`.
  bool string(std::string& buf, Str& out);
  /// As string(), into `out` (replacing its content).
  bool string_into(std::string& out);
  std::string_view view(const Str& s, const std::string& buf) const {
    return s.copied ? std::string_view(buf).substr(s.begin, s.size) : text_.substr(s.begin, s.size);
  }
  /// At '-' or a digit.
  bool number(Number& out);

  /// The colon after an object key.
  bool colon();
  /// Moves to the next array element: `has` is false at the closing bracket.
  bool next_element(bool& first, bool& has);
  /// Moves to the next object key: `has` is true with the key's quote ahead.
  bool next_key(bool& first, bool& has);
  /// Closes an array after its last element was read.
  bool end_seq();
  /// Closes an object after its last member was read.
  bool end_map();
  /// What closing does to the position after a failure inside the value.
  void skip_end_seq();
  void skip_end_map();
  /// After the outermost value: only whitespace may follow.
  bool end();

  /// The value ahead is of the wrong type: reads it (scalars) and fails with
  /// "invalid type: {found}, expected {expected}".
  bool invalid_type(std::string_view expected);

 private:
  bool escape(Sink& out);
  bool unicode_escape(Sink& out);
  bool hex4(std::uint32_t& out);
  bool integer(bool positive, Number& out);
  bool after_integer(bool positive, std::uint64_t significand, Number& out);
  bool long_integer(bool positive, std::uint64_t significand, Number& out);
  bool decimal(bool positive, std::uint64_t significand, int exp_before, Number& out);
  bool exponent(bool positive, std::uint64_t significand, int starting, Number& out);
  bool from_parts(bool positive, std::uint64_t significand, int exponent, Number& out);
  int peek_or_nul() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : 0; }

  std::string_view text_;
  std::size_t pos_ = 0;
  int depth_ = 0;
  Fault fault_;
  std::string scratch_;
};

}  // namespace tuvel::decode
