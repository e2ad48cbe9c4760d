// SPDX-License-Identifier: Apache-2.0
#include "search/line_pattern.h"

#include <re2/re2.h>

#include <cstring>

namespace tuvel {

LinePattern::LinePattern(LinePattern&&) noexcept = default;
LinePattern& LinePattern::operator=(LinePattern&&) noexcept = default;
LinePattern::~LinePattern() = default;

Result<LinePattern> LinePattern::compile(std::string_view pattern, bool fixed_strings, bool case_insensitive) {
  LinePattern compiled;
  // A literal with no line feed is found faster by memmem than by the engine.
  if (fixed_strings && !case_insensitive && pattern.find('\n') == std::string_view::npos) {
    compiled.literal_ = std::string(pattern);
    compiled.use_literal_ = true;
    return compiled;
  }
  RE2::Options options;
  options.set_log_errors(false);
  options.set_never_nl(true);
  options.set_literal(fixed_strings);
  options.set_case_sensitive(!case_insensitive);
  options.set_max_mem(std::int64_t{64} << 20);
  if (fixed_strings) {
    compiled.regex_ = std::make_unique<RE2>(re2::StringPiece(pattern.data(), pattern.size()), options);
  } else {
    // "^" and "$" mean the start and end of a line, as in a line-by-line
    // search. The flag is set in front, not around the pattern, so nothing in
    // it can close a group it did not open.
    compiled.regex_ = std::make_unique<RE2>("(?m)" + std::string(pattern), options);
  }
  if (!compiled.regex_->ok()) {
    // The reason as the pattern's own, without the flag in front.
    const RE2 plain(re2::StringPiece(pattern.data(), pattern.size()), options);
    const std::string& reason = plain.ok() ? compiled.regex_->error() : plain.error();
    return Error::plain("pattern is not a valid regular expression: " + reason);
  }
  return compiled;
}

bool LinePattern::find(std::string_view text, std::size_t from, std::size_t& begin) const {
  if (use_literal_) {
    const void* found = ::memmem(text.data() + from, text.size() - from, literal_.data(), literal_.size());
    if (found == nullptr) return false;
    begin = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    return true;
  }
  re2::StringPiece match;
  const re2::StringPiece whole(text.data(), text.size());
  if (!regex_->Match(whole, from, text.size(), RE2::UNANCHORED, &match, 1)) return false;
  begin = static_cast<std::size_t>(match.data() - text.data());
  return true;
}

}  // namespace tuvel
