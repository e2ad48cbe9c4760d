// SPDX-License-Identifier: Apache-2.0
// run_edit: one preview or apply request: revision check, resolution, new
// content, preview excerpts or publication, result object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/content.h"
#include "engine/preview.h"
#include "engine/resolve.h"
#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// EditPlan: an edit request resolved against the snapshot of its file: the
/// new content, borrowed in part from the snapshot, and its revision.
struct EditPlan {
  Source source;
  Snapshot read;
  std::vector<Change> changes;
  ContentParts content;
  bool changed = false;
  std::string revision_after;
};

/// check_revision_shape: a revision from read is 64 hex digits; checked
/// before any file is touched.
Status check_revision_shape(std::string_view revision);
/// stale_revision: the failure for a file whose revision is now `current`.
Error stale_revision(const std::string& current);

/// plan_edit: revision shape, open (for edit: with the writer lock),
/// snapshot, stale-revision check, resolution and size checks. On the heap,
/// since the content borrows from the snapshot.
Result<std::unique_ptr<EditPlan>> plan_edit(const Repo& repo, const EditRequest& request, bool for_edit);

/// run_edit: the result object of a preview (`preview` true) or an apply.
/// An apply holds the writer lock from open to return.
Result<Json> run_edit(const Repo& repo, const EditRequest& request, bool preview);

}  // namespace tuvel
