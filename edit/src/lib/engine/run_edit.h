// SPDX-License-Identifier: Apache-2.0
// run_edit: one preview or apply request: revision check, resolution, new
// content, preview excerpts or publication, result object.
#pragma once

#include "engine/preview.h"
#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

/// run_edit: the result object of a preview (`preview` true) or an apply.
/// An apply holds the writer lock from open to return.
Result<Json> run_edit(const Repo& repo, const EditRequest& request, bool preview);

}  // namespace tuvel
