// SPDX-License-Identifier: Apache-2.0
#include "publish/staging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "publish/file_ops.h"

namespace tuvel {

std::atomic<std::uint64_t> staging_counter{0};

StagingFile::StagingFile(int dir, std::string name, Fd handle)
    : dir_(dir), name_(std::move(name)), handle_(std::move(handle)) {}

StagingFile::StagingFile(StagingFile&& other) noexcept
    : dir_(std::exchange(other.dir_, -1)), name_(std::move(other.name_)), handle_(std::move(other.handle_)) {}

StagingFile::~StagingFile() {
  handle_.reset();
  if (dir_ >= 0) (void)::unlinkat(dir_, name_.c_str(), 0);
}

Result<StagingFile> reserve_staging(const Source& source) { return reserve_staging_in(source.parent_dir.get(), 0600); }

Result<StagingFile> reserve_staging_in(int dir, mode_t mode) {
  const std::string prefix = ".tuvel-edit-" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < MAX_STAGING_ATTEMPTS; ++attempt) {
    std::string name = prefix + std::to_string(staging_counter.fetch_add(1));
    int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return StagingFile(dir, std::move(name), Fd(fd));
    if (errno != EEXIST) return Error::os(errno);
  }
  return Error::plain("could not reserve a staging file");
}

Status confirm_ownership(const StagingFile& staging, const Source& source) {
  struct stat st {};
  if (::fstat(staging.handle(), &st) != 0) return Error::os(errno);
  if (st.st_uid != source.status.st_uid || st.st_gid != source.status.st_gid)
    return Error::plain("atomic replacement would change source ownership");
  return {};
}

namespace {

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (n == 0) return Error::plain("failed to write whole buffer");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace

Status write_staging(const StagingFile& staging, std::string_view bytes) { return write_all(staging.handle(), bytes); }

Status set_staging_mode(const StagingFile& staging, mode_t mode) {
  while (::fchmod(staging.handle(), mode) != 0) {
    if (errno != EINTR) return Error::os(errno);
  }
  return Ok{};
}

Status fill_staging(StagingFile& staging, const Source& source, std::span<const std::string_view> parts) {
  for (const std::string_view part : parts) TUVEL_CHECK(write_all(staging.handle(), part));
  TUVEL_CHECK(set_staging_mode(staging, source.status.st_mode & 07777));
  return copy_acl_and_xattrs(source.file.get(), staging.handle());
}

}  // namespace tuvel
