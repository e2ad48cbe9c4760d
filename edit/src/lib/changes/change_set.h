// SPDX-License-Identifier: Apache-2.0
// apply_changes: edits, creates, moves and removals of several files,
// published all together or not at all.
//
// Every change is checked and prepared first, in order: each target opened
// under the writer lock (a locked file fails the set with "busy"), each
// revision checked, each edit resolved, each new content staged beside its
// name and flushed. The first failure ends the set with that change's code,
// its message prefixed with "changes[i] ({path}): ", and nothing published:
// staging files and the directories made for it are removed again. Then,
// under the commit lock, the last identity and content checks of every
// target, the journal (the commit point, publish/journal.h; a set that
// publishes one name change needs none), the renames and removals, one
// flush of each directory, and the journal removed.
#pragma once

#include <cstddef>

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

inline constexpr std::size_t MAX_CHANGES = 64;

/// apply_changes: {"durability_warning","files":[{"path","revision"}]},
/// every path touched in order (a move's from and to), with its new
/// revision, null for a name that no longer exists.
Result<Json> apply_changes(const Repo& repo, const ChangeSetRequest& request);

/// move_file: one move as a set of one: {"durability_warning","from",
/// "revision","to"}. Failures carry no change prefix.
Result<Json> move_file(const Repo& repo, const MoveRequest& request);

/// remove_file: one removal as a set of one: {"durability_warning","path"}.
Result<Json> remove_file(const Repo& repo, const RemoveRequest& request);

}  // namespace tuvel
