// SPDX-License-Identifier: Apache-2.0
// Server: the MCP message handler. One line in, zero or one line out; it
// keeps only the repository opened at start-up and the lifecycle state
// between lines.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "json_scan.h"

#include "source/source.h"

namespace tuvel::mcp {

/// Protocol revisions answered, newest first; an unknown request gets the first.
inline constexpr std::string_view SUPPORTED_PROTOCOL_VERSIONS[] = {"2025-11-25", "2025-06-18", "2025-03-26",
                                                                   "2024-11-05", "2024-10-07"};

/// The one revision that takes batches: it requires them, later ones removed them.
inline constexpr std::string_view BATCH_PROTOCOL_VERSION = "2025-03-26";

class Server {
 public:
  explicit Server(Repo repo) : repo_(std::move(repo)) {}

  /// Emit: takes the next piece of an answer; false when it could not be
  /// written, and then the rest of the line is left unanswered.
  using Emit = std::function<bool(std::string_view)>;

  /// Answers one message line (its line feed may be included): nothing for
  /// a notification or a response, else one answer line with its line feed,
  /// in one piece or, for a long batch, in several. False once `emit` failed.
  bool handle(std::string_view line, const Emit& emit);

  /// The answer to one line as one text without its line feed; none when
  /// nothing is answered.
  std::optional<std::string> handle(std::string_view line);

  /// The answer to a line longer than MAX_LINE_BYTES.
  static std::string overlong_answer();

 private:
  std::optional<std::string> message(const JsonValue& value, std::size_t depth);
  bool batch(const JsonValue& array, const Emit& emit);
  std::string request(std::string_view id, const std::string& method, const JsonValue* params);
  std::string initialize(std::string_view id, const JsonValue* params);
  std::string call(std::string_view id, const JsonValue* params);

  Repo repo_;
  bool initialized_ = false;
  bool batches_ = false;
};

}  // namespace tuvel::mcp
