// content: the new length of a text under a list of changes and the new
// content itself, built in one allocation.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "engine/resolve.h"
#include "error/error.h"
#include "source/text_buffer.h"

namespace tuvel {

/// Content: an owned byte buffer of exact length (not zero-filled first),
/// mapped like a snapshot: a fresh megabyte page by page costs more in
/// faults than building it.
struct Content {
  TextBuffer bytes;
  std::size_t size = 0;
  std::string_view view() const { return bytes.view(); }
};

/// new_length: the length after `changes`; checked before anything is built.
Result<std::size_t> new_length(std::string_view text, const std::vector<Change>& changes);

/// build_content: `text` with the sorted, disjoint `changes` applied;
/// `length` is what new_length returned.
Content build_content(std::string_view text, const std::vector<Change>& changes, std::size_t length);

}  // namespace tuvel
