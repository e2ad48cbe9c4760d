// SPDX-License-Identifier: Apache-2.0
// find_tree: the regular files of the repository whose paths match a glob,
// by the walk and the rules of search, with their sizes, in path order and
// in pages like search's.
#pragma once

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// The "data" value: {"files":[{"path","size"}],"next","truncated"}.
Result<Json> find_tree(const Repo& repo, const FindRequest& request);

}  // namespace tuvel
