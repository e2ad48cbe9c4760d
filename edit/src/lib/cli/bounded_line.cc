// SPDX-License-Identifier: Apache-2.0
#include "cli/bounded_line.h"

#include <cstring>

namespace tuvel {

std::size_t take_chunk(BoundedLine& line, std::string_view input, std::size_t bound, bool& complete) {
  const void* feed = std::memchr(input.data(), '\n', input.size());
  complete = feed != nullptr;
  const std::size_t chunk =
      complete ? static_cast<std::size_t>(static_cast<const char*>(feed) - input.data()) + 1 : input.size();
  if (!line.overlong) {
    if (line.bytes.size() + chunk > bound) {
      line.overlong = true;
      std::string().swap(line.bytes);
    } else {
      line.bytes.append(input.data(), chunk);
    }
  }
  return chunk;
}

}  // namespace tuvel
