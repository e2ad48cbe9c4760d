// SPDX-License-Identifier: Apache-2.0
#include "read/list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "read/read_files.h"
#include "source/path_policy.h"
#include "source/utf8.h"
#include "source/walk.h"

namespace tuvel {
namespace {

bool hidden(std::string_view name) {
  // The staging files that publication leaves for a moment beside a file.
  constexpr std::string_view kStagingPrefix = ".tuvel-edit-";
  return name == "." || name == ".." || name == ".git" || name.starts_with(kStagingPrefix) ||
         find_utf8_error(name).has_value();
}

struct CloseDir {
  void operator()(DIR* stream) const { (void)::closedir(stream); }
};

// The names of the directory `dir` (consumed) that a listing may show.
Result<std::vector<std::string>> entry_names(Fd dir) {
  const std::unique_ptr<DIR, CloseDir> stream(::fdopendir(dir.get()));
  if (!stream) return Error::os(errno);
  (void)dir.release();
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    // readdir_r is deprecated; readdir of a stream no other thread sees is safe.
    // cppcheck-suppress readdirCalled
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return Error::os(errno);
      break;
    }
    if (!hidden(entry->d_name)) names.emplace_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t decimal_digits(std::uint64_t n) {
  std::size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

// Compact lengths of the parts of the "data" value.
constexpr std::size_t kObjectOpen = std::string_view(R"({"entries":[)").size();
constexpr std::size_t kPathKey = std::string_view(R"(],"path":)").size();
constexpr std::size_t kTruncatedKey = std::string_view(R"(,"truncated":)").size();
constexpr std::size_t kEntryFixed = std::string_view(R"({"kind":"","name":""})").size();
constexpr std::size_t kSizeKey = std::string_view(R"(,"size":)").size();

}  // namespace

Result<Json> list_directory(const Repo& repo, const ListRequest& request) {
  std::vector<std::string> components;
  if (request.path) {
    TUVEL_TRY(components, split_request_path(*request.path));
  }
  TUVEL_TRY(Fd dir, walk_directories(repo.dir.get(), components));
  TUVEL_TRY(Fd names_dir, dup_handle(dir.get()));
  TUVEL_TRY(const std::vector<std::string> names, entry_names(std::move(names_dir)));

  const std::string path = request.path ? *request.path : std::string(".");
  // With "truncated": true, one byte shorter than with false.
  const std::size_t fixed = kObjectOpen + kPathKey + 2 + json_string_body_length(path) + kTruncatedKey + 1;
  std::size_t used = fixed;
  JsonArray entries;
  bool truncated = false;
  for (const std::string& name : names) {
    struct stat st {};
    if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed since it was read
      return Error::os(errno);
    }
    std::string_view kind = "other";
    if (S_ISREG(st.st_mode)) {
      kind = "file";
    } else if (S_ISDIR(st.st_mode)) {
      kind = "directory";
    } else if (S_ISLNK(st.st_mode)) {
      kind = "symlink";
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::size_t length = (entries.empty() ? 0 : 1) + kEntryFixed + kind.size() + json_string_body_length(name);
    if (kind == "file") length += kSizeKey + decimal_digits(size);
    if (used + length + 4 > READ_OUTPUT_LIMIT) {
      truncated = true;
      break;
    }
    used += length;
    JsonObject entry{{"kind", Json(kind)}, {"name", Json(name)}};
    if (kind == "file") entry.emplace("size", Json(size));
    entries.emplace_back(std::move(entry));
  }
  // Everything fitted with "true" but not with "false": the last entry goes.
  if (!truncated && used + 5 > READ_OUTPUT_LIMIT) {
    entries.pop_back();
    truncated = true;
  }

  JsonObject data{{"entries", Json(std::move(entries))}, {"path", Json(path)}, {"truncated", Json(truncated)}};
  return Json(std::move(data));
}

}  // namespace tuvel
