// SPDX-License-Identifier: Apache-2.0
// Json: the output object model. Object members are kept sorted by key,
// byte by byte, so every text written has sorted keys however it was built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tuvel {

class Json;
using JsonArray = std::vector<Json>;
/// std::string compares as unsigned bytes, which is the required key order.
using JsonObject = std::map<std::string, Json, std::less<>>;

class Json {
 public:
  Json() : v_(nullptr) {}
  Json(std::nullptr_t) : v_(nullptr) {}                     // NOLINT
  Json(bool b) : v_(b) {}                                   // NOLINT
  Json(std::uint64_t n) : v_(n) {}                          // NOLINT
  Json(std::int64_t n) : v_(n) {}                           // NOLINT
  Json(int n) : v_(static_cast<std::int64_t>(n)) {}         // NOLINT
  Json(std::string s) : v_(std::move(s)) {}                 // NOLINT
  Json(std::string_view s) : v_(std::string(s)) {}          // NOLINT
  Json(const char* s) : v_(std::string(s)) {}               // NOLINT
  Json(JsonArray a) : v_(std::move(a)) {}                   // NOLINT
  Json(JsonObject o) : v_(std::move(o)) {}                  // NOLINT

  using Value = std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, std::string, JsonArray, JsonObject>;
  const Value& value() const { return v_; }
  Value& value() { return v_; }

  /// Member lookup on an object; nullptr when absent or not an object.
  const Json* find(std::string_view key) const;

 private:
  Value v_;
};

/// Appends the compact JSON text of `value` to `out` (no line feed).
void write_json(const Json& value, std::string& out);
/// Appends `s` as a JSON string, quotes included, with the output escaping.
void write_json_string(std::string_view s, std::string& out);
/// The length `write_json_string` would append, without the quotes.
std::size_t json_string_body_length(std::string_view s);
std::string to_json(const Json& value);

}  // namespace tuvel
