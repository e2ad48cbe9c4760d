// SPDX-License-Identifier: Apache-2.0
#include "publish/new_file.h"

#include <cerrno>
#include <utility>

#include "publish/file_ops.h"
#include "source/path_policy.h"
#include "source/text_rules.h"
#include "source/walk.h"

namespace tuvel {

Result<std::unique_ptr<NewFile>> stage_new_file(const Repo& repo, const CreateRequest& request) {
  auto file = std::make_unique<NewFile>();
  TUVEL_TRY(file->components, split_new_path(request.path));
  file->name = std::move(file->components.back());
  file->components.pop_back();
  TUVEL_CHECK(check_source_text(request.text));

  if (request.parents) {
    TUVEL_TRY(file->dir, make_directories(repo.dir.get(), file->components, file->made, file->warning));
  } else {
    TUVEL_TRY(file->dir, walk_directories(repo.dir.get(), file->components));
  }
  // Early, so a name in use costs no write; the rename decides in the end.
  TUVEL_CHECK(refuse_existing(file->dir.get(), file->name));
  // Made with mode 0666, so the kernel applies the umask, or the directory's
  // default ACL, exactly as for any new file.
  TUVEL_TRY(StagingFile staging, reserve_staging_in(file->dir.get(), 0666));
  file->staging.emplace(std::move(staging));
  TUVEL_CHECK(write_staging(*file->staging, request.text));
  // The content is on stable storage before its name can appear.
  TUVEL_CHECK(full_sync(file->staging->handle()));
  return file;
}

Status confirm_new_name(const Repo& repo, const NewFile& file) {
  TUVEL_CHECK(confirm_directory(repo.dir.get(), file.components, file.dir.get()));
  return refuse_existing(file.dir.get(), file.name);
}

Result<std::vector<std::string>> split_new_path(std::string_view path) {
  TUVEL_TRY(std::vector<std::string> components, split_request_path(path));
  // "dir/" and "dir/." name a directory; without this the file would be "dir".
  if (path.ends_with('/') || path.ends_with("/.")) return Error::plain("path must end with a file name, not '/' or '/.'");
  for (const auto& component : components) {
    if (component.find('\0') != std::string::npos) return Error::os(EINVAL);
  }
  TUVEL_CHECK(check_file_name(components.back()));
  TUVEL_CHECK(check_new_name(components.back()));
  return components;
}

}  // namespace tuvel
