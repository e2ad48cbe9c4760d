// SPDX-License-Identifier: Apache-2.0
#include "publish/create.h"

#include <memory>
#include <optional>
#include <string>

#include "publish/file_ops.h"
#include "publish/new_file.h"
#include "publish/new_name.h"

namespace tuvel {

Result<Json> create_file(const Repo& repo, const CreateRequest& request) {
  TUVEL_TRY(const std::unique_ptr<NewFile> file, stage_new_file(repo, request));
  // The directory must still be the one inside the repository, not one moved out of it.
  TUVEL_CHECK(confirm_new_name(repo, *file));
  TUVEL_CHECK(rename_no_replace(file->dir.get(), file->staging->name(), file->dir.get(), file->name));
  file->made.keep();
  std::optional<std::string> warning = file->warning;
  if (Status flushed = full_sync(file->dir.get()); !flushed && !warning) warning = flushed.error().render();

  JsonObject data{
      {"bytes", Json(static_cast<std::uint64_t>(request.text.size()))},
      {"durability_warning", warning ? Json(std::move(*warning)) : Json(nullptr)},
      {"path", Json(request.path)},
      {"revision", Json(revision(request.text))},
  };
  return Json(std::move(data));
}

}  // namespace tuvel
