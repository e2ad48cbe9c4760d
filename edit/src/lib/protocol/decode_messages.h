// SPDX-License-Identifier: Apache-2.0
// The texts of decode failures: syntax messages, model messages, the way a
// found value is named in them, and the shapes of the request records
// (field names in order, as messages list them). Every message text of the
// decoder is spelled here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tuvel::decode {

// Syntax messages.
inline constexpr std::string_view kEofList = "EOF while parsing a list";
inline constexpr std::string_view kEofObject = "EOF while parsing an object";
inline constexpr std::string_view kEofString = "EOF while parsing a string";
inline constexpr std::string_view kEofValue = "EOF while parsing a value";
inline constexpr std::string_view kExpectedColon = "expected `:`";
inline constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
inline constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
inline constexpr std::string_view kExpectedIdent = "expected ident";
inline constexpr std::string_view kExpectedValue = "expected value";
inline constexpr std::string_view kInvalidEscape = "invalid escape";
inline constexpr std::string_view kInvalidNumber = "invalid number";
inline constexpr std::string_view kNumberOutOfRange = "number out of range";
inline constexpr std::string_view kInvalidUnicode = "invalid unicode code point";
inline constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view kKeyMustBeString = "key must be a string";
inline constexpr std::string_view kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view kUnexpectedEndOfHex = "unexpected end of hex escape";
inline constexpr std::string_view kTrailingComma = "trailing comma";
inline constexpr std::string_view kTrailingCharacters = "trailing characters";
inline constexpr std::string_view kRecursionLimit = "recursion limit exceeded";
inline constexpr std::string_view kRequestTooLong = "request exceeds 2 MiB";

// {expected} texts.
inline constexpr std::string_view kExpectRequest = "adjacently tagged enum Request";
inline constexpr std::string_view kExpectEdit = "internally tagged enum Edit";
inline constexpr std::string_view kExpectSequence = "a sequence";
inline constexpr std::string_view kExpectString = "a string";
inline constexpr std::string_view kExpectUsize = "usize";
inline constexpr std::string_view kExpectVariant = "variant identifier";
inline constexpr std::string_view kExpectUnit = "unit";
inline constexpr std::string_view kExpectVariantIndex = "variant index 0 <= i < 2";
inline constexpr std::string_view kExpectEnvelopeKey = "\"op\" or \"request\"";

// {found} texts that carry no value.
inline constexpr std::string_view kFoundNull = "null";
inline constexpr std::string_view kFoundSequence = "sequence";
inline constexpr std::string_view kFoundMap = "map";

// Names in the envelope and the edit.
inline constexpr std::string_view kOpKey = "op";
inline constexpr std::string_view kRequestKey = "request";
inline constexpr std::string_view kKindKey = "kind";
inline constexpr std::string_view kOpNames[] = {"read", "preview", "apply"};
inline constexpr std::string_view kOpList = "one of `read`, `preview`, `apply`";
inline constexpr std::string_view kKindNames[] = {"lines", "replace"};
inline constexpr std::string_view kKindList = "`lines` or `replace`";

/// How a field behaves when it is absent.
enum class Presence : std::uint8_t {
  Required,  // missing field (object form) or too short (array form)
  Default,   // takes its default in both forms
  Optional,  // none in the object form; required in the array form
};

/// The most fields a record has.
inline constexpr std::size_t kMaxFields = 11;

/// Shape: a record as messages see it, fields in their order.
struct Shape {
  std::string_view expected;      ///< wrong-type {expected}, e.g. "struct ReadSpec"
  std::string_view names;         ///< {names} of "unknown field"
  std::string_view seq_expected;  ///< {expected} of a too-short array form
  std::size_t count;
  std::string_view fields[kMaxFields];
  Presence presence[kMaxFields];
};

inline constexpr Shape kReadRequestShape{
    "struct ReadRequest", "`files`", "struct ReadRequest with 1 element", 1, {"files"}, {Presence::Required}};
inline constexpr Shape kReadSpecShape{"struct ReadSpec",
                                      "one of `path`, `start`, `end`",
                                      "struct ReadSpec with 3 elements",
                                      3,
                                      {"path", "start", "end"},
                                      {Presence::Required, Presence::Default, Presence::Optional}};
inline constexpr Shape kEditRequestShape{"struct EditRequest",
                                         "one of `path`, `revision`, `edits`",
                                         "struct EditRequest with 3 elements",
                                         3,
                                         {"path", "revision", "edits"},
                                         {Presence::Required, Presence::Required, Presence::Required}};
inline constexpr Shape kLinesShape{"struct variant Edit::Lines",
                                   "one of `start`, `end`, `text`",
                                   "struct variant Edit::Lines with 3 elements",
                                   3,
                                   {"start", "end", "text"},
                                   {Presence::Required, Presence::Required, Presence::Required}};
inline constexpr Shape kReplaceShape{"struct variant Edit::Replace",
                                     "one of `old`, `new`, `count`",
                                     "struct variant Edit::Replace with 3 elements",
                                     3,
                                     {"old", "new", "count"},
                                     {Presence::Required, Presence::Required, Presence::Required}};

// The file-tree requests.
inline constexpr std::string_view kExpectBool = "a boolean";
inline constexpr Shape kCreateRequestShape{"struct CreateRequest",
                                           "one of `path`, `text`, `parents`",
                                           "struct CreateRequest with 3 elements",
                                           3,
                                           {"path", "text", "parents"},
                                           {Presence::Required, Presence::Required, Presence::Default}};
inline constexpr Shape kListRequestShape{"struct ListRequest",
                                         "`path` or `cursor`",
                                         "struct ListRequest with 2 elements",
                                         2,
                                         {"path", "cursor"},
                                         {Presence::Optional, Presence::Default}};
inline constexpr Shape kSearchRequestShape{
    "struct SearchRequest",
    "one of `pattern`, `path`, `glob`, `case_insensitive`, `fixed_strings`, `hidden`, `no_ignore`, `context`, "
    "`output`, `max_results`, `cursor`",
    "struct SearchRequest with 11 elements",
    11,
    {"pattern", "path", "glob", "case_insensitive", "fixed_strings", "hidden", "no_ignore", "context", "output",
     "max_results", "cursor"},
    {Presence::Required, Presence::Optional, Presence::Default, Presence::Default, Presence::Default,
     Presence::Default, Presence::Default, Presence::Default, Presence::Default, Presence::Default,
     Presence::Optional}};
inline constexpr Shape kFindRequestShape{
    "struct FindRequest",
    "one of `pattern`, `path`, `hidden`, `no_ignore`, `max_results`, `cursor`",
    "struct FindRequest with 6 elements",
    6,
    {"pattern", "path", "hidden", "no_ignore", "max_results", "cursor"},
    {Presence::Required, Presence::Optional, Presence::Default, Presence::Default, Presence::Default,
     Presence::Optional}};
inline constexpr std::string_view kOutputNames[] = {"content", "files"};
inline constexpr std::string_view kOutputList = "`content` or `files`";

// The change-set requests.
inline constexpr Shape kMoveRequestShape{"struct MoveRequest",
                                         "one of `from`, `to`, `revision`, `parents`",
                                         "struct MoveRequest with 4 elements",
                                         4,
                                         {"from", "to", "revision", "parents"},
                                         {Presence::Required, Presence::Required, Presence::Required,
                                          Presence::Default}};
inline constexpr Shape kRemoveRequestShape{"struct RemoveRequest",
                                           "one of `path`, `revision`",
                                           "struct RemoveRequest with 2 elements",
                                           2,
                                           {"path", "revision"},
                                           {Presence::Required, Presence::Required}};
inline constexpr Shape kChangeSetShape{"struct ChangeSetRequest", "`changes`",
                                       "struct ChangeSetRequest with 1 element", 1, {"changes"}, {Presence::Required}};
inline constexpr std::string_view kChangeKindNames[] = {"edit", "create", "move", "remove"};
inline constexpr std::string_view kChangeKindList = "one of `edit`, `create`, `move`, `remove`";
inline constexpr std::string_view kExpectChange = "internally tagged enum FileChange";
inline constexpr std::string_view kExpectChangeIndex = "variant index 0 <= i < 4";

/// Index of `key` among the shape's fields, or -1.
int field_index(const Shape& shape, std::string_view key);

// {found} renderings.
std::string found_bool(bool value);
std::string found_unsigned(std::uint64_t value);
std::string found_signed(std::int64_t value);
std::string found_float(double value);
std::string found_string(std::string_view value);

/// {quoted}: the string in double quotes with \\, \", \t, \r, \n, \0 and
/// \u{..} for other control characters.
std::string quoted(std::string_view s);
/// Shortest text that reads back as `value`: "1.0", "0.5", "1e-7", "1.8446744073709552e19".
std::string float_text(double value);

// Model messages.
std::string invalid_type(std::string_view found, std::string_view expected);
std::string invalid_value(std::string_view found, std::string_view expected);
std::string invalid_length(std::size_t count, std::string_view expected);
/// "{n} elements in sequence" ("1 element in sequence").
std::string in_sequence(std::size_t n);
std::string missing_field(std::string_view field);
std::string duplicate_field(std::string_view field);
std::string unknown_field(std::string_view key, std::string_view names);
std::string unknown_variant(std::string_view name, std::string_view names);

/// `message` + " at line {line} column {column}" for the byte offset `at` of `text`.
std::string with_position(std::string_view message, std::string_view text, std::size_t at);

}  // namespace tuvel::decode
