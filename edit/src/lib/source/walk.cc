// SPDX-License-Identifier: Apache-2.0
#include "source/walk.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace tuvel {
namespace {

constexpr int kDirFlags = O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC;

// Set once openat2 answered ENOSYS: the kernel lacks it.
bool g_no_openat2 = false;

// openat with O_NOFOLLOW | O_DIRECTORY answers ENOTDIR for a link; openat2
// refusing every link answers ELOOP. O_NOFOLLOW is left out there, since it
// would keep the link from being resolved and so from being refused.
int openat2_no_links(int dir, const char* name) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  int fd;
  do {
    fd = static_cast<int>(::syscall(SYS_openat2, dir, name, &how, sizeof how));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ENOSYS) g_no_openat2 = true;
  return fd;
}

int open_dir_no_links(int dir, const char* name) {
  if (!g_no_openat2) {
    const int fd = openat2_no_links(dir, name);
    if (fd >= 0 || errno != ENOSYS) return fd;
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
  // A handle of its own, not a duplicate: a duplicate shares the reading
  // position, so a listing of the root would leave a session's handle of
  // the repository at its end for the next listing.
  Fd walk(::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!walk.valid()) return Error::os(errno);
  for (const auto& component : components) {
    TUVEL_TRY(Fd next, open_directory_at(walk.get(), component));
    walk = std::move(next);
  }
  return walk;
}

Result<Fd> open_directory_path(const std::string& path) {
  if (path.empty() || path.front() != '/') return Error::os(EINVAL);
  if (path.find('\0') != std::string::npos) return Error::os(EINVAL);
  if (!g_no_openat2) {
    const int fd = openat2_no_links(AT_FDCWD, path.c_str());
    if (fd >= 0) return Fd(fd);
    if (errno != ENOSYS) return Error::os(errno);
  }
  std::vector<std::string> components;
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    if (end > at) components.emplace_back(path, at, end - at);
    at = end + 1;
  }
  int fd;
  do {
    fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Error::os(errno);
  const Fd root(fd);
  return walk_directories(root.get(), components);
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
