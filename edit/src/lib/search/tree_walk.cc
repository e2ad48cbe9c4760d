// SPDX-License-Identifier: Apache-2.0
#include "search/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "source/path_policy.h"
#include "source/utf8.h"
#include "source/walk.h"

namespace tuvel {
namespace {

constexpr std::string_view kGitignore = ".gitignore";
constexpr std::string_view kIgnore = ".ignore";

/// The text of the ignore file `name` in `dir`; empty when it is missing,
/// a link, not a regular file, unreadable or over the source limit.
std::string ignore_text(int dir, std::string_view name) {
  std::string text;
  const Fd file(::openat(dir, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) return text;
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(MAX_SOURCE_BYTES))
    return text;
  text.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

/// Sorting key order: a directory sorts as its name and a "/", so that a
/// walk in this order yields paths in byte order.
bool entry_before(std::string_view a, bool a_dir, std::string_view b, bool b_dir) {
  const std::size_t common = std::min(a.size(), b.size());
  const int c = std::memcmp(a.data(), b.data(), common);
  if (c != 0) return c < 0;
  if (a.size() == b.size()) return !a_dir && b_dir;
  const auto at = [](std::string_view s, bool dir, std::size_t i) -> unsigned {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : (dir ? unsigned{'/'} : 0U);
  };
  // One is a prefix of the other: the shorter continues with "/" or ends.
  return at(a, a_dir, common) < at(b, b_dir, common);
}

/// RawEntry: a name as the directory gives it, with its type if known.
struct RawEntry {
  std::string name;
  unsigned char type;
};

struct Listing {
  std::vector<RawEntry> entries;
  bool has_gitignore = false;
  bool has_ignore = false;
};

/// The entries of `dir` but ".", "..", ".git", staging files and, unless
/// `hidden`, names with a leading "."; whether it has ignore files.
Status read_directory(int dir, bool hidden, Listing& listing) {
  alignas(8) char buffer[32 * 1024];
  for (;;) {
    const ssize_t got = ::getdents64(dir, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (got == 0) return Ok{};
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      const std::string_view name(entry->d_name);
      if (name == "." || name == ".." || name == ".git") continue;
      if (name == kGitignore) listing.has_gitignore = true;
      if (name == kIgnore) listing.has_ignore = true;
      if (name.front() == '.' && (!hidden || is_staging_name(name))) continue;
      listing.entries.push_back({std::string(name), entry->d_type});
    }
  }
}

}  // namespace

TreeWalk::Level TreeWalk::rules_of(int dir, std::string prefix, bool has_gitignore, bool has_ignore) const {
  Level level{std::move(prefix), {}};
  if (filter_.no_ignore) return level;
  // Later rules win: ".ignore" after ".gitignore".
  if (has_gitignore) level.rules.add_lines(ignore_text(dir, kGitignore));
  if (has_ignore) level.rules.add_lines(ignore_text(dir, kIgnore));
  return level;
}

Result<TreeWalk> TreeWalk::start(const Repo& repo, std::string_view path, WalkFilter filter) {
  TreeWalk walk;
  walk.filter_ = filter;
  TUVEL_TRY(const std::vector<std::string> components, split_directory_path(path));
  // A handle of its own: a duplicate would share the reading position of
  // the repository's handle with every other walk of the root.
  Fd dir(::openat(repo.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return Error::os(errno);
  std::string prefix;
  // The ancestors' rules apply below the start, but not to the start itself.
  for (std::size_t i = 0; i < components.size(); ++i) {
    const std::string& name = components[i];
    if (!filter.no_ignore) walk.levels_.push_back(walk.rules_of(dir.get(), prefix, true, true));
    if (i + 1 == components.size()) {
      struct stat st {};
      if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Error::os(errno);
      if (S_ISLNK(st.st_mode)) return Error::os(ELOOP);
      if (!S_ISDIR(st.st_mode)) {
        TUVEL_CHECK(check_file_name(name));
        if (!S_ISREG(st.st_mode)) return Error::plain("source must be a regular file");
        FileRef file{prefix + name, std::make_shared<const Fd>(std::move(dir)), prefix.size()};
        walk.single_ = std::move(file);
        walk.levels_.clear();
        return walk;
      }
    }
    TUVEL_TRY(Fd next, open_directory_at(dir.get(), name));
    dir = std::move(next);
    prefix += name;
    prefix += '/';
  }
  TUVEL_CHECK(walk.enter(std::move(dir), std::move(prefix)));
  return walk;
}

void TreeWalk::resume(std::string path, bool inclusive) {
  resume_ = std::move(path);
  inclusive_ = inclusive;
}

bool TreeWalk::before_resume(const std::string& path, bool dir) const {
  if (resume_.empty()) return false;
  if (!dir) return path < resume_ || (path == resume_ && !inclusive_);
  // A directory is skipped when every path below it sorts before the point.
  const std::string_view below = std::string_view(path.data(), path.size());  // with its "/"
  return below < std::string_view(resume_) && !std::string_view(resume_).starts_with(below);
}

bool TreeWalk::wanted(const Frame& frame, const std::string& path, std::string_view name, bool dir) const {
  (void)frame;
  for (auto level = levels_.rbegin(); level != levels_.rend(); ++level) {
    if (level->rules.empty()) continue;
    const std::string_view relative = std::string_view(path).substr(level->prefix.size());
    const int index = level->rules.last_match(relative, name, dir);
    if (index >= 0) {
      if (level->rules.rule(index).negated) break;
      return false;
    }
  }
  return filter_.globs == nullptr || filter_.globs->judge(path, name, dir) != Verdict::Skip;
}

// Reads the directory `dir` (its path is `prefix`) and pushes its frame with
// the entries the walk will visit, sorted.
Status TreeWalk::enter(Fd dir, std::string prefix) {
  Listing listing;
  TUVEL_CHECK(read_directory(dir.get(), filter_.hidden, listing));
  std::vector<RawEntry>& raw = listing.entries;
  const bool has_gitignore = listing.has_gitignore;
  const bool has_ignore = listing.has_ignore;
  levels_.push_back(rules_of(dir.get(), prefix, has_gitignore, has_ignore));

  Frame frame{std::make_shared<const Fd>(std::move(dir)), std::move(prefix), {}, 0};
  std::string path;
  for (RawEntry& entry : raw) {
    unsigned char type = entry.type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(frame.dir->get(), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type != DT_DIR && type != DT_REG) continue;
    const bool is_dir = type == DT_DIR;
    if (find_utf8_error(entry.name)) continue;
    path.assign(frame.prefix).append(entry.name);
    if (path.size() > MAX_PATH_BYTES) continue;
    if (!wanted(frame, path, entry.name, is_dir)) continue;
    if (is_dir) path += '/';
    if (before_resume(path, is_dir)) continue;
    frame.entries.push_back({std::move(entry.name), is_dir});
  }
  std::sort(frame.entries.begin(), frame.entries.end(),
            [](const Entry& a, const Entry& b) { return entry_before(a.name, a.dir, b.name, b.dir); });
  frames_.push_back(std::move(frame));
  return Ok{};
}

std::optional<FileRef> TreeWalk::next() {
  if (single_) {
    std::optional<FileRef> file = std::move(single_);
    single_.reset();
    if (before_resume(file->path, false)) return std::nullopt;
    return file;
  }
  while (!frames_.empty()) {
    Frame& frame = frames_.back();
    if (frame.next == frame.entries.size()) {
      frames_.pop_back();
      levels_.pop_back();
      continue;
    }
    Entry& entry = frame.entries[frame.next++];
    // Checked here as well as when the directory was read: the start's
    // entries were read before the walk was told where to resume.
    if (!entry.dir) {
      std::string path = frame.prefix + entry.name;
      if (before_resume(path, false)) continue;
      return FileRef{std::move(path), frame.dir, frame.prefix.size()};
    }
    std::string prefix = frame.prefix + entry.name + "/";
    if (before_resume(prefix, true)) continue;
    Result<Fd> dir = open_directory_at(frame.dir->get(), entry.name);
    // A directory removed, replaced (by a link, too) or closed to us is
    // counted and passed over; nothing below it is reached.
    if (!dir.ok() || !enter(std::move(dir).value(), std::move(prefix)).ok()) ++unreadable_;
  }
  return std::nullopt;
}

}  // namespace tuvel
