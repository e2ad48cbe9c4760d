// SPDX-License-Identifier: Apache-2.0
#include "line_reader.h"

#include <unistd.h>

#include <cerrno>

namespace tuvel::mcp {

Result<std::optional<Line>> LineReader::next() {
  Line line;
  bool consumed = false;
  for (;;) {
    if (begin_ == end_) {
      ssize_t n = 0;
      do {
        n = ::read(fd_, buffer_.data(), buffer_.size());
      } while (n < 0 && errno == EINTR);
      if (n < 0) return Error::os(errno);
      if (n == 0) {
        if (!consumed) return std::optional<Line>();
        return std::optional<Line>(std::move(line));  // the last line, without a line feed
      }
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    bool complete = false;
    begin_ += take_chunk(line, std::string_view(buffer_.data() + begin_, end_ - begin_), MAX_LINE_BYTES, complete);
    consumed = true;
    if (complete) return std::optional<Line>(std::move(line));
  }
}

}  // namespace tuvel::mcp
