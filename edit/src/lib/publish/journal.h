// SPDX-License-Identifier: Apache-2.0
// The redo journal of a change set: the renames and removals that publish
// it, written once every staged file is durable and every check has passed
// (the commit point), carried out, then removed. A journal found later is
// rolled forward, so after a crash a set is either entirely published or
// not at all.
//
// The journal is ".tuvel-edit-journal" at the top of the repository, a name
// the path policy refuses and listings hide. It is written as a staging
// file, flushed and renamed into place without replacing, then the
// repository directory is flushed. A set holds the commit lock (an
// exclusive, non-blocking lock on the repository directory) from its final
// checks until its journal is removed, and so does recovery, so a live set
// is never "recovered" and two sets never publish at once.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/error.h"
#include "source/fd.h"
#include "source/path_policy.h"
#include "source/source.h"

namespace tuvel {

/// Step: one name change of a published set. Directories are paths from the
/// repository root ("" for the root itself), names single components.
struct Step {
  enum class Kind : char {
    Replace = 'R',  ///< a staging file renamed over the file it replaces
    Create = 'C',   ///< a staging file renamed to a name that must be free
    Move = 'M',     ///< a file renamed to a name that must be free
    Remove = 'U',   ///< a file unlinked
  };
  Kind kind = Kind::Replace;
  std::uint64_t inode = 0;  ///< of the file at `from` when the step was planned
  std::string from_dir;
  std::string from_name;
  std::string to_dir;  ///< empty for Remove
  std::string to_name;
};

/// CommitLock: the commit lock on the repository directory, held while
/// alive.
class CommitLock {
 public:
  explicit CommitLock(Fd dir) : dir_(std::move(dir)) {}
  bool held() const { return dir_.valid(); }

 private:
  Fd dir_;  ///< an open file description of its own: closing it unlocks
};

/// DirectoryFlushes: directories to flush once each, however many steps
/// touched them.
class DirectoryFlushes {
 public:
  /// add: `dir` (borrowed; a duplicate is kept) unless it is there already.
  void add(int dir);
  /// flush: every directory; the first failure is `warning` unless it holds
  /// one already.
  void flush(std::optional<std::string>& warning) const;

 private:
  struct Entry {
    Fd dir;
    dev_t dev;
    ino_t ino;
  };
  std::vector<Entry> dirs_;
};

/// try_commit_lock: the commit lock, or one not held (held() false) when
/// another set or recovery holds it now.
Result<CommitLock> try_commit_lock(const Repo& repo);

/// run_step: carries out `step` between the directories `from` and `to`
/// (the same for all but Move; `to` is unused for Remove).
Status run_step(const Step& step, int from, int to);

/// write_journal: the journal of `steps`, in place when it returns: the
/// commit point. Fails with EEXIST when a journal exists. A failed flush of
/// the repository directory afterwards is `warning` (the set goes on).
Status write_journal(const Repo& repo, std::span<const Step> steps, std::optional<std::string>& warning);

/// finish_journal: removes the journal once its steps are done and their
/// directories flushed; the removal is flushed too. A failed flush is
/// `warning` unless it holds one already.
void finish_journal(const Repo& repo, std::optional<std::string>& warning);

/// recover: the one look-up every operation starts with; when a journal is
/// there and no one holds the commit lock, its set is rolled forward.
Status recover(const Repo& repo);

/// recover_locked: the same for a caller that holds the commit lock.
Status recover_locked(const Repo& repo);

}  // namespace tuvel
