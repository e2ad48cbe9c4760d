// SPDX-License-Identifier: Apache-2.0
// create_file: a new source file, published under a name that must not
// exist yet.
//
// The path follows the source path policy and the confined walk; the text
// the source text rules. Every refusal that needs no file system (policy,
// file name, text) comes before any directory is made. With `parents`,
// missing directories are made one level at a time, each opened again under
// the no-link rules and its parent flushed. The content is staged beside the
// target, flushed, given mode 0666 less the umask, and published with a
// rename that never replaces (a hard link where the file system lacks that
// rename); an existing name of any kind fails with EEXIST and is left as it
// was. The staging file is removed on every way out.
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
