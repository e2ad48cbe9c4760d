// SPDX-License-Identifier: Apache-2.0
// Plain: a JSON value read whole, before it is matched against the model
// (a request body that stands before "op", and the fields of an edit).
// Values are kept flat in reading order: a container is followed by its
// contents and records where they end; an object's contents are key, value
// pairs. Strings without escapes stay in the text; decoded ones are kept
// whole so that matching can move them into the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/decode_reader.h"

namespace tuvel::decode {

struct Node {
  enum class Kind : std::uint8_t { Null, False, True, Unsigned, Signed, Float, String, Array, Object };
  Kind kind = Kind::Null;
  bool copied = false;     ///< String: decoded and kept apart, else in the text
  std::uint32_t size = 0;  ///< String: bytes; Array: elements; Object: members
  std::uint64_t value = 0; ///< number bits; String: offset in the text or index
                           ///< of the decoded string; Array, Object: index past the contents
};

class Plain {
 public:
  /// Empties the store for values read from `text`.
  void reset(std::string_view text);

  /// Reads the value ahead of `reader` and appends it.
  bool capture(Reader& reader);
  /// After a string's opening quote: reads it and appends it.
  bool capture_string(Reader& reader);
  /// Removes the last value, a string just appended.
  void drop_string();
  /// Starts a container whose contents the caller appends; returns its index.
  std::size_t open(Node::Kind kind);
  void close(std::size_t at, std::size_t size);

  std::size_t size() const { return nodes_.size(); }
  const Node& operator[](std::size_t i) const { return nodes_[i]; }
  /// Index just past the value at `i`.
  std::size_t next(std::size_t i) const;
  std::string_view string(std::size_t i) const;
  /// The string at `i`, moved out when it was decoded (it is matched once).
  void take_string(std::size_t i, std::string& out);
  /// The {found} text of the value at `i`.
  std::string found(std::size_t i) const;

 private:
  void push(Node::Kind kind, std::uint64_t value = 0);

  std::string_view text_;
  std::vector<Node> nodes_;
  std::vector<std::string> decoded_;
};

}  // namespace tuvel::decode
