// SPDX-License-Identifier: Apache-2.0
#include "engine/run_edit.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "engine/content.h"
#include "engine/resolve.h"
#include "publish/publish.h"

namespace tuvel {

namespace {

inline constexpr std::size_t REVISION_LENGTH = 64;

bool is_hex_digest(std::string_view revision) {
  if (revision.size() != REVISION_LENGTH) return false;
  return std::ranges::all_of(revision, [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace

Result<Json> run_edit(const Repo& repo, const EditRequest& request, bool preview) {
  // Shape first: a malformed revision is refused before any file is touched.
  if (!is_hex_digest(request.revision)) {
    return Error::plain("revision must be a BLAKE3 hex digest from read or tuvel-search");
  }
  TUVEL_TRY(Source source, open_source(repo, request.path, !preview));
  TUVEL_TRY(const Snapshot read, read_snapshot_and_revision(source));
  const std::string_view snapshot = read.text;
  const std::string& revision_before = read.revision;
  // Byte comparison: an uppercase digest never matches and ends here.
  if (revision_before != request.revision) {
    return Error::edit(EditCode::StaleRevision,
                       "source changed; current revision is " + revision_before + "; read the affected range and retry");
  }
  TUVEL_TRY(const std::vector<Change> changes, resolve(snapshot, request.edits, read.line_feeds));
  TUVEL_TRY(const std::size_t length, new_length(snapshot, changes));
  const ContentParts content = content_parts(snapshot, changes, length);
  const bool changed = !same_text(snapshot, content);
  const std::string revision_after = changed ? revision(content.parts) : revision_before;

  std::optional<std::string> warning;
  if (!preview && changed) {
    TUVEL_TRY(warning, publish(source, snapshot, content.parts));
  }

  JsonObject result{
      {"path", Json(request.path)},
      {"applied", Json(!preview && changed)},
      {"changed", Json(changed)},
      {"revision_before", Json(revision_before)},
      {"revision_after", Json(revision_after)},
      {"replacements", Json(static_cast<std::uint64_t>(changes.size()))},
      {"bytes_before", Json(static_cast<std::uint64_t>(snapshot.size()))},
      {"bytes_after", Json(static_cast<std::uint64_t>(content.size))},
      {"durability_warning", warning ? Json(std::move(*warning)) : Json(nullptr)},
  };
  if (preview) {
    Preview excerpt = build_preview(snapshot, changes);
    result.emplace("preview_truncated", Json(excerpt.truncated));
    result.emplace("preview", Json(std::move(excerpt.entries)));
  }
  return Json(std::move(result));
}

}  // namespace tuvel
