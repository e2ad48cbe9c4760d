// SPDX-License-Identifier: Apache-2.0
// resolve: turns the edits of a request into sorted, non-overlapping byte
// range changes against one snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "protocol/request.h"

namespace tuvel {

inline constexpr std::size_t MAX_EDITS = 256;
inline constexpr std::uint64_t MAX_REPLACEMENTS = 100000;

/// Change: replace snapshot bytes [start_byte, end_byte) by `replacement`
/// (borrowed from the request, which outlives the changes).
struct Change {
  std::string_view replacement;
  std::uint64_t start_byte = 0;
  std::uint64_t end_byte = 0;
};

/// `line_feeds`: the text's line feeds when they were counted already (a snapshot).
Result<std::vector<Change>> resolve(std::string_view text, const std::vector<Edit>& edits,
                                    std::optional<std::uint64_t> line_feeds = std::nullopt);

}  // namespace tuvel
