// SPDX-License-Identifier: Apache-2.0
// Rules: the lines of ignore files (gitignore(5)) and a caller's glob list,
// as lists of globs where the last one that matches decides.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "error/error.h"
#include "search/glob.h"

namespace tuvel {

/// Rule: one line of an ignore file or one glob of a list.
struct Rule {
  Glob glob;
  bool negated = false;   ///< written with a leading "!"
  bool dir_only = false;  ///< written with a trailing "/"
};

/// parse_rule: a line in gitignore syntax. Blank lines and comments give no
/// rule (ok, with `has` false); trailing spaces are dropped unless escaped,
/// "\#" and "\!" stand for themselves.
Status parse_rule(std::string_view line, Rule& rule, bool& has);

/// RuleList: rules in order; the last that matches a path decides.
class RuleList {
 public:
  /// add_lines: the rules of an ignore file's text; lines whose glob does
  /// not compile are left out, as git leaves them out.
  void add_lines(std::string_view text);
  void add(Rule rule);
  bool empty() const { return rules_.empty(); }
  /// The index of the last rule that matches, or -1.
  int last_match(std::string_view path, std::string_view name, bool is_dir) const;
  const Rule& rule(int index) const { return rules_[static_cast<std::size_t>(index)]; }

 private:
  std::vector<Rule> rules_;
  // Rules that are one plain name or "*" and a suffix, found by lookup
  // instead of one by one; the rest in `general_`.
  std::unordered_map<std::string, std::vector<int>> by_name_;
  std::unordered_map<std::string, std::vector<int>> by_suffix_;
  std::vector<std::size_t> suffix_lengths_;
  std::vector<int> general_;
};

/// Verdict: what rules say about one path.
enum class Verdict : std::uint8_t { None, Skip, Keep };

/// GlobFilter: a caller's globs, as ripgrep's -g takes them: a glob selects
/// the files it matches, "!" before it leaves them out, the last match
/// decides, and when there is a selecting glob a file that none matches is
/// left out. Directories are left out only by a "!" glob.
class GlobFilter {
 public:
  /// add: one glob; a fault names the glob.
  Status add(std::string_view glob);
  bool empty() const { return rules_.empty(); }
  Verdict judge(std::string_view path, std::string_view name, bool is_dir) const;

 private:
  RuleList rules_;
  bool selects_ = false;
};

}  // namespace tuvel
