// SPDX-License-Identifier: Apache-2.0
// stage_new_file: the first half of creating a file: the path and text
// checked, the directories on the way (made with `parents`), and the content
// staged beside the name and flushed, nothing published yet.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.h"
#include "protocol/request.h"
#include "publish/new_name.h"
#include "publish/staging.h"
#include "source/fd.h"
#include "source/source.h"

namespace tuvel {

/// NewFile: a staged new file. Dropping it removes the staging file, then the
/// directories made for it unless they were kept.
struct NewFile {
  std::vector<std::string> components;  ///< the directory's path from the root
  std::string name;
  MadeDirectories made;
  Fd dir;
  std::optional<StagingFile> staging;
  std::optional<std::string> warning;  ///< a failed flush of a directory made
};

/// split_new_path: the components of a path for a file about to be made:
/// the path policy, a file name at the end (no trailing "/"), a UTF-8 name
/// without control characters.
Result<std::vector<std::string>> split_new_path(std::string_view path);

/// stage_new_file: checks, directories and the flushed staging file of a
/// create request. Every refusal that needs no file system comes before any
/// directory is made.
Result<std::unique_ptr<NewFile>> stage_new_file(const Repo& repo, const CreateRequest& request);

/// confirm_new_name: the directory is still the one inside the repository and
/// the name is still free.
Status confirm_new_name(const Repo& repo, const NewFile& file);

}  // namespace tuvel
