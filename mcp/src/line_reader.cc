#include "line_reader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    const char* start = buffer_.data() + begin_;
    const void* feed = std::memchr(start, '\n', end_ - begin_);
    const std::size_t chunk =
        feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1 : end_ - begin_;
    if (!line.overlong) {
      if (line.bytes.size() + chunk > MAX_LINE_BYTES) {
        line.overlong = true;
        std::string().swap(line.bytes);
      } else {
        line.bytes.append(start, chunk);
      }
    }
    begin_ += chunk;
    consumed = true;
    if (feed != nullptr) return std::optional<Line>(std::move(line));
  }
}

}  // namespace tuvel::mcp
