// SPDX-License-Identifier: Apache-2.0
#include "cli/write_all.h"

#include <unistd.h>

#include <cerrno>

namespace tuvel {

int write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

}  // namespace tuvel
