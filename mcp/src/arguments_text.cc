// SPDX-License-Identifier: Apache-2.0
#include "arguments_text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "json_scan.h"
#include "protocol/json.h"

namespace tuvel::mcp {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::uint32_t fnv1a(std::string_view bytes) {
  std::uint32_t hash = 2166136261U;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619U;
  return hash;
}

/// The end of the string text starting at `pos` (its opening quote).
std::size_t string_end(std::string_view text, std::size_t pos) {
  std::size_t end = pos + 1;
  while (text[end] != '"') end += text[end] == '\\' ? std::size_t{2} : std::size_t{1};
  return end + 1;
}

/// Compactor: writes the text while reading it once. Each open object keeps
/// 8 bytes per member (a hash of its key and where it starts in the output)
/// to find repeated keys when it closes; the members a later one repeats
/// become ranges to cut, and all cuts are made in one pass at the end, so no
/// text is moved more than once however deep the repeats are nested.
class Compactor {
 public:
  explicit Compactor(std::string_view in) : in_(in) {
    out_.reserve(in.size());
    // Room for every member there can be (`"":0,` is the shortest), so the
    // list never moves: pages it does not use are never touched.
    members_.reserve(in.size() / 5 + 1);
  }

  std::string run() {
    value();
    cut();
    return std::move(out_);
  }

 private:
  /// A member of an open object; `hash` becomes kCut for a member that a
  /// later one of the same key replaces.
  struct Member {
    std::uint32_t hash;
    std::uint32_t at;
  };
  static constexpr std::uint32_t kCut = 0xFFFFFFFFU;

  /// Bytes [begin, end) of the output to leave out.
  struct Range {
    std::uint32_t begin;
    std::uint32_t end;
  };

  void skip_space() {
    while (pos_ < in_.size() && is_space(in_[pos_])) ++pos_;
  }

  void value() {
    skip_space();
    const char c = in_[pos_];
    if (c == '{') {
      object();
    } else if (c == '[') {
      array();
    } else if (c == '"') {
      const std::size_t end = string_end(in_, pos_);
      out_.append(in_.substr(pos_, end - pos_));
      pos_ = end;
    } else {
      std::size_t end = pos_;
      while (end < in_.size() && !is_space(in_[end]) && in_[end] != ',' && in_[end] != ']' && in_[end] != '}') ++end;
      const std::string_view token = in_.substr(pos_, end - pos_);
      out_.append(token == "-0" ? std::string_view("0") : token);
      pos_ = end;
    }
  }

  void array() {
    out_.push_back('[');
    ++pos_;
    skip_space();
    bool first = true;
    while (in_[pos_] != ']') {
      if (!first) {
        out_.push_back(',');
        ++pos_;  // the comma
      }
      first = false;
      value();
      skip_space();
    }
    ++pos_;
    out_.push_back(']');
  }

  void object() {
    const std::size_t first = members_.size();
    out_.push_back('{');
    ++pos_;
    skip_space();
    while (in_[pos_] != '}') {
      if (members_.size() > first) {
        out_.push_back(',');
        ++pos_;  // the comma
        skip_space();
      }
      const std::size_t end = string_end(in_, pos_);
      const std::string_view key = in_.substr(pos_, end - pos_);
      const std::size_t at = out_.size();
      // A key with escapes is written in the one escaping of the output, so
      // that equal keys are equal texts.
      if (key.find('\\') == std::string_view::npos) {
        out_.append(key);
      } else {
        write_json_string(string_value(key), out_);
      }
      members_.push_back({fnv1a(std::string_view(out_).substr(at)), static_cast<std::uint32_t>(at)});
      out_.push_back(':');
      pos_ = end;
      skip_space();
      ++pos_;  // the colon
      value();
      skip_space();
    }
    ++pos_;
    out_.push_back('}');
    if (members_.size() - first > 1 && mark_repeats(first)) add_cuts(first);
    members_.resize(first);
  }

  /// Marks, among the members from `first` on, each one that a later member
  /// of the same key replaces; whether there was one.
  bool mark_repeats(std::size_t first) {
    const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(begin, members_.end(),
              [](const Member& a, const Member& b) { return a.hash != b.hash ? a.hash < b.hash : a.at < b.at; });
    bool repeats = false;
    for (auto group = begin; group != members_.end();) {
      auto group_end = group + 1;
      while (group_end != members_.end() && group_end->hash == group->hash) ++group_end;
      if (group_end - group > 1) repeats |= mark_group(group, group_end);
      group = group_end;
    }
    return repeats;
  }

  /// Marks the members of one hash that a later member of their key replaces.
  bool mark_group(std::vector<Member>::iterator begin, std::vector<Member>::iterator end) {
    // Members of one hash are in text order; one key repeated is the usual
    // case and needs no sorting by key.
    const std::string_view key = key_at(begin->at);
    if (std::all_of(begin + 1, end, [&](const Member& m) { return key_at(m.at) == key; })) {
      for (auto m = begin; m + 1 != end; ++m) m->hash = kCut;
      return true;
    }
    std::sort(begin, end, [this](const Member& a, const Member& b) {
      const std::string_view ka = key_at(a.at);
      const std::string_view kb = key_at(b.at);
      return ka != kb ? ka < kb : a.at < b.at;
    });
    bool repeats = false;
    for (auto m = begin; m + 1 != end; ++m) {
      if (key_at(m->at) == key_at((m + 1)->at)) {
        m->hash = kCut;
        repeats = true;
      }
    }
    return repeats;
  }

  /// Adds the ranges of the marked members from `first` on, each with the
  /// comma after it (a marked member is never the last of its object).
  void add_cuts(std::size_t first) {
    const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(begin, members_.end(), [](const Member& a, const Member& b) { return a.at < b.at; });
    for (auto m = begin; m + 1 != members_.end(); ++m) {
      if (m->hash != kCut) continue;
      const std::uint32_t end = (m + 1)->at;
      if (!cuts_.empty() && cuts_.back().end == m->at) {
        cuts_.back().end = end;
      } else {
        cuts_.push_back({m->at, end});
      }
    }
  }

  /// The key text of the member written at `at`.
  std::string_view key_at(std::size_t at) const {
    return std::string_view(out_).substr(at, string_end(out_, at) - at);
  }

  /// Leaves out every cut range, moving each kept byte once.
  void cut() {
    if (cuts_.empty()) return;
    // An object's cuts come after those of the objects inside it; a cut
    // can hold earlier ones.
    std::sort(cuts_.begin(), cuts_.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
    char* const text = out_.data();
    std::size_t write = 0;
    std::size_t read = 0;
    const auto keep = [&](std::size_t end) {
      // Kept bytes only move left, so a forward copy is safe.
      std::copy(text + read, text + end, text + write);
      write += end - read;
    };
    for (const Range& range : cuts_) {
      if (range.begin >= read) keep(range.begin);
      read = std::max<std::size_t>(read, range.end);
    }
    keep(out_.size());
    out_.resize(write);
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string out_;
  std::vector<Member> members_;
  std::vector<Range> cuts_;
};

}  // namespace

std::string arguments_text(std::string_view checked) { return Compactor(checked).run(); }

}  // namespace tuvel::mcp
