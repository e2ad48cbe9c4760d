// SPDX-License-Identifier: Apache-2.0
#include "source/walk.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tuvel {
namespace {

constexpr int kDirFlags = O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC;

// openat with O_NOFOLLOW | O_DIRECTORY answers ENOTDIR for a link; openat2
// refusing every link answers ELOOP. O_NOFOLLOW is left out there, since it
// would keep the link from being resolved and so from being refused.
int open_dir_no_links(int dir, const char* name) {
  static bool no_openat2 = false;
  if (!no_openat2) {
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    int fd;
    do {
      fd = static_cast<int>(::syscall(SYS_openat2, dir, name, &how, sizeof how));
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0 || errno != ENOSYS) return fd;
    no_openat2 = true;
  }
  int fd;
  do {
    fd = ::openat(dir, name, kDirFlags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOTDIR) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      errno = ELOOP;
    } else {
      errno = ENOTDIR;
    }
  }
  return fd;
}

}  // namespace

Result<Fd> dup_handle(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return Error::os(errno);
  return Fd(copy);
}

Result<Fd> open_directory_at(int dir, const std::string& name) {
  if (name.find('\0') != std::string::npos) return Error::os(EINVAL);
  const int fd = open_dir_no_links(dir, name.c_str());
  if (fd < 0) return Error::os(errno);
  return Fd(fd);
}

Result<Fd> walk_directories(int root, std::span<const std::string> components) {
  TUVEL_TRY(Fd walk, dup_handle(root));
  for (const auto& component : components) {
    TUVEL_TRY(Fd next, open_directory_at(walk.get(), component));
    walk = std::move(next);
  }
  return walk;
}

Status confirm_directory(int root, std::span<const std::string> components, int dir) {
  TUVEL_TRY(const Fd walked, walk_directories(root, components));
  struct stat walked_status {};
  struct stat dir_status {};
  if (::fstat(walked.get(), &walked_status) != 0 || ::fstat(dir, &dir_status) != 0) return Error::os(errno);
  if (walked_status.st_dev != dir_status.st_dev || walked_status.st_ino != dir_status.st_ino)
    return Error::plain("source directory changed during access");
  return Ok{};
}

}  // namespace tuvel
