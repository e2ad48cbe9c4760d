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
/// to find repeated keys when it closes; only an object that has one is
/// written again.
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
    return std::move(out_);
  }

 private:
  /// A member of an open object. Once its object is known to repeat a key,
  /// `hash` is where the member's value comes from, or kDropped.
  struct Member {
    std::uint32_t hash;
    std::uint32_t at;
  };
  static constexpr std::uint32_t kDropped = 0xFFFFFFFFU;

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
    const std::size_t start = out_.size();
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
    if (members_.size() - first > 1 && has_repeats(first)) rewrite(start, first);
    members_.resize(first);
  }

  /// Whether two members from `first` on share a key; when they do, each
  /// member's hash is replaced by where its value comes from (kept: its own
  /// value or that of the last member of its key) or by kDropped.
  bool has_repeats(std::size_t first) {
    const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(begin, members_.end(),
              [](const Member& a, const Member& b) { return a.hash != b.hash ? a.hash < b.hash : a.at < b.at; });
    bool repeats = false;
    for (auto group = begin; group != members_.end();) {
      auto group_end = group + 1;
      while (group_end != members_.end() && group_end->hash == group->hash) ++group_end;
      repeats |= mark_repeats(group, group_end);
      group = group_end;
    }
    return repeats;
  }

  /// Marks the members of one hash: the first of each key takes the value
  /// of the last, the others are dropped.
  bool mark_repeats(std::vector<Member>::iterator begin, std::vector<Member>::iterator end) {
    std::sort(begin, end, [this](const Member& a, const Member& b) {
      const std::string_view ka = key_at(a.at);
      const std::string_view kb = key_at(b.at);
      return ka != kb ? ka < kb : a.at < b.at;
    });
    bool repeats = false;
    for (auto run = begin; run != end;) {
      auto run_end = run + 1;
      while (run_end != end && key_at(run_end->at) == key_at(run->at)) ++run_end;
      const std::uint32_t source = (run_end - 1)->at;
      repeats |= run_end - run > 1;
      run->hash = source;
      for (auto m = run + 1; m != run_end; ++m) m->hash = kDropped;
      run = run_end;
    }
    return repeats;
  }

  /// The key text of the member written at `at`.
  std::string_view key_at(std::size_t at) const {
    return std::string_view(out_).substr(at, string_end(out_, at) - at);
  }

  /// The value text of the member written at `at`.
  std::string_view value_at(std::size_t at) const {
    std::size_t begin = string_end(out_, at) + 1;
    std::size_t depth = 0;
    std::size_t end = begin;
    for (;; ++end) {
      const char c = out_[end];
      if (c == '"') {
        end = string_end(out_, end) - 1;
      } else if (c == '{' || c == '[') {
        ++depth;
      } else if (c == '}' || c == ']') {
        if (depth == 0) break;
        --depth;
      } else if (c == ',' && depth == 0) {
        break;
      }
    }
    return std::string_view(out_).substr(begin, end - begin);
  }

  /// Writes the object from `start` again, each key once.
  void rewrite(std::size_t start, std::size_t first) {
    const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
    std::sort(begin, members_.end(), [](const Member& a, const Member& b) { return a.at < b.at; });
    std::string object = "{";
    for (auto m = begin; m != members_.end(); ++m) {
      if (m->hash == kDropped) continue;
      if (object.size() > 1) object.push_back(',');
      object.append(key_at(m->at));
      object.push_back(':');
      object.append(value_at(m->hash));
    }
    object.push_back('}');
    out_.resize(start);
    out_.append(object);
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::string out_;
  std::vector<Member> members_;
};

}  // namespace

std::string arguments_text(std::string_view checked) { return Compactor(checked).run(); }

}  // namespace tuvel::mcp
