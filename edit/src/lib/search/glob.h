// SPDX-License-Identifier: Apache-2.0
// Glob: one pattern in gitignore syntax, compiled for matching paths.
//
// `*` and `?` never match "/", `[...]` is a class of characters ("!" or "^"
// negates it), "\" makes the next character literal. A "**" component
// matches any number of components ("**/x" at any depth, "a/**/b" with none
// between); a trailing "/**" matches everything inside, but not the
// directory itself. A pattern with a "/" (a leading one removed) is matched
// against the whole relative path, one without against the last component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"

namespace tuvel {

class Glob {
 public:
  /// compile: `pattern` without the "!" and trailing "/" of a rule. Fails on
  /// a dangling "\" or an unclosed "[" (the message names the fault).
  static Result<Glob> compile(std::string_view pattern);

  /// matches: `path` relative to the directory of the rule, components
  /// joined by "/"; `name` is its last component.
  bool matches(std::string_view path, std::string_view name) const;

  /// The literal a match must equal when the pattern is one plain name
  /// (matched against the last component), else empty.
  const std::string& literal_name() const { return literal_name_; }
  /// The suffix a match must end with when the pattern is "*" and a plain
  /// text (such as "*.o"), else empty.
  const std::string& literal_suffix() const { return literal_suffix_; }

 private:
  struct Token {
    enum class Kind : std::uint8_t { Literal, Any, Star, Class };
    Kind kind = Kind::Literal;
    bool negated = false;
    std::string text;                            ///< Literal
    std::vector<std::uint32_t> ranges;           ///< Class: pairs of first and last code point
  };
  /// One component pattern; `any_depth` is "**".
  struct Segment {
    bool any_depth = false;
    std::vector<Token> tokens;
  };

  static Token token_of(Token::Kind kind);
  static Result<Token> parse_class(std::string_view part, std::size_t& j);
  static Result<Segment> parse_component(std::string_view part);
  static bool match_segment(const Segment& segment, std::string_view component);
  static bool token_at(const Token& token, std::string_view text, std::size_t at, std::size_t& length);

  bool anchored_ = false;
  std::vector<Segment> segments_;
  std::string literal_name_;
  std::string literal_suffix_;
};

}  // namespace tuvel
