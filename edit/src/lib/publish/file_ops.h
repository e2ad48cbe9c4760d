// SPDX-License-Identifier: Apache-2.0
// The two platform services publication needs beyond plain POSIX: a flush to
// stable storage, and carrying a file's ACL and extended attributes over.
#pragma once

#include "error/error.h"

namespace tuvel {

/// full_sync: data and metadata of `fd` (file or directory) on stable storage;
/// repeated while interrupted.
Status full_sync(int fd);
/// copy_acl_and_xattrs: every extended attribute of `from` set on `to`; the
/// POSIX ACL travels as one of them. A file system without extended
/// attributes has none to copy.
Status copy_acl_and_xattrs(int from, int to);

}  // namespace tuvel
