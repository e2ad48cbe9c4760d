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

}  // namespace tuvel
