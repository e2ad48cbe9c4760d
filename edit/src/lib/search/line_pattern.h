// SPDX-License-Identifier: Apache-2.0
// LinePattern: what a search looks for, compiled once and shared by the
// threads that search: a regular expression in RE2's syntax (linear in the
// text, whatever the pattern), or a literal. A match never spans a line feed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "error/error.h"

namespace re2 {
class RE2;
}

namespace tuvel {

class LinePattern {
 public:
  LinePattern(LinePattern&&) noexcept;
  LinePattern& operator=(LinePattern&&) noexcept;
  ~LinePattern();

  /// compile: fails with the engine's reason for a pattern it refuses.
  static Result<LinePattern> compile(std::string_view pattern, bool fixed_strings, bool case_insensitive);

  /// find: the first match in `text` at or after `from` (a line start):
  /// false when there is none, else its start in `begin`.
  bool find(std::string_view text, std::size_t from, std::size_t& begin) const;

 private:
  LinePattern() = default;

  std::unique_ptr<re2::RE2> regex_;
  std::string literal_;  ///< the literal looked for with memmem, when set
  bool use_literal_ = false;
};

}  // namespace tuvel
