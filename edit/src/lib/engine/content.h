// SPDX-License-Identifier: Apache-2.0
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
  std::string_view view() const { return bytes.view(); }
};

/// new_length: the length after `changes`; checked before anything is built.
Result<std::size_t> new_length(std::string_view text, const std::vector<Change>& changes);

/// build_content: `text` with the sorted, disjoint `changes` applied;
/// `length` is what new_length returned.
Content build_content(std::string_view text, const std::vector<Change>& changes, std::size_t length);

/// ContentParts: the new content as the parts it is made of, in order. A few
/// changes leave it as the text's unchanged stretches and the replacements
/// between them, borrowed and not copied; many are built into `built`, the
/// one part then.
struct ContentParts {
  std::vector<std::string_view> parts;
  Content built;
  std::size_t size = 0;
};

/// content_parts: the new content of `text` under `changes` (as for
/// build_content), as parts.
ContentParts content_parts(std::string_view text, const std::vector<Change>& changes, std::size_t length);

/// same_text: whether the parts make up exactly `text`.
bool same_text(std::string_view text, const ContentParts& content);

}  // namespace tuvel
