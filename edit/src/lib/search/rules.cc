// SPDX-License-Identifier: Apache-2.0
#include "search/rules.h"

#include <algorithm>

namespace tuvel {

Status parse_rule(std::string_view line, Rule& rule, bool& has) {
  has = false;
  if (line.ends_with('\r')) line.remove_suffix(1);
  // Trailing spaces go, unless a backslash keeps the last of them.
  while (line.ends_with(' ')) {
    std::size_t backslashes = 0;
    while (backslashes + 1 < line.size() && line[line.size() - 2 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 1) break;
    line.remove_suffix(1);
  }
  if (line.empty() || line.front() == '#') return Ok{};
  bool negated = false;
  if (line.front() == '!') {
    negated = true;
    line.remove_prefix(1);
  }
  bool dir_only = false;
  if (line.ends_with('/')) {
    dir_only = true;
    line.remove_suffix(1);
  }
  if (line.empty()) return Ok{};
  TUVEL_TRY(Glob glob, Glob::compile(line));
  rule = Rule{std::move(glob), negated, dir_only};
  has = true;
  return Ok{};
}

void RuleList::add_lines(std::string_view text) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    Rule rule;
    bool has = false;
    if (parse_rule(text.substr(0, end), rule, has).ok() && has) add(std::move(rule));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
}

void RuleList::add(Rule rule) {
  const int index = static_cast<int>(rules_.size());
  if (!rule.glob.literal_name().empty()) {
    by_name_[rule.glob.literal_name()].push_back(index);
  } else if (!rule.glob.literal_suffix().empty()) {
    const std::string& suffix = rule.glob.literal_suffix();
    by_suffix_[suffix].push_back(index);
    if (std::find(suffix_lengths_.begin(), suffix_lengths_.end(), suffix.size()) == suffix_lengths_.end())
      suffix_lengths_.push_back(suffix.size());
  } else {
    general_.push_back(index);
  }
  rules_.push_back(std::move(rule));
}

int RuleList::last_match(std::string_view path, std::string_view name, bool is_dir) const {
  int best = -1;
  // Candidates found by lookup match by construction; only the directory
  // condition is left to check, from the last one back.
  const auto consider = [&](const std::vector<int>& indices) {
    for (auto it = indices.rbegin(); it != indices.rend() && *it > best; ++it) {
      if (!rules_[static_cast<std::size_t>(*it)].dir_only || is_dir) {
        best = *it;
        return;
      }
    }
  };
  if (!by_name_.empty()) {
    // Heterogeneous lookup of unordered maps is C++20 but not in every library yet.
    const auto found = by_name_.find(std::string(name));
    if (found != by_name_.end()) consider(found->second);
  }
  for (const std::size_t length : suffix_lengths_) {
    if (name.size() < length) continue;
    const auto found = by_suffix_.find(std::string(name.substr(name.size() - length)));
    if (found != by_suffix_.end()) consider(found->second);
  }
  for (auto it = general_.rbegin(); it != general_.rend() && *it > best; ++it) {
    const Rule& rule = rules_[static_cast<std::size_t>(*it)];
    if ((!rule.dir_only || is_dir) && rule.glob.matches(path, name)) {
      best = *it;
      break;
    }
  }
  return best;
}

Status GlobFilter::add(std::string_view glob) {
  Rule rule;
  bool has = false;
  const Status parsed = parse_rule(glob, rule, has);
  if (!parsed.ok()) return Error::with_cause("invalid glob `" + std::string(glob) + "`", parsed.error().render());
  if (!has) return Error::plain("invalid glob `" + std::string(glob) + "`: it is empty or a comment");
  if (!rule.negated) selects_ = true;
  rules_.add(std::move(rule));
  return Ok{};
}

Verdict GlobFilter::judge(std::string_view path, std::string_view name, bool is_dir) const {
  if (rules_.empty()) return Verdict::None;
  const int index = rules_.last_match(path, name, is_dir);
  if (index >= 0) return rules_.rule(index).negated ? Verdict::Skip : Verdict::Keep;
  return selects_ && !is_dir ? Verdict::Skip : Verdict::None;
}

}  // namespace tuvel
