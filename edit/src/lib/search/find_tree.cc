// SPDX-License-Identifier: Apache-2.0
#include "search/find_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "read/read_files.h"
#include "search/paging.h"
#include "search/rules.h"
#include "search/tree_walk.h"

namespace tuvel {
namespace {

constexpr std::size_t length(std::string_view text) { return text.size(); }

constexpr std::size_t kHead = length(R"({"files":[)");
constexpr std::size_t kTail = length(R"(],"next":,"truncated":false})");
constexpr std::size_t kFile = length(R"({"path":,"size":})");

}  // namespace

Result<Json> find_tree(const Repo& repo, const FindRequest& request) {
  if (request.pattern.size() > MAX_PATH_BYTES) return Error::plain("pattern exceeds 4096 bytes");
  TUVEL_CHECK(check_max_results(request.max_results));
  GlobFilter globs;
  TUVEL_CHECK(globs.add(request.pattern));
  std::optional<Cursor> cursor;
  if (request.cursor) {
    TUVEL_TRY(cursor, parse_cursor(*request.cursor, false));
  }
  TUVEL_TRY(TreeWalk walk,
            TreeWalk::start(repo, request.path.value_or(""), WalkFilter{request.hidden, request.no_ignore, &globs}));
  if (cursor) walk.resume(cursor->path, false);

  JsonArray files;
  std::size_t used = kHead + kTail;
  std::string last;
  std::optional<std::string> next;
  while (std::optional<FileRef> file = walk.next()) {
    // The size as the entry has it now; gone or no longer a regular file: left out.
    struct stat st {};
    if (::fstatat(file->dir->get(), file->name(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (files.size() == request.max_results) {
      next = last;
      break;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const std::size_t cost = (files.empty() ? 0 : 1) + kFile + quoted_length(file->path) + decimal_digits(size);
    if (used + cost + std::max<std::size_t>(quoted_length(file->path), 4) > READ_OUTPUT_LIMIT) {
      next = last;
      break;
    }
    used += cost;
    last = file->path;
    JsonObject entry;
    entry.emplace("path", Json(std::move(file->path)));
    entry.emplace("size", Json(size));
    files.emplace_back(std::move(entry));
  }
  return Json(JsonObject{{"files", Json(std::move(files))},
                         {"next", next ? Json(std::move(*next)) : Json(nullptr)},
                         {"truncated", Json(next.has_value())}});
}

}  // namespace tuvel
