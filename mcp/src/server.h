// SPDX-License-Identifier: Apache-2.0
// Server: the MCP message handler. One line in, zero or one line out; it
// keeps only the repository path and the lifecycle state between lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tuvel::mcp {

/// Protocol revisions answered, newest first; an unknown request gets the first.
inline constexpr std::string_view SUPPORTED_PROTOCOL_VERSIONS[] = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                                   "2024-11-05", "2024-10-07"};

class Server {
 public:
  explicit Server(std::string repo) : repo_(std::move(repo)) {}

  /// The answer to one message line (its line feed may be included), without
  /// a line feed; none for a notification or a response.
  std::optional<std::string> handle(std::string_view line);

  /// The answer to a line longer than MAX_LINE_BYTES.
  static std::string overlong_answer();

 private:
  std::string request(const nlohmann::ordered_json& id, const std::string& method, const nlohmann::ordered_json* params);
  std::string initialize(const nlohmann::ordered_json& id, const nlohmann::ordered_json* params);
  std::string call(const nlohmann::ordered_json& id, const nlohmann::ordered_json* params);

  std::string repo_;
  bool initialized_ = false;
};

}  // namespace tuvel::mcp
