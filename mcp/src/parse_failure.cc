// SPDX-License-Identifier: Apache-2.0
#include "parse_failure.h"

#include <charconv>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "protocol/decode_messages.h"

namespace tuvel::mcp {
namespace {

using nlohmann::ordered_json;

/// FirstFault: a SAX handler that keeps nothing but the parser's description
/// of the first fault, so describing a huge line builds no document.
class FirstFault final : public nlohmann::json_sax<ordered_json> {
 public:
  std::string description;

  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    // "[json.exception.parse_error.101] parse error at ...": the text after the tag.
    const std::string_view what = e.what();
    const auto tag = what.find("] ");
    description = std::string(tag == std::string_view::npos ? what : what.substr(tag + 2));
    return false;
  }
};

/// The longest run since the last string or number after which the library
/// is shown the whole line.
constexpr std::size_t kWholeLineRun = std::size_t{64} * 1024;

/// The shortest text that leaves the parser where `expected` says, so that
/// the faulty token and what follows it meet the same parser state.
std::string_view context(ScanFault::Expected expected) {
  switch (expected) {
    case ScanFault::Expected::Start: return "";
    case ScanFault::Expected::FirstElement: return "[";
    case ScanFault::Expected::ElementAfterComma: return R"(["",)";
    case ScanFault::Expected::FirstKey: return "{";
    case ScanFault::Expected::KeyAfterComma: return R"({"":"",)";
    case ScanFault::Expected::Colon: return R"({"")";
    case ScanFault::Expected::MemberValue: return R"({"":)";
    case ScanFault::Expected::AfterElement: return R"(["")";
    case ScanFault::Expected::AfterMember: return R"({"":"")";
    case ScanFault::Expected::End: return R"("")";
  }
  return "";
}

/// The JSON library's description of the first fault in `text`.
std::string library_description(std::string_view text) {
  FirstFault handler;
  try {
    (void)ordered_json::sax_parse(text.begin(), text.end(), &handler);
  } catch (const std::exception&) {
    // The handler takes every fault; nothing else is expected to throw.
  }
  return handler.description;
}

}  // namespace

std::string parse_failure(std::string_view text, const ScanFault& fault) {
  // The column counts the bytes up to the fault, as the edit decoder's do.
  const std::string at = " at line 1 column " + std::to_string(fault.offset);
  if (fault.kind == ScanFault::Kind::NumberOutOfRange) return std::string(decode::kNumberOutOfRange) + at;
  // The library keeps all it reads since the last string or number and
  // copies it, escaped, into its description; up to a bound it is shown the
  // whole line and its words are taken as they are. After a longer run (of
  // brackets or white space) it is shown only the faulty token and what
  // follows, after a short text that puts its parser in the same state, and
  // its column is moved back.
  if (fault.offset - fault.scalar <= kWholeLineRun) {
    std::string description = library_description(text);
    return description.empty() ? "syntax error" + at : description;
  }
  const std::string_view prefix = context(fault.expected);
  std::string shown(prefix);
  shown.append(text.substr(fault.token));
  std::string description = library_description(shown);
  constexpr std::string_view kColumn = "parse error at line 1, column ";
  std::size_t column = 0;
  const char* first = description.data() + kColumn.size();
  const char* last = description.data() + description.size();
  if (description.rfind(kColumn, 0) == 0) {
    const auto [end, ec] = std::from_chars(first, last, column);
    if (ec == std::errc() && column >= prefix.size()) {
      const std::size_t digits = static_cast<std::size_t>(end - first);
      description.replace(kColumn.size(), digits, std::to_string(column - prefix.size() + fault.token));
      return description;
    }
  }
  return description.empty() ? "syntax error" + at : description;
}

}  // namespace tuvel::mcp
