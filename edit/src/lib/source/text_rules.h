// SPDX-License-Identifier: Apache-2.0
// The rules every source text keeps: at most 16 MiB, no NUL, UTF-8. Their
// refusals are spelled here, for snapshots and for new files alike.
#pragma once

#include <string_view>

#include "error/error.h"
#include "source/utf8.h"

namespace tuvel {

/// "source exceeds 16 MiB"
Error source_too_large();
/// "source contains NUL"
Error source_contains_nul();
/// "source is not UTF-8" with the decoding failure as its cause.
Error source_not_utf8(const Utf8Error& error);

/// check_source_text: the size, NUL and UTF-8 rules over a whole text, in
/// that order (the NUL scan comes first, as for a snapshot).
Status check_source_text(std::string_view text);

}  // namespace tuvel
