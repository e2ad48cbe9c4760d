// SPDX-License-Identifier: Apache-2.0
// list_directory: one page of the entries of one directory of the
// repository, bounded like a read.
//
// The directory is reached through the confined walk under the source path
// policy (every component, the last included, must be a directory and no
// link); the root when no path is given or it is "" or ".". A path naming a
// file fails with the walk's "Not a directory (os error 20)", a link with
// ELOOP. Entries come sorted by name, byte by byte, each with its kind
// ("file", "directory", "symlink" or "other", taken without following links)
// and, for files, its size. Left out: "." and "..", ".git", staging files of
// publication, names that are not UTF-8 (no request could name them) and
// entries removed while the listing runs.
//
// A page holds the names after the cursor (all names without one), as many
// as fit: the compact encoding of the whole "data" value stays within
// READ_OUTPUT_LIMIT. When names remain after it, "next" is the last name
// shown, the cursor of the following page, and "truncated" is true; on the
// last page "next" is null. The directory is read once per page and only the
// page is held in memory, so any number of entries can be listed in pages.
#pragma once

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// The "data" value: {"entries":[...],"next":name|null,"path":"<as requested,
/// or .>","truncated":bool}.
Result<Json> list_directory(const Repo& repo, const ListRequest& request);

}  // namespace tuvel
