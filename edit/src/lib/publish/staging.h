// SPDX-License-Identifier: Apache-2.0
// StagingFile: the file next to a source that receives the new content before
// it is renamed over the source; reserved by exclusive create, removed when
// dropped.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "error/error.h"
#include "source/fd.h"
#include "source/source.h"

namespace tuvel {

inline constexpr int MAX_STAGING_ATTEMPTS = 32;

/// staging_counter: numbers every staging name tried by this process.
extern std::atomic<std::uint64_t> staging_counter;

/// StagingFile: ".tuvel-edit-{pid}-{n}" in the source's directory. Dropping it
/// closes the handle and unlinks the name, ignoring failure; after a rename
/// the unlink finds nothing.
class StagingFile {
 public:
  StagingFile(int dir, std::string name, Fd handle);
  StagingFile(StagingFile&& other) noexcept;
  StagingFile& operator=(StagingFile&&) = delete;
  StagingFile(const StagingFile&) = delete;
  StagingFile& operator=(const StagingFile&) = delete;
  ~StagingFile();

  const std::string& name() const { return name_; }
  /// keep: the name is left in place when dropped (a committed change set
  /// whose journal still names it).
  void keep() { dir_ = -1; }
  int handle() const { return handle_.get(); }

 private:
  int dir_;  ///< borrowed from the Source; -1 once moved from
  std::string name_;
  Fd handle_;
};

/// reserve_staging: creates the next free staging name in `source.parent_dir`
/// (write-only, mode 0600), trying at most MAX_STAGING_ATTEMPTS names.
Result<StagingFile> reserve_staging(const Source& source);
/// reserve_staging_in: the same in the directory `dir` (borrowed: it must
/// outlive the StagingFile), created with `mode` (before the umask or the
/// directory's default ACL).
Result<StagingFile> reserve_staging_in(int dir, mode_t mode);
/// confirm_ownership: the staging file must have the source's owner and group,
/// or the replacement would change them.
Status confirm_ownership(const StagingFile& staging, const Source& source);
/// fill_staging: writes the parts of the new content in order, then copies
/// the source's permission bits, ACL and extended attributes onto the
/// staging file.
Status fill_staging(StagingFile& staging, const Source& source, std::span<const std::string_view> parts);
/// write_staging: writes all of `bytes` to the staging file.
Status write_staging(const StagingFile& staging, std::string_view bytes);
/// set_staging_mode: gives the staging file the permission bits `mode`.
Status set_staging_mode(const StagingFile& staging, mode_t mode);

}  // namespace tuvel
