// SPDX-License-Identifier: Apache-2.0
#include "search/glob.h"

#include <cstddef>

namespace tuvel {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

/// The code point at `at` and its length; a byte that starts no valid
/// sequence stands for itself, one byte long.
std::uint32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    n = 2;
    cp = lead & 0x1FU;
  } else if ((lead & 0xF0) == 0xE0) {
    n = 3;
    cp = lead & 0x0FU;
  } else if ((lead & 0xF8) == 0xF0) {
    n = 4;
    cp = lead & 0x07U;
  } else {
    return lead;
  }
  if (at + n > text.size()) return lead;
  for (std::size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return lead;
    cp = (cp << 6) | (byte(at + i) & 0x3FU);
  }
  length = n;
  return cp;
}

std::size_t char_length(std::string_view text, std::size_t at) {
  std::size_t length = 1;
  (void)decode_at(text, at, length);
  return length;
}

/// The end of the component that starts at `at` in `path`.
std::size_t component_end(std::string_view path, std::size_t at) {
  const std::size_t slash = path.find('/', at);
  return slash == std::string_view::npos ? path.size() : slash;
}

/// The start of the component after the one that starts at `at`.
std::size_t next_component(std::string_view path, std::size_t at) {
  const std::size_t end = component_end(path, at);
  return end == path.size() ? end : end + 1;
}

}  // namespace

Glob::Token Glob::token_of(Token::Kind kind) {
  Token token;
  token.kind = kind;
  return token;
}

// A class after its "[": members up to the closing "]" (one right after the
// "[" or "[!" is a member), ranges written "a-z", "\" escaping a member.
Result<Glob::Token> Glob::parse_class(std::string_view part, std::size_t& j) {
  Token token = token_of(Token::Kind::Class);
  if (j < part.size() && (part[j] == '!' || part[j] == '^')) {
    token.negated = true;
    ++j;
  }
  const auto member = [&part, &j](std::uint32_t& cp) {
    if (part[j] == '\\') ++j;
    if (j >= part.size()) return false;
    std::size_t length = 1;
    cp = decode_at(part, j, length);
    j += length;
    return true;
  };
  for (bool first = true; j < part.size(); first = false) {
    if (part[j] == ']' && !first) {
      ++j;
      return token;
    }
    std::uint32_t low = 0;
    if (!member(low)) break;
    std::uint32_t high = low;
    if (j + 1 < part.size() && part[j] == '-' && part[j + 1] != ']') {
      ++j;
      if (!member(high)) break;
    }
    token.ranges.push_back(low);
    token.ranges.push_back(high);
  }
  return Error::plain("glob has an unclosed character class");
}

Result<Glob::Segment> Glob::parse_component(std::string_view part) {
  Segment segment;
  std::vector<Token>& tokens = segment.tokens;
  const auto literal = [&tokens](std::string_view bytes) {
    if (tokens.empty() || tokens.back().kind != Token::Kind::Literal) tokens.emplace_back();
    tokens.back().text.append(bytes);
  };
  for (std::size_t i = 0; i < part.size();) {
    const char c = part[i];
    if (c == '\\') {
      if (i + 1 == part.size()) return Error::plain("glob ends with a lone backslash");
      literal(part.substr(i + 1, 1));
      i += 2;
    } else if (c == '*') {
      if (tokens.empty() || tokens.back().kind != Token::Kind::Star) tokens.push_back(token_of(Token::Kind::Star));
      ++i;
    } else if (c == '?') {
      tokens.push_back(token_of(Token::Kind::Any));
      ++i;
    } else if (c == '[') {
      ++i;
      TUVEL_TRY(Token token, parse_class(part, i));
      tokens.push_back(std::move(token));
    } else {
      literal(part.substr(i, 1));
      ++i;
    }
  }
  return segment;
}

Result<Glob> Glob::compile(std::string_view pattern) {
  Glob glob;
  if (pattern.starts_with('/')) {
    glob.anchored_ = true;
    pattern.remove_prefix(1);
  }
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at <= pattern.size();) {
    std::size_t slash = pattern.find('/', at);
    if (slash == std::string_view::npos) slash = pattern.size();
    if (slash > at) parts.push_back(pattern.substr(at, slash - at));
    at = slash + 1;
  }
  if (parts.empty()) return Error::plain("glob is empty");
  if (parts.size() > 1) glob.anchored_ = true;

  for (const std::string_view part : parts) {
    if (part == "**" && glob.anchored_) {
      Segment segment;
      segment.any_depth = true;
      glob.segments_.push_back(std::move(segment));
      continue;
    }
    TUVEL_TRY(Segment segment, parse_component(part));
    glob.segments_.push_back(std::move(segment));
  }
  // "dir/**" holds what is inside dir, not dir itself: one component or more.
  if (glob.segments_.size() > 1 && glob.segments_.back().any_depth) {
    Segment one;
    one.tokens.push_back(token_of(Token::Kind::Star));
    glob.segments_.insert(glob.segments_.end() - 1, std::move(one));
  }

  if (!glob.anchored_ && glob.segments_.size() == 1) {
    const std::vector<Token>& tokens = glob.segments_.front().tokens;
    if (tokens.size() == 1 && tokens[0].kind == Token::Kind::Literal) glob.literal_name_ = tokens[0].text;
    if (tokens.size() == 2 && tokens[0].kind == Token::Kind::Star && tokens[1].kind == Token::Kind::Literal)
      glob.literal_suffix_ = tokens[1].text;
  }
  return glob;
}

bool Glob::token_at(const Token& token, std::string_view text, std::size_t at, std::size_t& length) {
  switch (token.kind) {
    case Token::Kind::Literal:
      length = token.text.size();
      return text.substr(at).starts_with(token.text);
    case Token::Kind::Any:
      if (at >= text.size()) return false;
      length = char_length(text, at);
      return true;
    case Token::Kind::Class: {
      if (at >= text.size()) return false;
      const std::uint32_t cp = decode_at(text, at, length);
      bool in = false;
      for (std::size_t r = 0; r + 1 < token.ranges.size() && !in; r += 2)
        in = token.ranges[r] <= cp && cp <= token.ranges[r + 1];
      return in != token.negated;
    }
    case Token::Kind::Star:
      break;
  }
  return false;
}

// Greedy matching with one point to return to: the text after the last star
// is tried at each later position. Quadratic at worst, never exponential.
bool Glob::match_segment(const Segment& segment, std::string_view component) {
  const std::vector<Token>& tokens = segment.tokens;
  std::size_t p = 0;
  std::size_t i = 0;
  std::size_t star = kNone;
  std::size_t star_at = 0;
  while (i < component.size()) {
    if (p < tokens.size() && tokens[p].kind == Token::Kind::Star) {
      star = p++;
      star_at = i;
      continue;
    }
    std::size_t length = 0;
    if (p < tokens.size() && token_at(tokens[p], component, i, length)) {
      i += length;
      ++p;
      continue;
    }
    if (star == kNone) return false;
    p = star + 1;
    star_at += char_length(component, star_at);
    i = star_at;
  }
  while (p < tokens.size() && tokens[p].kind == Token::Kind::Star) ++p;
  return p == tokens.size();
}

bool Glob::matches(std::string_view path, std::string_view name) const {
  if (!anchored_) {
    if (!literal_name_.empty()) return name == literal_name_;
    if (!literal_suffix_.empty()) return name.ends_with(literal_suffix_);
    return match_segment(segments_.front(), name);
  }
  // The same greedy scheme one level up: components for characters, "**"
  // for the star.
  std::size_t p = 0;
  std::size_t at = 0;
  std::size_t star = kNone;
  std::size_t star_at = 0;
  while (at < path.size()) {
    if (p < segments_.size() && segments_[p].any_depth) {
      star = p++;
      star_at = at;
      continue;
    }
    const std::size_t end = component_end(path, at);
    if (p < segments_.size() && match_segment(segments_[p], path.substr(at, end - at))) {
      at = end == path.size() ? end : end + 1;
      ++p;
      continue;
    }
    if (star == kNone) return false;
    p = star + 1;
    star_at = next_component(path, star_at);
    at = star_at;
  }
  while (p < segments_.size() && segments_[p].any_depth) ++p;
  return p == segments_.size();
}

}  // namespace tuvel
