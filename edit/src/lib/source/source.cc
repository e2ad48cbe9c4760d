// SPDX-License-Identifier: Apache-2.0
#include "source/source.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "source/path_policy.h"
#include "source/utf8.h"
#include "source/walk.h"

namespace tuvel {
namespace {

Error concurrent_change() {
  return Error::edit(EditCode::ConcurrentChange, "source changed during access; read and retry");
}

Error repo_changed() { return Error::plain("repo changed during access"); }

bool same_object(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

Result<struct stat> status_of(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Error::os(errno);
  return st;
}

// File capabilities grant privilege as set-user-ID does; the replacement
// would carry them over to new content.
Result<bool> has_capabilities(int fd) {
  if (::fgetxattr(fd, "security.capability", nullptr, 0) >= 0) return true;
  if (errno == ENODATA || errno == ENOTSUP) return false;
  return Error::os(errno);
}

// Refusals that apply only to a file about to be replaced, then the lock.
Status check_editable(const Source& source) {
  const struct stat& st = source.status;
  // Link count 0: the name was moved over or removed since the open.
  if (st.st_nlink == 0) return concurrent_change();
  if (st.st_nlink != 1) return Error::plain("refusing to replace a hard-linked file");
  if ((st.st_mode & 0222) == 0) return Error::plain("source is read-only");
  TUVEL_TRY(const bool privileged, has_capabilities(source.file.get()));
  if ((st.st_mode & 07000) != 0 || privileged) return Error::plain("special permission bits are unsupported");
  if (::flock(source.file.get(), LOCK_EX | LOCK_NB) != 0)
    return Error::edit(EditCode::Busy, "another writer holds the file lock; retry");
  return Ok{};
}

}  // namespace

Source& Source::operator=(Source&& other) noexcept {
  if (this != &other) {
    unlock();
    root = std::move(other.root);
    parent = std::move(other.parent);
    name = std::move(other.name);
    status = other.status;
    root_dir = std::move(other.root_dir);
    parent_dir = std::move(other.parent_dir);
    file = std::move(other.file);
    for_edit = other.for_edit;
  }
  return *this;
}

Source::~Source() {
  unlock();
  root_dir.reset();
  parent_dir.reset();
  file.reset();
}

void Source::unlock() {
  // A failure to release is ignored: closing the file releases it anyway.
  if (for_edit && file.valid()) (void)::flock(file.get(), LOCK_UN);
  for_edit = false;
}

Result<Repo> open_repo(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> canonical(::realpath(path.c_str(), nullptr), &std::free);
  if (!canonical) return Error::os(errno);
  return open_canonical_repo(canonical.get());
}

Result<Repo> open_canonical_repo(std::string canonical) {
  Result<Fd> dir = open_directory_path(canonical);
  if (dir.ok()) return Repo{std::move(canonical), std::move(dir).value()};
  const int err = dir.error().os_errno();
  if (err == ENOTDIR) {
    struct stat st {};
    if (::lstat(canonical.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
      return Error::plain("repo must be a directory");
  }
  // The path had no link when it was resolved: one met now was swapped in.
  if (err == ENOTDIR || err == ELOOP) return repo_changed();
  return dir.error();
}

Result<bool> repo_in_place(const Repo& repo) {
  struct stat entry {};
  if (::lstat(repo.root.c_str(), &entry) != 0) return Error::os(errno);
  TUVEL_TRY(const struct stat handle, status_of(repo.dir.get()));
  return S_ISDIR(entry.st_mode) && same_object(entry, handle);
}

Result<Source> open_source(const Repo& repo, std::string_view path, bool for_edit) {
  TUVEL_TRY(std::vector<std::string> components, split_request_path(path));
  std::string name = std::move(components.back());
  components.pop_back();

  TUVEL_TRY(Fd parent_dir, walk_directories(repo.dir.get(), components));
  TUVEL_CHECK(check_file_name(name));
  int fd;
  do {
    // Non-blocking so that a FIFO or a device cannot hold the open.
    fd = ::openat(parent_dir.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Error::os(errno);

  Source source;
  source.file = Fd(fd);
  TUVEL_TRY(source.status, status_of(source.file.get()));
  if (!S_ISREG(source.status.st_mode)) return Error::plain("source must be a regular file");
  if (for_edit) {
    TUVEL_CHECK(check_editable(source));
    source.for_edit = true;
  }
  TUVEL_TRY(source.root_dir, dup_handle(repo.dir.get()));
  source.root = repo.root;
  source.parent = std::move(components);
  source.name = std::move(name);
  source.parent_dir = std::move(parent_dir);

  TUVEL_CHECK(check_identity(source));
  struct stat st {};
  if (::stat(source.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Error::plain("repo moved during source access");
  return source;
}

Status check_identity(const Source& source) {
  struct stat root_entry {};
  if (::lstat(source.root.c_str(), &root_entry) != 0) return Error::os(errno);
  TUVEL_TRY(const struct stat root_handle, status_of(source.root_dir.get()));
  if (!S_ISDIR(root_entry.st_mode) || !same_object(root_entry, root_handle)) return repo_changed();

  TUVEL_CHECK(confirm_directory(source.root_dir.get(), source.parent, source.parent_dir.get()));

  TUVEL_TRY(const struct stat now, status_of(source.file.get()));
  const struct stat& then = source.status;
  if (!same_object(now, then) || now.st_size != then.st_size || !same_time(now.st_mtim, then.st_mtim) ||
      !same_time(now.st_ctim, then.st_ctim))
    return concurrent_change();
  struct stat entry {};
  if (::fstatat(source.parent_dir.get(), source.name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
    return Error::os(errno);
  if (!S_ISREG(entry.st_mode) || !same_object(entry, now)) return concurrent_change();
  return Ok{};
}

}  // namespace tuvel
