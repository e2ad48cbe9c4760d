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

Status check_revision_shape(std::string_view revision) {
  if (!is_hex_digest(revision)) return Error::plain("revision must be a BLAKE3 hex digest from read or tuvel-search");
  return Ok{};
}

Error stale_revision(const std::string& current) {
  return Error::edit(EditCode::StaleRevision,
                     "source changed; current revision is " + current + "; read the affected range and retry");
}

Result<std::unique_ptr<EditPlan>> plan_edit(const Repo& repo, const EditRequest& request, bool for_edit) {
  TUVEL_CHECK(check_revision_shape(request.revision));
  auto plan = std::make_unique<EditPlan>();
  TUVEL_TRY(plan->source, open_source(repo, request.path, for_edit));
  TUVEL_TRY(plan->read, read_snapshot_and_revision(plan->source));
  const std::string_view snapshot = plan->read.text;
  const std::string& revision_before = plan->read.revision;
  // Byte comparison: an uppercase digest never matches and ends here.
  if (revision_before != request.revision) return stale_revision(revision_before);
  TUVEL_TRY(plan->changes, resolve(snapshot, request.edits, plan->read.line_feeds));
  TUVEL_TRY(const std::size_t length, new_length(snapshot, plan->changes));
  plan->content = content_parts(snapshot, plan->changes, length);
  plan->changed = !same_text(snapshot, plan->content);
  plan->revision_after = plan->changed ? revision(plan->content.parts) : revision_before;
  return plan;
}

Result<Json> run_edit(const Repo& repo, const EditRequest& request, bool preview) {
  TUVEL_TRY(const std::unique_ptr<EditPlan> plan, plan_edit(repo, request, !preview));
  const std::string_view snapshot = plan->read.text;
  const std::vector<Change>& changes = plan->changes;
  const ContentParts& content = plan->content;
  const bool changed = plan->changed;

  std::optional<std::string> warning;
  if (!preview && changed) {
    TUVEL_TRY(warning, publish(plan->source, snapshot, content.parts));
  }

  JsonObject result{
      {"path", Json(request.path)},
      {"applied", Json(!preview && changed)},
      {"changed", Json(changed)},
      {"revision_before", Json(plan->read.revision)},
      {"revision_after", Json(plan->revision_after)},
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
