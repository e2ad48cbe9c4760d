// SPDX-License-Identifier: Apache-2.0
// split_request_path: the path policy of a request path, checked before any
// file-system call: relative, no parent traversal, no Git metadata, bounded.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"

namespace tuvel {

/// split_request_path: the components of an accepted path (at least one),
/// with empty and inner "." components dropped.
Result<std::vector<std::string>> split_request_path(std::string_view path);

/// check_file_name: the last component must be UTF-8 ("filename is not
/// UTF-8"); a NUL byte fails with EINVAL, as a call would.
Status check_file_name(std::string_view name);

}  // namespace tuvel
