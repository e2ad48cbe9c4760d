// SPDX-License-Identifier: Apache-2.0
// split_request_path: the path policy of a request path, checked before any
// file-system call: relative, no parent traversal, no Git metadata, bounded,
// and never a staging file of publication.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"

namespace tuvel {

/// is_staging_name: `name` has the form of a staging file, ".tuvel-edit-"
/// digits "-" digits. Such a file may be another process's half-written
/// content, so no request may name it and listings leave it out.
/// The change-set journal (publish/journal.h) falls under the same rule.
bool is_staging_name(std::string_view name);

/// JOURNAL_NAME: the redo journal of a change set, at the top of the repository.
inline constexpr std::string_view JOURNAL_NAME = ".tuvel-edit-journal";

/// split_request_path: the components of an accepted path (at least one),
/// with empty and inner "." components dropped. A last component in the form
/// of a staging name fails with "path names a staging file".
Result<std::vector<std::string>> split_request_path(std::string_view path);

/// split_directory_path: as split_request_path, but "" and "." name the
/// repository root (no components).
Result<std::vector<std::string>> split_directory_path(std::string_view path);

/// check_file_name: the last component must be UTF-8 ("filename is not
/// UTF-8"); a NUL byte fails with EINVAL, as a call would.
Status check_file_name(std::string_view name);

/// check_new_name: a name about to be made holds no control character
/// (U+0000 to U+001F, U+007F).
Status check_new_name(std::string_view name);

}  // namespace tuvel
