// SPDX-License-Identifier: Apache-2.0
// TreeWalk: the regular files below one directory of the repository, in
// path order (bytes), through the confined walk.
//
// Directories are opened one component at a time relative to their parent's
// handle with no link followed, so a directory swapped for a link is never
// entered and nothing outside the repository is reached. Links, special
// files, ".git", staging files and names that are not UTF-8 are never
// yielded. Hidden entries (a leading ".") are left out unless asked for;
// ".gitignore" and ".ignore" rules at every level, the start's ancestors
// included, apply unless turned off; a nearer directory's rules take
// precedence over a farther one's, and in one directory ".ignore" over
// ".gitignore". The
// caller's globs narrow what is left. Only the entries of the directories on
// the current path are held.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "search/rules.h"
#include "source/fd.h"
#include "source/source.h"

namespace tuvel {

struct WalkFilter {
  bool hidden = false;     ///< yield and enter names with a leading "."
  bool no_ignore = false;  ///< do not read ignore files
  const GlobFilter* globs = nullptr;
};

/// FileRef: one regular file the walk reached (as its directory said; the
/// file is opened and checked by whoever reads it).
struct FileRef {
  std::string path;  ///< from the repository root
  std::shared_ptr<const Fd> dir;
  std::size_t name_at = 0;  ///< where the last component starts in `path`
  const char* name() const { return path.c_str() + name_at; }
};

class TreeWalk {
 public:
  /// start: the walk of what `path` names under the read path policy: a
  /// directory ("" and "." are the root), or one regular file, which is then
  /// yielded alone whatever the rules say.
  static Result<TreeWalk> start(const Repo& repo, std::string_view path, WalkFilter filter);

  /// resume: files that sort before `path` are skipped, and `path` itself
  /// unless `inclusive`; whole directories are skipped without being read.
  void resume(std::string path, bool inclusive);

  /// next: the next file, or none at the end.
  std::optional<FileRef> next();

  /// Directories that could not be entered or read (removed, replaced, no permission).
  std::uint64_t unreadable() const { return unreadable_; }

 private:
  struct Entry {
    std::string name;
    bool dir = false;
  };
  struct Frame {
    std::shared_ptr<const Fd> dir;
    std::string prefix;  ///< "" or the directory's path with a "/"
    std::vector<Entry> entries;
    std::size_t next = 0;
  };
  struct Level {
    std::string prefix;
    RuleList rules;
  };

  Status enter(Fd dir, std::string prefix);
  bool wanted(const Frame& frame, const std::string& path, std::string_view name, bool dir) const;
  bool before_resume(const std::string& path, bool dir) const;
  Level rules_of(int dir, std::string prefix, bool has_gitignore, bool has_ignore) const;

  WalkFilter filter_;
  std::vector<Level> levels_;  ///< the start's ancestors, then one per frame
  std::vector<Frame> frames_;
  std::optional<FileRef> single_;
  std::string resume_;
  bool inclusive_ = false;
  std::uint64_t unreadable_ = 0;
};

}  // namespace tuvel
