// SPDX-License-Identifier: Apache-2.0
// Giving a file a name that does not exist yet: the directories on the way
// (made when asked, and removed again when nothing is published), the check
// that the name is free, and the rename that never replaces.
#pragma once

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "error/error.h"
#include "source/fd.h"

namespace tuvel {

/// MadeDirectories: directories made for one operation, removed again,
/// deepest first, when it is dropped before keep(): a failed operation
/// leaves the tree as it was. Each is removed only while it is still the
/// directory made and empty.
class MadeDirectories {
 public:
  MadeDirectories() = default;
  MadeDirectories(MadeDirectories&&) noexcept = default;
  MadeDirectories& operator=(MadeDirectories&&) = delete;
  MadeDirectories(const MadeDirectories&) = delete;
  MadeDirectories& operator=(const MadeDirectories&) = delete;
  ~MadeDirectories();

  /// add: `name` under `parent` was made here.
  Status add(int parent, const std::string& name);
  /// keep: the operation published; the directories stay.
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

/// make_directories: the directory through `components` under `root`,
/// making the missing ones (recorded in `made`, each parent flushed; the
/// first failed flush becomes `warning`). Every directory is opened under
/// the no-link rules of the walk.
Result<Fd> make_directories(int root, std::span<const std::string> components, MadeDirectories& made,
                            std::optional<std::string>& warning);

/// refuse_existing: EEXIST when anything bears `name` in `dir`.
Status refuse_existing(int dir, const std::string& name);

/// rename_no_replace: `from` in `from_dir` takes the name `to` in `to_dir`
/// only if nothing bears it (EEXIST otherwise). Where the file system lacks
/// RENAME_NOREPLACE, a hard link refuses an existing name just as
/// atomically, and the old name is removed after it.
Status rename_no_replace(int from_dir, const std::string& from, int to_dir, const std::string& to);

}  // namespace tuvel
