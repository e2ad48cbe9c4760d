// SPDX-License-Identifier: Apache-2.0
// publish: the atomic, durable replacement of a source file by a staging file
// in the same directory.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "error/error.h"
#include "publish/staging.h"
#include "source/source.h"

namespace tuvel {

/// Replaces the file of `source` (opened for edit) with the new content, the
/// concatenation of `new_parts`, after confirming it still holds `old_bytes`.
/// Gives the directory-flush warning.
Result<std::optional<std::string>> publish(Source& source, std::string_view old_bytes,
                                           std::span<const std::string_view> new_parts);
/// stage_replacement: the first half of publish: a staging file beside the
/// source (opened for edit) holding the new content with the source's
/// permission bits, ACL and extended attributes, on stable storage.
Result<StagingFile> stage_replacement(const Source& source, std::span<const std::string_view> new_parts);
/// confirm_revision: the source is still the file opened and its whole
/// content still has `revision` ("source content changed during edit").
/// Reads it again from the start.
Status confirm_revision(Source& source, std::string_view revision);
/// The same with the new content in one piece.
Result<std::optional<std::string>> publish(Source& source, std::string_view old_bytes,
                                           std::string_view new_bytes);

}  // namespace tuvel
