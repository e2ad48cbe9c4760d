// SPDX-License-Identifier: Apache-2.0
// execute: runs one request against one open repository and gives the "data"
// value of its response. It sits above read and engine and dispatches to them.
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

/// The same, on the repository at `repo_path`, opened for this one request.
Result<Json> execute(const std::string& repo_path, Request request);
Result<Json> execute_create(const std::string& repo_path, const CreateRequest& request);
Result<Json> execute_list(const std::string& repo_path, const ListRequest& request);

}  // namespace tuvel
