// SPDX-License-Identifier: Apache-2.0
// search_tree: the lines that match a pattern in the files of the
// repository, each file with the revision of exactly the bytes searched, so
// a hit can be edited at once against that revision.
//
// Files come in path order (bytes), read once each; binary files (a NUL
// byte) and files over the source limit are skipped and counted. The files
// are read and searched by as many threads as the machine has processors,
// a bounded batch at a time, while the walk goes on; the page is put
// together in order. A page ends at `max_results` results or at the output
// budget; then "truncated" is true and "next" names where the next page
// starts (null when nothing is left), so that page continues without
// searching again what came before.
#pragma once

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// The "data" value: {"files":[...],"next","searched","skipped":{...},"truncated"}.
Result<Json> search_tree(const Repo& repo, const SearchRequest& request);

}  // namespace tuvel
