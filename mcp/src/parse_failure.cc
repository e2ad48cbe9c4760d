// SPDX-License-Identifier: Apache-2.0
#include "parse_failure.h"

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

}  // namespace

std::string parse_failure(std::string_view text, const ScanFault& fault) {
  if (fault.kind == ScanFault::Kind::Syntax) {
    FirstFault handler;
    try {
      (void)ordered_json::sax_parse(text.begin(), text.end(), &handler);
    } catch (const std::exception&) {
      // The handler reports every fault; nothing else is expected to throw.
    }
    if (!handler.description.empty()) return handler.description;
  }
  // The column counts the bytes up to the fault, as the edit decoder's do.
  const std::string at = " at line 1 column " + std::to_string(fault.offset);
  if (fault.kind == ScanFault::Kind::Syntax) return "syntax error" + at;
  return std::string(decode::kNumberOutOfRange) + at;
}

}  // namespace tuvel::mcp
