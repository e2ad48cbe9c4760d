// SPDX-License-Identifier: Apache-2.0
// Globs and ignore rules against tables of paths: gitignore(5) semantics
// (negation, directory-only rules, anchoring, "**", escapes, trailing
// spaces) and the caller's glob list as ripgrep's -g takes it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "search/glob.h"
#include "search/rules.h"

namespace tuvel {
namespace {

struct Case {
  const char* rules;  ///< an ignore file's text
  const char* path;   ///< relative to its directory
  bool dir;
  bool ignored;
};

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool ignored(const RuleList& rules, const std::string& path, bool dir) {
  const int index = rules.last_match(path, name_of(path), dir);
  return index >= 0 && !rules.rule(index).negated;
}

TEST(IgnoreRules, GitignoreTable) {
  const Case cases[] = {
      {"*.o\n", "a.o", false, true},
      {"*.o\n", "deep/er/a.o", false, true},
      {"*.o\n", "a.c", false, false},
      {"*.o\n!keep.o\n", "keep.o", false, false},
      {"!keep.o\n*.o\n", "keep.o", false, true},  // the last match decides
      {"build/\n", "build", true, true},
      {"build/\n", "build", false, false},  // directory-only
      {"build/\n", "src/build", true, true},
      {"/build\n", "build", true, true},
      {"/build\n", "src/build", true, false},  // anchored
      {"doc/frotz\n", "doc/frotz", true, true},
      {"doc/frotz\n", "a/doc/frotz", true, false},  // a middle slash anchors
      {"**/foo\n", "foo", false, true},
      {"**/foo\n", "a/b/foo", false, true},
      {"**/foo/bar\n", "x/foo/bar", false, true},
      {"abc/**\n", "abc/x/y", false, true},
      {"abc/**\n", "abc", true, false},  // inside, not the directory itself
      {"a/**/b\n", "a/b", false, true},
      {"a/**/b\n", "a/x/y/b", false, true},
      {"a/**/b\n", "a/x/y/c", false, false},
      {"\\!important\n", "!important", false, true},
      {"\\#hash\n", "#hash", false, true},
      {"#comment\n", "#comment", false, false},
      {"trail   \n", "trail", false, true},  // trailing spaces dropped
      {"trail\\ \n", "trail ", false, true},  // unless escaped
      {"trail\\ \n", "trail", false, false},
      {"\n\n   \n", "x", false, false},
      {"f?o\n", "foo", false, true},
      {"f?o\n", "f/o", false, false},
      {"[a-c]x\n", "bx", false, true},
      {"[!a-c]x\n", "bx", false, false},
      {"[!a-c]x\n", "dx", false, true},
      {"[]]\n", "]", false, true},
      {"*\n!*.c\n", "main.c", false, false},
      {"*\n!*.c\n", "main.h", false, true},
      {"a*b*c\n", "axxbyyc", false, true},
      {"a*b*c\n", "axxbyy", false, false},
      {"*.tar.gz\n", "x.tar.gz", false, true},
      {"é?\n", "éè", false, true},
      {"*.o\r\n", "a.o", false, true},
      {"[a\n*.z\n", "x.z", false, true},  // a rule that does not compile is left out
  };
  for (const Case& c : cases) {
    RuleList rules;
    rules.add_lines(c.rules);
    EXPECT_EQ(ignored(rules, c.path, c.dir), c.ignored) << "rules " << c.rules << " path " << c.path;
  }
}

TEST(IgnoreRules, GlobListSelectsAndExcludes) {
  struct GlobCase {
    std::vector<std::string> globs;
    const char* path;
    bool dir;
    Verdict verdict;
  };
  const GlobCase cases[] = {
      {{"*.cc"}, "src/a.cc", false, Verdict::Keep},
      {{"*.cc"}, "src/a.h", false, Verdict::Skip},
      {{"*.cc"}, "src", true, Verdict::None},  // directories are only left out by "!"
      {{"!*.cc"}, "src/a.cc", false, Verdict::Skip},
      {{"!*.cc"}, "src/a.h", false, Verdict::None},
      {{"src/**/*.h"}, "src/x/y.h", false, Verdict::Keep},
      {{"src/**/*.h"}, "src/y.h", false, Verdict::Keep},
      {{"src/**/*.h"}, "lib/src/y.h", false, Verdict::Skip},
      {{"*.h", "!gen/**"}, "gen/a.h", false, Verdict::Skip},
      {{"!vendor"}, "vendor", true, Verdict::Skip},
      {{"*"}, "any/thing", false, Verdict::Keep},
  };
  for (const GlobCase& c : cases) {
    GlobFilter filter;
    for (const std::string& glob : c.globs) ASSERT_TRUE(filter.add(glob).ok());
    EXPECT_EQ(filter.judge(c.path, name_of(c.path), c.dir), c.verdict) << c.globs.front() << " " << c.path;
  }
}

TEST(IgnoreRules, GlobFaultsNameTheGlob) {
  const std::pair<const char*, const char*> cases[] = {
      {"src/[ab", "invalid glob `src/[ab`: glob has an unclosed character class"},
      {"x\\", "invalid glob `x\\`: glob ends with a lone backslash"},
      {"", "invalid glob ``: it is empty or a comment"},
      {"#x", "invalid glob `#x`: it is empty or a comment"},
  };
  for (const auto& [glob, message] : cases) {
    GlobFilter filter;
    const Status added = filter.add(glob);
    ASSERT_FALSE(added.ok()) << glob;
    EXPECT_EQ(added.error().render(), message);
  }
}

TEST(IgnoreRules, MatchingStaysPolynomial) {
  // Stars against a long name that almost matches: greedy matching with one
  // point to return to, not a search of every split.
  const Result<Glob> glob = Glob::compile("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b");
  ASSERT_TRUE(glob.ok());
  const std::string name(4000, 'a');
  EXPECT_FALSE(glob->matches(name, name));
  const Result<Glob> deep = Glob::compile("**/a/**/a/**/a/**/a/**/b");
  ASSERT_TRUE(deep.ok());
  std::string path;
  for (int i = 0; i < 1000; ++i) path += "a/";
  path += "a";
  EXPECT_FALSE(deep->matches(path, "a"));
}

}  // namespace
}  // namespace tuvel
