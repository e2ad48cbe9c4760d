// SPDX-License-Identifier: Apache-2.0
#include "publish/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "publish/file_ops.h"
#include "publish/new_name.h"
#include "publish/staging.h"
#include "source/walk.h"

namespace tuvel {
namespace {

constexpr std::string_view kHeader = "tuvel-edit journal 1\n";
constexpr std::string_view kTrailer = "end\n";
// 64 steps of four paths of at most 4096 bytes stay far below this.
constexpr std::size_t kMaxJournalBytes = std::size_t{4} * 1024 * 1024;

// A pointer, not a string object: operations may run before this file's
// static objects are made. The literal behind JOURNAL_NAME ends with a NUL.
constexpr const char* kJournal = JOURNAL_NAME.data();

// Fields end with a NUL, which no path holds; a step ends with a line feed.
std::string encode(std::span<const Step> steps) {
  std::string text(kHeader);
  for (const Step& step : steps) {
    text += static_cast<char>(step.kind);
    text += '\0';
    text += std::to_string(step.inode);
    text += '\0';
    for (const std::string* field : {&step.from_dir, &step.from_name, &step.to_dir, &step.to_name}) {
      text += *field;
      text += '\0';
    }
    text += '\n';
  }
  text += kTrailer;
  return text;
}

Error damaged() { return Error::plain("change set journal is damaged"); }

// The next NUL-terminated field of `text` from `at`.
bool field(std::string_view text, std::size_t& at, std::string_view& out) {
  const std::size_t end = text.find('\0', at);
  if (end == std::string_view::npos) return false;
  out = text.substr(at, end - at);
  at = end + 1;
  return true;
}

Result<std::vector<Step>> decode(std::string_view text) {
  if (!text.starts_with(kHeader) || !text.ends_with(kTrailer)) return damaged();
  text = text.substr(kHeader.size(), text.size() - kHeader.size() - kTrailer.size());
  std::vector<Step> steps;
  std::size_t at = 0;
  while (at < text.size()) {
    std::string_view kind;
    std::string_view inode;
    std::string_view paths[4];
    if (!field(text, at, kind) || !field(text, at, inode)) return damaged();
    for (std::string_view& path : paths) {
      if (!field(text, at, path)) return damaged();
    }
    if (kind.size() != 1 || at >= text.size() || text[at] != '\n') return damaged();
    ++at;
    Step step;
    step.kind = static_cast<Step::Kind>(kind[0]);
    if (step.kind != Step::Kind::Replace && step.kind != Step::Kind::Create && step.kind != Step::Kind::Move &&
        step.kind != Step::Kind::Remove)
      return damaged();
    const auto [end, ec] = std::from_chars(inode.data(), inode.data() + inode.size(), step.inode);
    if (ec != std::errc() || end != inode.data() + inode.size()) return damaged();
    step.from_dir = paths[0];
    step.from_name = paths[1];
    step.to_dir = paths[2];
    step.to_name = paths[3];
    if (step.from_name.empty() || (step.kind != Step::Kind::Remove && step.to_name.empty())) return damaged();
    steps.push_back(std::move(step));
  }
  return steps;
}

std::vector<std::string> components_of(std::string_view dir) {
  std::vector<std::string> components;
  while (!dir.empty()) {
    const std::size_t slash = dir.find('/');
    components.emplace_back(dir.substr(0, slash));
    if (slash == std::string_view::npos) break;
    dir.remove_prefix(slash + 1);
  }
  return components;
}

Result<std::string> read_journal(int fd) {
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (got == 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxJournalBytes) return damaged();
  }
}

// One step of a set whose owner is gone: done only while the file it moves
// is still where the step found it, so a step done already is not done again.
Status roll_forward(const Repo& repo, const Step& step, DirectoryFlushes& flushed) {
  Result<Fd> from = walk_directories(repo.dir.get(), components_of(step.from_dir));
  if (!from.ok()) return Ok{};
  struct stat st {};
  if (::fstatat(from->get(), step.from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Ok{};
    return Error::os(errno);
  }
  if (!S_ISREG(st.st_mode) || st.st_ino != step.inode) return Ok{};
  Fd to;
  if (step.kind != Step::Kind::Remove) {
    Result<Fd> walked = walk_directories(repo.dir.get(), components_of(step.to_dir));
    if (!walked.ok()) return Ok{};
    to = std::move(walked).value();
  }
  Status done = run_step(step, from->get(), to.valid() ? to.get() : from->get());
  if (!done && done.error().os_errno() == EEXIST) {
    // Someone else took the name meanwhile; a staged new file is dropped, a
    // moved file stays where it was.
    if (step.kind == Step::Kind::Create) (void)::unlinkat(from->get(), step.from_name.c_str(), 0);
    done = Ok{};
  }
  if (!done) return done;
  if (to.valid()) flushed.add(to.get());
  flushed.add(from->get());
  return Ok{};
}

}  // namespace

void DirectoryFlushes::add(int dir) {
  struct stat st {};
  if (::fstat(dir, &st) != 0) return;
  for (const Entry& entry : dirs_) {
    if (entry.dev == st.st_dev && entry.ino == st.st_ino) return;
  }
  Result<Fd> copy = dup_handle(dir);
  if (copy.ok()) dirs_.push_back(Entry{std::move(copy).value(), st.st_dev, st.st_ino});
}

void DirectoryFlushes::flush(std::optional<std::string>& warning) const {
  for (const Entry& entry : dirs_) {
    if (Status flushed = full_sync(entry.dir.get()); !flushed && !warning) warning = flushed.error().render();
  }
}

Result<CommitLock> try_commit_lock(const Repo& repo) {
  const int fd = ::openat(repo.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Error::os(errno);
  Fd dir(fd);
  while (::flock(dir.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return CommitLock(Fd());
    if (errno != EINTR) return Error::os(errno);
  }
  return CommitLock(std::move(dir));
}

Status run_step(const Step& step, int from, int to) {
  switch (step.kind) {
    case Step::Kind::Replace:
      if (::renameat(from, step.from_name.c_str(), to, step.to_name.c_str()) != 0) return Error::os(errno);
      return Ok{};
    case Step::Kind::Create:
    case Step::Kind::Move:
      return rename_no_replace(from, step.from_name, to, step.to_name);
    case Step::Kind::Remove:
      if (::unlinkat(from, step.from_name.c_str(), 0) != 0) return Error::os(errno);
      return Ok{};
  }
  return Error::os(EINVAL);
}

Status write_journal(const Repo& repo, std::span<const Step> steps, std::optional<std::string>& warning) {
  const int root = repo.dir.get();
  TUVEL_TRY(const StagingFile staging, reserve_staging_in(root, 0600));
  TUVEL_CHECK(write_staging(staging, encode(steps)));
  TUVEL_CHECK(full_sync(staging.handle()));
  TUVEL_CHECK(rename_no_replace(root, staging.name(), root, std::string(JOURNAL_NAME)));
  if (Status flushed = full_sync(root); !flushed && !warning) warning = flushed.error().render();
  return Ok{};
}

void finish_journal(const Repo& repo, std::optional<std::string>& warning) {
  (void)::unlinkat(repo.dir.get(), kJournal, 0);
  // Gone for good, so a later crash cannot bring back steps done long ago.
  if (Status flushed = full_sync(repo.dir.get()); !flushed && !warning) warning = flushed.error().render();
}

Status recover_locked(const Repo& repo) {
  const int fd = ::openat(repo.dir.get(), kJournal, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Status(Ok{}) : Status(Error::os(errno));
  const Fd journal(fd);
  TUVEL_TRY(const std::string text, read_journal(journal.get()));
  TUVEL_TRY(const std::vector<Step> steps, decode(text));
  DirectoryFlushes flushes;
  for (const Step& step : steps) TUVEL_CHECK(roll_forward(repo, step, flushes));
  // Nobody is told of a weaker durability here; the next flush of these
  // directories makes up for it.
  std::optional<std::string> ignored;
  flushes.flush(ignored);
  finish_journal(repo, ignored);
  return Ok{};
}

Status recover(const Repo& repo) {
  struct stat st {};
  if (::fstatat(repo.dir.get(), kJournal, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Status(Ok{}) : Status(Error::os(errno));
  }
  TUVEL_TRY(const CommitLock lock, try_commit_lock(repo));
  // Held elsewhere: a set is publishing, or another process recovers it.
  if (!lock.held()) return Ok{};
  return recover_locked(repo);
}

}  // namespace tuvel
