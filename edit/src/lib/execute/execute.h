// SPDX-License-Identifier: Apache-2.0
// execute: runs one request against one open repository and gives the "data"
// value of its response. It sits above read and engine and dispatches to them.
// Every operation first finishes a change set that an interrupted process
// committed but did not publish (publish/journal.h): one look-up when there
// is none.
#pragma once

#include <string>

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

Result<Json> execute(const Repo& repo, Request request);
/// execute_create: a new file (publish/create.h).
Result<Json> execute_create(const Repo& repo, const CreateRequest& request);
/// execute_list: one directory's entries (read/list.h).
Result<Json> execute_list(const Repo& repo, const ListRequest& request);
/// execute_search: lines that match a pattern (search/search_tree.h).
Result<Json> execute_search(const Repo& repo, const SearchRequest& request);
/// execute_find: files whose paths match a glob (search/find_tree.h).
Result<Json> execute_find(const Repo& repo, const FindRequest& request);
/// execute_move, execute_remove, execute_changes: changes/change_set.h.
Result<Json> execute_move(const Repo& repo, const MoveRequest& request);
Result<Json> execute_remove(const Repo& repo, const RemoveRequest& request);
Result<Json> execute_changes(const Repo& repo, const ChangeSetRequest& request);

/// The same, on the repository at `repo_path`, opened for this one request.
Result<Json> execute(const std::string& repo_path, Request request);
Result<Json> execute_create(const std::string& repo_path, const CreateRequest& request);
Result<Json> execute_list(const std::string& repo_path, const ListRequest& request);

}  // namespace tuvel
