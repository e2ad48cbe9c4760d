#include "engine/content.h"

#include <cstdint>
#include <cstring>

#include "source/source.h"

namespace tuvel {

Result<std::size_t> new_length(std::string_view text, const std::vector<Change>& changes) {
  std::uint64_t length = text.size();
  for (const Change& change : changes) {
    if (__builtin_sub_overflow(length, change.end_byte - change.start_byte, &length) ||
        __builtin_add_overflow(length, change.replacement.size(), &length)) {
      return Error::edit(EditCode::SizeLimit, "replacement size overflow");
    }
  }
  if (length > MAX_SOURCE_BYTES) return Error::plain("result exceeds 16 MiB");
  return static_cast<std::size_t>(length);
}

Content build_content(std::string_view text, const std::vector<Change>& changes, std::size_t length) {
  Content content{TextBuffer(), length};
  content.bytes.reserve(length);
  char* out = content.bytes.room_at_end(length);
  content.bytes.extend(length);
  std::size_t cursor = 0;
  for (const Change& change : changes) {
    const auto start = static_cast<std::size_t>(change.start_byte);
    // memcpy of zero bytes still needs valid pointers; skip empty pieces.
    if (start > cursor) {
      std::memcpy(out, text.data() + cursor, start - cursor);
      out += start - cursor;
    }
    if (!change.replacement.empty()) {
      std::memcpy(out, change.replacement.data(), change.replacement.size());
      out += change.replacement.size();
    }
    cursor = static_cast<std::size_t>(change.end_byte);
  }
  if (text.size() > cursor) std::memcpy(out, text.data() + cursor, text.size() - cursor);
  return content;
}

}  // namespace tuvel
