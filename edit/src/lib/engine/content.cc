// SPDX-License-Identifier: Apache-2.0
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
  Content content;
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

ContentParts content_parts(std::string_view text, const std::vector<Change>& changes, std::size_t length) {
  // Each part is written on its own, so many small ones cost more than one
  // copy of the whole.
  constexpr std::size_t kMaxBorrowedChanges = 8;
  ContentParts content;
  content.size = length;
  if (changes.size() > kMaxBorrowedChanges) {
    content.built = build_content(text, changes, length);
    if (length > 0) content.parts.push_back(content.built.view());
    return content;
  }
  std::size_t cursor = 0;
  for (const Change& change : changes) {
    const auto start = static_cast<std::size_t>(change.start_byte);
    if (start > cursor) content.parts.push_back(text.substr(cursor, start - cursor));
    if (!change.replacement.empty()) content.parts.push_back(change.replacement);
    cursor = static_cast<std::size_t>(change.end_byte);
  }
  if (text.size() > cursor) content.parts.push_back(text.substr(cursor));
  return content;
}

bool same_text(std::string_view text, const ContentParts& content) {
  if (content.size != text.size()) return false;
  std::size_t at = 0;
  for (const std::string_view part : content.parts) {
    // A borrowed stretch of the text at its own place is equal to itself.
    if (part.data() != text.data() + at && std::memcmp(part.data(), text.data() + at, part.size()) != 0) return false;
    at += part.size();
  }
  return true;
}

}  // namespace tuvel
