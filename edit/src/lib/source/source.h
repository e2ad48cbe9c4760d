// SPDX-License-Identifier: Apache-2.0
// Confined access to source files: the repository handle, the path policy,
// the confined walk, identity checks against concurrent change, snapshots and
// revisions.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "source/fd.h"
#include "source/text_buffer.h"

namespace tuvel {

inline constexpr std::size_t MAX_PATH_BYTES = 4096;
inline constexpr std::size_t MAX_SOURCE_BYTES = std::size_t{16} * 1024 * 1024;

/// Repo: the open repository of one request (tuvel-edit) or of a whole
/// session (tuvel-mcp).
struct Repo {
  std::string root;  ///< canonical absolute path, links resolved
  Fd dir;            ///< read-only, close-on-exec handle of `root`
};

/// Source: one confined, open source file. For edit it holds the writer lock
/// on `file`, released before the handles close.
class Source {
 public:
  Source() = default;
  Source(Source&&) noexcept = default;
  Source& operator=(Source&&) noexcept;
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source();

  std::string root;
  std::vector<std::string> parent;  ///< components of the path before `name`
  std::string name;
  struct stat status {};
  Fd root_dir;
  Fd parent_dir;
  Fd file;
  bool for_edit = false;

 private:
  void unlock();
};

/// open_repo: canonicalises the repository path and opens that directory
/// (open_canonical_repo).
Result<Repo> open_repo(const std::string& path);
/// open_canonical_repo: opens the directory at `canonical`, an absolute path
/// already resolved, following no symbolic link at any level: a link met
/// there was swapped in since, "repo changed during access".
Result<Repo> open_canonical_repo(std::string canonical);
/// repo_in_place: whether `repo.root` still names the directory of `repo.dir`
/// (a directory, not a link, with the same device and inode).
Result<bool> repo_in_place(const Repo& repo);
/// open_source: policy, confined walk, open, edit checks and writer lock.
Result<Source> open_source(const Repo& repo, std::string_view path, bool for_edit);
/// check_identity: repository, containing directory and file still the ones opened.
Status check_identity(const Source& source);
/// Snapshot: the content of a source, its revision and its line feed count,
/// all found in the one pass that reads it.
struct Snapshot {
  TextBuffer text;
  std::string revision;         ///< revision(text)
  std::uint64_t line_feeds = 0;  ///< line feed bytes in `text`
};

/// read_snapshot: the whole content (<= 16 MiB, no NUL, UTF-8) from the current offset.
Result<std::string> read_snapshot(Source& source);
/// snapshot_matches: read_snapshot compared with `expected`, an earlier
/// snapshot, while it is read: true when the content is exactly `expected`.
/// Its failures are read_snapshot's; matching bytes are not kept.
Result<bool> snapshot_matches(Source& source, std::string_view expected);
/// read_snapshot_and_revision: read_snapshot with the revision and line feed
/// count of its content.
Result<Snapshot> read_snapshot_and_revision(Source& source);
/// revision: BLAKE3 digest of `bytes` as 64 lowercase hex digits.
std::string revision(std::string_view bytes);
/// The revision of the text that `parts` make up in order.
std::string revision(std::span<const std::string_view> parts);

}  // namespace tuvel
