// SPDX-License-Identifier: Apache-2.0
#include "search/file_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "source/fd.h"
#include "source/source.h"
#include "source/utf8.h"

namespace tuvel {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// Appends the longest prefix of `valid` (UTF-8) that keeps `out` within
/// LINE_TEXT_BYTES; false when it had to cut.
bool append_within(std::string& out, std::string_view valid) {
  const std::size_t room = LINE_TEXT_BYTES - out.size();
  if (valid.size() <= room) {
    out.append(valid);
    return true;
  }
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(valid[cut]) & 0xC0) == 0x80) --cut;
  out.append(valid.substr(0, cut));
  return false;
}

struct Found {
  std::uint64_t line;
  std::size_t begin;  ///< of the line
  std::size_t end;    ///< its line feed, or the end of the text
};

std::uint64_t line_feeds(std::string_view text) {
  return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

ShownLine shown_line(std::uint64_t number, std::string_view line, bool match) {
  ShownLine shown{number, {}, false, match};
  shown.text.reserve(std::min(line.size(), LINE_TEXT_BYTES));
  std::size_t at = 0;
  while (at < line.size()) {
    const auto error = find_utf8_error_scalar(line, at);
    const std::size_t valid_end = error ? error->index : line.size();
    if (!append_within(shown.text, line.substr(at, valid_end - at))) {
      shown.truncated = true;
      return shown;
    }
    if (!error) break;
    if (!append_within(shown.text, kReplacement)) {
      shown.truncated = true;
      return shown;
    }
    at = valid_end + (error->length == 0 ? line.size() - valid_end : error->length);
  }
  return shown;
}

void search_text(const LinePattern& pattern, std::string_view text, const SearchOptions& options, FileHits& hits) {
  const std::size_t size = text.size();
  const char* data = text.data();
  std::vector<Found> found;
  std::size_t counted_at = 0;
  std::uint64_t counted_line = 1;  // the number of the line that starts at counted_at
  std::size_t collected_bytes = 0;
  std::uint64_t first_left = 0;  // the first match not collected
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t begin = 0;
    if (!pattern.find(text, pos, begin)) break;
    // An empty match after the last line feed lies on no line.
    if (begin == size && data[size - 1] == '\n') break;
    const void* before = begin > pos ? ::memrchr(data + pos, '\n', begin - pos) : nullptr;
    const std::size_t line_begin = before ? static_cast<std::size_t>(static_cast<const char*>(before) - data) + 1 : pos;
    const void* after = ::memchr(data + begin, '\n', size - begin);
    const std::size_t line_end = after ? static_cast<std::size_t>(static_cast<const char*>(after) - data) : size;
    ++hits.count;
    if (options.lines) {
      counted_line += line_feeds(text.substr(counted_at, line_begin - counted_at));
      counted_at = line_begin;
      if (counted_line > options.after_line) {
        if (found.size() >= options.max_matches || collected_bytes >= options.max_bytes) {
          hits.more = true;
          first_left = counted_line;
          break;
        }
        found.push_back({counted_line, line_begin, line_end});
        collected_bytes += std::min(line_end - line_begin, LINE_TEXT_BYTES);
      }
    }
    pos = line_end + 1;
  }
  if (!options.lines) return;

  const std::uint64_t context = options.context;
  std::uint64_t last_shown = 0;
  std::vector<ShownLine> before;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Found& f = found[i];
    before.clear();
    std::size_t start = f.begin;
    for (std::uint64_t n = f.line; before.size() < context && n - 1 > last_shown && start > 0; --n) {
      const std::size_t end = start - 1;  // the line feed of the line before
      const void* feed = end > 0 ? ::memrchr(data, '\n', end) : nullptr;
      start = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) + 1 : 0;
      before.push_back(shown_line(n - 1, text.substr(start, end - start), false));
    }
    hits.lines.insert(hits.lines.end(), std::make_move_iterator(before.rbegin()), std::make_move_iterator(before.rend()));
    hits.lines.push_back(shown_line(f.line, text.substr(f.begin, f.end - f.begin), true));
    last_shown = f.line;
    const std::uint64_t limit = i + 1 < found.size() ? found[i + 1].line - 1
                                : hits.more          ? first_left - 1
                                                     : std::numeric_limits<std::uint64_t>::max();
    std::size_t end = f.end;
    for (std::uint64_t n = f.line; n - f.line < context && n + 1 <= limit && end + 1 < size; ++n) {
      const std::size_t start_next = end + 1;
      const void* feed = ::memchr(data + start_next, '\n', size - start_next);
      end = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) : size;
      hits.lines.push_back(shown_line(n + 1, text.substr(start_next, end - start_next), false));
      last_shown = n + 1;
    }
  }
}

FileHits search_file(const LinePattern& pattern, int dir, const char* name, const SearchOptions& options,
                     TextBuffer& buffer) {
  FileHits hits;
  int fd;
  do {
    fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  const Fd file(fd);
  struct stat st {};
  if (!file.valid() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return hits;
  if (st.st_size > static_cast<off_t>(MAX_SOURCE_BYTES)) {
    hits.outcome = FileOutcome::TooLarge;
    return hits;
  }
  buffer.clear();
  // One byte more than the size, so the usual read ends at the end of the file.
  buffer.reserve(static_cast<std::size_t>(st.st_size) + 1);
  constexpr std::size_t kBound = MAX_SOURCE_BYTES + 1;
  while (buffer.size() < kBound) {
    const std::size_t want = std::min<std::size_t>(std::max<std::size_t>(buffer.capacity() - buffer.size(), 4096),
                                                   kBound - buffer.size());
    const ssize_t got = ::read(file.get(), buffer.room_at_end(want), want);
    if (got < 0) {
      if (errno == EINTR) continue;
      return hits;
    }
    if (got == 0) break;
    buffer.extend(static_cast<std::size_t>(got));
  }
  if (buffer.size() > MAX_SOURCE_BYTES) {
    hits.outcome = FileOutcome::TooLarge;
    return hits;
  }
  const std::string_view text = buffer.view();
  if (std::memchr(text.data(), '\0', text.size()) != nullptr) {
    hits.outcome = FileOutcome::Binary;
    return hits;
  }
  hits.outcome = FileOutcome::Searched;
  search_text(pattern, text, options, hits);
  const bool reported = options.lines ? !hits.lines.empty() : hits.count > 0;
  if (reported) hits.revision = revision(text);
  return hits;
}

}  // namespace tuvel
