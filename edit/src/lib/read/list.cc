// SPDX-License-Identifier: Apache-2.0
#include "read/list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <iterator>
#include <map>
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

// Names no request could name.
bool hidden(std::string_view name) {
  return name == "." || name == ".." || name == ".git" || is_staging_name(name) || find_utf8_error(name).has_value();
}

struct CloseDir {
  void operator()(DIR* stream) const { (void)::closedir(stream); }
};

std::size_t decimal_digits(std::uint64_t n) {
  std::size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

// Compact lengths of the parts of the "data" value.
constexpr std::size_t kFixed = std::string_view(R"({"entries":[],"next":,"path":,"truncated":})").size();
constexpr std::size_t kEntryFixed = std::string_view(R"({"kind":"","name":""})").size();
constexpr std::size_t kSizeKey = std::string_view(R"(,"size":)").size();
// "next":null,"truncated":false ends the last page.
constexpr std::size_t kLastPageTail = std::string_view("nullfalse").size();
// Any other page ends "next":"<name>","truncated":true, at least this long.
constexpr std::size_t kShortestTail = std::string_view(R"("x"true)").size();

struct Shown {
  std::string_view kind;
  std::uint64_t size = 0;
  std::size_t cost = 0;  ///< the entry's compact length and its comma
};

std::size_t tail_length(const std::string& last) { return json_string_body_length(last) + 2 + 4; }

// One page: the smallest visible names after the cursor whose entries fit
// the budget. The directory is read once; only the page is held, and an
// entry is looked at only if it can still enter the page.
class Page {
 public:
  explicit Page(std::size_t budget) : budget_(budget) {}

  /// offer: `name` comes next in directory order.
  Status offer(int dir, const std::string& name) {
    if (more_ && !shown_.empty() && name > shown_.rbegin()->first) return Ok{};
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return Ok{};  // removed since it was read
      return Error::os(errno);
    }
    Shown entry;
    entry.kind = "other";
    if (S_ISREG(st.st_mode)) {
      entry.kind = "file";
      entry.size = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISDIR(st.st_mode)) {
      entry.kind = "directory";
    } else if (S_ISLNK(st.st_mode)) {
      entry.kind = "symlink";
    }
    entry.cost = 1 + kEntryFixed + entry.kind.size() + json_string_body_length(name);
    if (entry.kind == "file") entry.cost += kSizeKey + decimal_digits(entry.size);
    used_ += entry.cost;
    shown_.emplace(name, entry);
    // Every page ends with at least the shortest tail.
    while (used_ + kShortestTail > budget_) drop_last();
    return Ok{};
  }

  /// finish: the page as it is answered, ended by its own tail.
  Json finish(const std::string& path) && {
    for (;;) {
      if (!more_ && used_ + kLastPageTail <= budget_) break;
      if (more_ && (shown_.empty() || used_ + tail_length(shown_.rbegin()->first) <= budget_)) break;
      drop_last();
    }
    JsonArray entries;
    entries.reserve(shown_.size());
    for (auto& [name, shown] : shown_) {
      JsonObject entry{{"kind", Json(shown.kind)}, {"name", Json(name)}};
      if (shown.kind == "file") entry.emplace("size", Json(shown.size));
      entries.emplace_back(std::move(entry));
    }
    const bool more = more_ && !shown_.empty();
    Json next = more ? Json(shown_.rbegin()->first) : Json(nullptr);
    JsonObject data{{"entries", Json(std::move(entries))},
                    {"next", std::move(next)},
                    {"path", Json(path)},
                    {"truncated", Json(more)}};
    return Json(std::move(data));
  }

 private:
  void drop_last() {
    const auto last = std::prev(shown_.end());
    used_ -= last->second.cost;
    shown_.erase(last);
    more_ = true;
  }

  std::size_t budget_;  ///< for the entries with one comma each, and the tail
  std::size_t used_ = 0;
  bool more_ = false;  ///< a visible name after the page was left out
  std::map<std::string, Shown> shown_;
};

}  // namespace

Result<Json> list_directory(const Repo& repo, const ListRequest& request) {
  std::vector<std::string> components;
  if (request.path) {
    TUVEL_TRY(components, split_directory_path(*request.path));
  }
  TUVEL_TRY(const Fd dir, walk_directories(repo.dir.get(), components));
  TUVEL_TRY(Fd names_dir, dup_handle(dir.get()));
  const std::unique_ptr<DIR, CloseDir> stream(::fdopendir(names_dir.get()));
  if (!stream) return Error::os(errno);
  (void)names_dir.release();

  const std::string path = request.path ? *request.path : std::string(".");
  // The commas count one per entry, one more than there are.
  Page page(READ_OUTPUT_LIMIT + 1 - kFixed - json_string_body_length(path) - 2);
  for (;;) {
    errno = 0;
    // readdir_r is deprecated; readdir of a stream no other thread sees is safe.
    // cppcheck-suppress readdirCalled
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return Error::os(errno);
      break;
    }
    const std::string_view name = entry->d_name;
    if (hidden(name) || (request.cursor && name <= *request.cursor)) continue;
    TUVEL_CHECK(page.offer(dir.get(), std::string(name)));
  }
  return std::move(page).finish(path);
}

}  // namespace tuvel
