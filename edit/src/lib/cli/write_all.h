// SPDX-License-Identifier: Apache-2.0
// write_all: the one way both programs put bytes on a descriptor.
#pragma once

#include <string_view>

namespace tuvel {

/// Writes all of `data` to `fd`, resuming partial and interrupted writes.
/// Gives the errno of the failure, or 0.
int write_all(int fd, std::string_view data);

}  // namespace tuvel
