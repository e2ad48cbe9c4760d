// SPDX-License-Identifier: Apache-2.0
// JsonScan: JSON text checked and walked in place, in one linear pass, with
// nothing built. The check follows the strict grammar (RFC 8259, well-formed
// UTF-8 and paired surrogates in strings), refuses a number a double cannot
// hold and measures the nesting depth as it goes, so a hostile line costs
// time and memory in proportion to its length only. The walkers step through
// the members or elements of a text already checked, as spans of that text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tuvel::mcp {

/// What a check found wrong first, `offset` bytes into the text.
struct ScanFault {
  enum class Kind {
    Syntax,            // not JSON here
    NumberOutOfRange,  // a number beyond a double's range; `offset` is just past it
  };
  /// What the grammar allowed where the faulty token starts.
  enum class Expected {
    Start,              // the text's value
    FirstElement,       // a value or `]` after `[`
    ElementAfterComma,  // a value after `,` in an array
    FirstKey,           // a key or `}` after `{`
    KeyAfterComma,      // a key after `,` in an object
    Colon,              // `:` after a key
    MemberValue,        // a value after `:`
    AfterElement,       // `,` or `]` after a value in an array
    AfterMember,        // `,` or `}` after a value in an object
    End,                // the end of the text
  };
  Kind kind = Kind::Syntax;
  std::size_t offset = 0;
  std::size_t token = 0;  // where the faulty token starts
  Expected expected = Expected::Start;
  std::size_t scalar = 0;  // where the last string or number up to the fault starts (0: none)
};

enum class JsonType : unsigned char { Null, Boolean, Number, String, Array, Object };

/// JsonValue: one value of a checked text, as written.
struct JsonValue {
  std::string_view text;
  JsonType type = JsonType::Null;
};

/// Checked: the outcome of check_json. Without a fault, `value` is the one
/// value of the text and `depth` the most containers around any value in it
/// (0 for a scalar or an empty container, 1 for `[1]`).
struct Checked {
  std::optional<ScanFault> fault;
  JsonValue value;
  std::size_t depth = 0;
};

/// Checks that `text` is one JSON value, with white space around it allowed
/// and a UTF-8 byte order mark before it.
Checked check_json(std::string_view text);

/// Members: the members of a checked object text, in order.
class Members {
 public:
  explicit Members(std::string_view object) : text_(object) {}
  /// The next member (its key as written, quotes included); false after the last.
  bool next(std::string_view& key, JsonValue& value);

 private:
  std::string_view text_;
  std::size_t pos_ = 1;
};

/// Elements: the elements of a checked array text, in order.
class Elements {
 public:
  explicit Elements(std::string_view array) : text_(array) {}
  /// The next element and its own depth; false after the last.
  bool next(JsonValue& value, std::size_t& depth);

 private:
  std::string_view text_;
  std::size_t pos_ = 1;
};

/// The characters of a checked string text (quotes included), escapes undone.
std::string string_value(std::string_view text);

/// Whether a checked string text (quotes included) holds exactly `s`.
bool string_equals(std::string_view text, std::string_view s);

}  // namespace tuvel::mcp
