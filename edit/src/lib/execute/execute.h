// SPDX-License-Identifier: Apache-2.0
// execute: runs one request against one repository and gives the "data"
// value of its response. It sits above read and engine and dispatches to them.
#pragma once

#include <string>

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"

namespace tuvel {

Result<Json> execute(const std::string& repo_path, Request request);
/// execute_create: a new file (publish/create.h), in a repository opened for it.
Result<Json> execute_create(const std::string& repo_path, const CreateRequest& request);
/// execute_list: one directory's entries (read/list.h).
Result<Json> execute_list(const std::string& repo_path, const ListRequest& request);

}  // namespace tuvel
