// SPDX-License-Identifier: Apache-2.0
#include "publish/publish.h"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "publish/file_ops.h"

namespace tuvel {

namespace {

Error content_changed() { return Error::plain("source content changed during edit"); }

}  // namespace

Result<StagingFile> stage_replacement(const Source& source, std::span<const std::string_view> new_parts) {
  if (!source.for_edit) return Error::plain("publication requires a writer lock");
  TUVEL_TRY(StagingFile staging, reserve_staging(source));
  TUVEL_CHECK(confirm_ownership(staging, source));
  TUVEL_CHECK(fill_staging(staging, source, new_parts));
  // The new content is on stable storage before its name can appear.
  TUVEL_CHECK(full_sync(staging.handle()));
  return staging;
}

Status confirm_revision(Source& source, std::string_view revision) {
  if (::lseek(source.file.get(), 0, SEEK_SET) < 0) return Error::os(errno);
  TUVEL_TRY(const Snapshot again, read_snapshot_and_revision(source));
  if (again.revision != revision) return content_changed();
  return Ok{};
}

Result<std::optional<std::string>> publish(Source& source, std::string_view old_bytes,
                                           std::span<const std::string_view> new_parts) {
  TUVEL_TRY(const StagingFile staging, stage_replacement(source, new_parts));

  // Last look before the switch: same file, same status, same bytes.
  TUVEL_CHECK(check_identity(source));
  if (::lseek(source.file.get(), 0, SEEK_SET) < 0) return Error::os(errno);
  TUVEL_TRY(const bool unchanged, snapshot_matches(source, old_bytes));
  if (!unchanged) return content_changed();

  const int dir = source.parent_dir.get();
  if (::renameat(dir, staging.name().c_str(), dir, source.name.c_str()) != 0) return Error::os(errno);

  // The rename has happened; a refused directory flush only weakens durability.
  std::optional<std::string> warning;
  if (Status flushed = full_sync(dir); !flushed) warning = flushed.error().render();
  return warning;
}

Result<std::optional<std::string>> publish(Source& source, std::string_view old_bytes,
                                           std::string_view new_bytes) {
  return publish(source, old_bytes, std::span<const std::string_view>(&new_bytes, 1));
}

}  // namespace tuvel
