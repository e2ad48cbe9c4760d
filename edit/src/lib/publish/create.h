// SPDX-License-Identifier: Apache-2.0
// create_file: a new source file, published under a name that must not
// exist yet.
//
// The path follows the source path policy and the confined walk; it must end
// with a file name (not "/" or "/."), and the file name and every directory
// made for it must hold no control character. The text follows the source
// text rules. Every refusal that needs no file system (policy, file name,
// text) comes before any directory is made. With `parents`, missing
// directories are made one level at a time, each opened again under the
// no-link rules and its parent flushed; when the file is not published in
// the end, the directories this call made are removed again, deepest first.
// The content is staged beside the target with mode 0666, so the kernel gives
// it the umask or the directory's default ACL as for any new file, flushed,
// and published with a rename that never replaces (a hard link where the
// file system lacks that rename); an existing name of any kind fails with
// EEXIST and is left as it was. The staging file is removed on every way out.
#pragma once

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// The "data" value: {"bytes","durability_warning","path","revision"}. A
/// failed flush of a directory after a change to it is the warning.
Result<Json> create_file(const Repo& repo, const CreateRequest& request);

}  // namespace tuvel
