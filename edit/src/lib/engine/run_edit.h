// run_edit: one preview or apply request: revision check, resolution, new
// content, preview excerpts or publication, result object.
#pragma once

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

inline constexpr std::size_t PREVIEW_MAX_ENTRIES = 32;
inline constexpr std::size_t PREVIEW_CHAR_BUDGET = 4096;
inline constexpr std::size_t PREVIEW_MAX_CHARS = 256;

Result<Json> run_edit(const Repo& repo, const EditRequest& request, bool preview);

}  // namespace tuvel
