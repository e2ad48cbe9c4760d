// SPDX-License-Identifier: Apache-2.0
#include "publish/create.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "publish/file_ops.h"
#include "publish/staging.h"
#include "source/path_policy.h"
#include "source/text_rules.h"
#include "source/walk.h"

namespace tuvel {
namespace {

// The first failed directory flush becomes the warning; later ones add nothing.
void flush_directory(int dir, std::optional<std::string>& warning) {
  if (Status flushed = full_sync(dir); !flushed && !warning) warning = flushed.error().render();
}

// Directories this call made, removed again, deepest first, when it ends
// without publishing the file: a failed create leaves the tree as it was.
// Each is removed only while it is still the directory made here and empty.
class MadeDirectories {
 public:
  MadeDirectories() = default;
  MadeDirectories(const MadeDirectories&) = delete;
  MadeDirectories& operator=(const MadeDirectories&) = delete;
  ~MadeDirectories() {
    for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
      struct stat st {};
      if (::fstatat(made->parent.get(), made->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (!S_ISDIR(st.st_mode) || st.st_dev != made->dev || st.st_ino != made->ino) continue;
      (void)::unlinkat(made->parent.get(), made->name.c_str(), AT_REMOVEDIR);
    }
  }

  /// add: `name` under `parent` was made by this call.
  Status add(int parent, const std::string& name) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::os(errno);
    TUVEL_TRY(Fd handle, dup_handle(parent));
    made_.push_back(Made{std::move(handle), name, st.st_dev, st.st_ino});
    return Ok{};
  }
  /// keep: the file is published; the directories stay.
  void keep() { made_.clear(); }

 private:
  struct Made {
    Fd parent;
    std::string name;
    dev_t dev;
    ino_t ino;
  };
  std::vector<Made> made_;
};

// The directory through `components`, making the missing ones. A directory
// made here (or by someone else meanwhile) is opened under the same no-link
// rules as the walk, so a link put in its place is refused, never followed.
Result<Fd> make_directories(int root, std::span<const std::string> components, MadeDirectories& made,
                            std::optional<std::string>& warning) {
  TUVEL_TRY(Fd walk, dup_handle(root));
  for (const auto& component : components) {
    Result<Fd> next = open_directory_at(walk.get(), component);
    if (!next.ok() && next.error().os_errno() == ENOENT) {
      TUVEL_CHECK(check_new_name(component));
      if (::mkdirat(walk.get(), component.c_str(), 0777) == 0) {
        TUVEL_CHECK(made.add(walk.get(), component));
        flush_directory(walk.get(), warning);
      } else if (errno != EEXIST) {
        return Error::os(errno);
      }
      next = open_directory_at(walk.get(), component);
    }
    if (!next.ok()) return std::move(next).error();
    walk = std::move(next).value();
  }
  return walk;
}

Status refuse_existing(int dir, const std::string& name) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return Error::os(EEXIST);
  if (errno != ENOENT) return Error::os(errno);
  return Ok{};
}

// Gives the staging file `name` only if nothing bears it. Where the file
// system does not offer RENAME_NOREPLACE, a hard link refuses an existing
// name just as atomically.
Status publish_new_name(int dir, const std::string& staging, const std::string& name) {
  if (::renameat2(dir, staging.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0) return Ok{};
  if (errno != EINVAL && errno != ENOSYS) return Error::os(errno);
  if (::linkat(dir, staging.c_str(), dir, name.c_str(), 0) != 0) return Error::os(errno);
  // Gone before the directory flush, so no second name of the file survives it.
  (void)::unlinkat(dir, staging.c_str(), 0);
  return Ok{};
}

}  // namespace

Result<Json> create_file(const Repo& repo, const CreateRequest& request) {
  TUVEL_TRY(std::vector<std::string> components, split_request_path(request.path));
  // "dir/" and "dir/." name a directory; without this the file would be "dir".
  if (request.path.ends_with('/') || request.path.ends_with("/.")) {
    return Error::plain("path must end with a file name, not '/' or '/.'");
  }
  std::string name = std::move(components.back());
  components.pop_back();
  for (const auto& component : components) {
    if (component.find('\0') != std::string::npos) return Error::os(EINVAL);
  }
  TUVEL_CHECK(check_file_name(name));
  TUVEL_CHECK(check_new_name(name));
  TUVEL_CHECK(check_source_text(request.text));

  std::optional<std::string> warning;
  // Declared before everything made inside the directories, so it is dropped after them.
  MadeDirectories made;
  TUVEL_TRY(const Fd dir, request.parents ? make_directories(repo.dir.get(), components, made, warning)
                                          : walk_directories(repo.dir.get(), components));
  // Early, so a name in use costs no write; the rename decides in the end.
  TUVEL_CHECK(refuse_existing(dir.get(), name));

  // Made with mode 0666, so the kernel applies the umask, or the directory's
  // default ACL with its named entries intact, exactly as for any new file.
  // The staging file gets no access that the published file does not give.
  TUVEL_TRY(const StagingFile staging, reserve_staging_in(dir.get(), 0666));
  TUVEL_CHECK(write_staging(staging, request.text));
  // The content is on stable storage before its name can appear.
  TUVEL_CHECK(full_sync(staging.handle()));
  // The directory must still be the one inside the repository, not one moved out of it.
  TUVEL_CHECK(confirm_directory(repo.dir.get(), components, dir.get()));
  TUVEL_CHECK(publish_new_name(dir.get(), staging.name(), name));
  made.keep();
  flush_directory(dir.get(), warning);

  JsonObject data{
      {"bytes", Json(static_cast<std::uint64_t>(request.text.size()))},
      {"durability_warning", warning ? Json(std::move(*warning)) : Json(nullptr)},
      {"path", Json(request.path)},
      {"revision", Json(revision(request.text))},
  };
  return Json(std::move(data));
}

}  // namespace tuvel
