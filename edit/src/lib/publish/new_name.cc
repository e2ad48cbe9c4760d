// SPDX-License-Identifier: Apache-2.0
#include "publish/new_name.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "publish/file_ops.h"
#include "source/path_policy.h"
#include "source/walk.h"

namespace tuvel {

MadeDirectories::~MadeDirectories() {
  for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
    struct stat st {};
    if (::fstatat(made->parent.get(), made->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(st.st_mode) || st.st_dev != made->dev || st.st_ino != made->ino) continue;
    (void)::unlinkat(made->parent.get(), made->name.c_str(), AT_REMOVEDIR);
  }
}

Status MadeDirectories::add(int parent, const std::string& name) {
  struct stat st {};
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::os(errno);
  TUVEL_TRY(Fd handle, dup_handle(parent));
  made_.push_back(Made{std::move(handle), name, st.st_dev, st.st_ino});
  return Ok{};
}

Result<Fd> make_directories(int root, std::span<const std::string> components, MadeDirectories& made,
                            std::optional<std::string>& warning) {
  TUVEL_TRY(Fd walk, dup_handle(root));
  for (const auto& component : components) {
    Result<Fd> next = open_directory_at(walk.get(), component);
    if (!next.ok() && next.error().os_errno() == ENOENT) {
      TUVEL_CHECK(check_new_name(component));
      if (::mkdirat(walk.get(), component.c_str(), 0777) == 0) {
        TUVEL_CHECK(made.add(walk.get(), component));
        if (Status flushed = full_sync(walk.get()); !flushed && !warning) warning = flushed.error().render();
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

Status rename_no_replace(int from_dir, const std::string& from, int to_dir, const std::string& to) {
  if (::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return Ok{};
  if (errno != EINVAL && errno != ENOSYS) return Error::os(errno);
  if (::linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) != 0) return Error::os(errno);
  // Gone before the directory flush, so no second name of the file survives it.
  (void)::unlinkat(from_dir, from.c_str(), 0);
  return Ok{};
}

}  // namespace tuvel
