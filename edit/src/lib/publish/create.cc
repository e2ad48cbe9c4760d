// SPDX-License-Identifier: Apache-2.0
#include "publish/create.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// The directory through `components`, making the missing ones. A directory
// made here (or by someone else meanwhile) is opened under the same no-link
// rules as the walk, so a link put in its place is refused, never followed.
Result<Fd> make_directories(int root, std::span<const std::string> components, std::optional<std::string>& warning) {
  TUVEL_TRY(Fd walk, dup_handle(root));
  for (const auto& component : components) {
    Result<Fd> next = open_directory_at(walk.get(), component);
    if (!next.ok() && next.error().os_errno() == ENOENT) {
      if (::mkdirat(walk.get(), component.c_str(), 0777) == 0) {
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

// The umask without changing it: umask(2) can only be read by setting it,
// which would race with other threads creating files. The kernel shows it
// near the top of /proc/self/status; umask(2) is the fallback.
mode_t current_umask() {
  const Fd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (status.valid()) {
    char text[1024];
    std::size_t size = 0;
    for (ssize_t got = 1; got > 0 && size < sizeof text - 1; size += static_cast<std::size_t>(got)) {
      do {
        got = ::read(status.get(), text + size, sizeof text - 1 - size);
      } while (got < 0 && errno == EINTR);
      if (got < 0) break;
    }
    text[size] = '\0';
    if (const char* line = std::strstr(text, "\nUmask:")) {
      char* end = nullptr;
      const unsigned long mask = std::strtoul(line + 8, &end, 8);
      if (end != line + 8) return static_cast<mode_t>(mask & 0777);
    }
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
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
  std::string name = std::move(components.back());
  components.pop_back();
  for (const auto& component : components) {
    if (component.find('\0') != std::string::npos) return Error::os(EINVAL);
  }
  TUVEL_CHECK(check_file_name(name));
  TUVEL_CHECK(check_source_text(request.text));

  std::optional<std::string> warning;
  TUVEL_TRY(const Fd dir, request.parents ? make_directories(repo.dir.get(), components, warning)
                                          : walk_directories(repo.dir.get(), components));
  // Early, so a name in use costs no write; the rename decides in the end.
  TUVEL_CHECK(refuse_existing(dir.get(), name));

  TUVEL_TRY(const StagingFile staging, reserve_staging_in(dir.get()));
  TUVEL_CHECK(write_staging(staging, request.text));
  TUVEL_CHECK(set_staging_mode(staging, 0666 & ~current_umask()));
  // The content is on stable storage before its name can appear.
  TUVEL_CHECK(full_sync(staging.handle()));
  // The directory must still be the one inside the repository, not one moved out of it.
  TUVEL_CHECK(confirm_directory(repo.dir.get(), components, dir.get()));
  TUVEL_CHECK(publish_new_name(dir.get(), staging.name(), name));
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
