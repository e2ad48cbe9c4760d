// SPDX-License-Identifier: Apache-2.0
#include "changes/change_set.h"

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/run_edit.h"
#include "publish/journal.h"
#include "publish/new_file.h"
#include "publish/new_name.h"
#include "publish/publish.h"
#include "publish/staging.h"
#include "source/path_policy.h"
#include "source/walk.h"

namespace tuvel {
namespace {

/// Prepared: one change checked and staged, nothing published. Dropped
/// before publication, it removes its staging file, then the directories
/// made for it, and releases its writer lock.
struct Prepared {
  std::string path;     ///< as given (a move's `from`)
  std::string to_path;  ///< a move's `to`
  std::string revision;        ///< what the file has now (edit, move, remove)
  std::string revision_after;  ///< of the new content (edit, create, move)
  bool removes = false;
  std::optional<std::string> warning;  ///< a failed flush of a directory made
  MadeDirectories made;                ///< for a move with `parents`
  std::optional<Source> source;        ///< edit, move, remove
  std::vector<std::string> to_components;
  std::string to_name;
  Fd to_dir;                          ///< a move's target directory
  std::unique_ptr<NewFile> created;   ///< create
  std::optional<StagingFile> staging; ///< an edit that changes the file; dropped first
};

std::string joined(std::span<const std::string> components) {
  std::string path;
  for (const std::string& component : components) {
    if (!path.empty()) path += '/';
    path += component;
  }
  return path;
}

/// The name a path stands for, once the policy has dropped empty and "."
/// components: two spellings of one name are one name.
Result<std::string> name_key(std::string_view path) {
  TUVEL_TRY(const std::vector<std::string> components, split_request_path(path));
  return joined(components);
}

/// The file at `revision` now, opened for edit (writer lock held).
Result<Source> open_at_revision(const Repo& repo, std::string_view path, const std::string& revision) {
  TUVEL_CHECK(check_revision_shape(revision));
  TUVEL_TRY(Source source, open_source(repo, path, true));
  TUVEL_TRY(const Snapshot read, read_snapshot_and_revision(source));
  if (read.revision != revision) return stale_revision(read.revision);
  return source;
}

Result<std::unique_ptr<Prepared>> prepare(const Repo& repo, const EditRequest& request) {
  auto prepared = std::make_unique<Prepared>();
  prepared->path = request.path;
  TUVEL_TRY(const std::unique_ptr<EditPlan> plan, plan_edit(repo, request, true));
  prepared->revision = plan->read.revision;
  prepared->revision_after = plan->revision_after;
  if (plan->changed) {
    TUVEL_TRY(StagingFile staging, stage_replacement(plan->source, plan->content.parts));
    prepared->staging.emplace(std::move(staging));
  }
  // The staging file borrows the directory handle, which moves with the Source.
  prepared->source.emplace(std::move(plan->source));
  return prepared;
}

Result<std::unique_ptr<Prepared>> prepare(const Repo& repo, const CreateRequest& request) {
  auto prepared = std::make_unique<Prepared>();
  prepared->path = request.path;
  TUVEL_TRY(prepared->created, stage_new_file(repo, request));
  prepared->warning = prepared->created->warning;
  prepared->revision_after = revision(request.text);
  return prepared;
}

Result<std::unique_ptr<Prepared>> prepare(const Repo& repo, const MoveRequest& request) {
  auto prepared = std::make_unique<Prepared>();
  prepared->path = request.from;
  prepared->to_path = request.to;
  // The target's policy first: a refusal that needs no file system.
  TUVEL_TRY(prepared->to_components, split_new_path(request.to));
  prepared->to_name = std::move(prepared->to_components.back());
  prepared->to_components.pop_back();
  TUVEL_TRY(Source source, open_at_revision(repo, request.from, request.revision));
  prepared->revision = request.revision;
  prepared->revision_after = request.revision;
  if (request.parents) {
    TUVEL_TRY(prepared->to_dir,
              make_directories(repo.dir.get(), prepared->to_components, prepared->made, prepared->warning));
  } else {
    TUVEL_TRY(prepared->to_dir, walk_directories(repo.dir.get(), prepared->to_components));
  }
  TUVEL_CHECK(refuse_existing(prepared->to_dir.get(), prepared->to_name));
  prepared->source.emplace(std::move(source));
  return prepared;
}

Result<std::unique_ptr<Prepared>> prepare(const Repo& repo, const RemoveRequest& request) {
  auto prepared = std::make_unique<Prepared>();
  prepared->path = request.path;
  prepared->removes = true;
  TUVEL_TRY(Source source, open_at_revision(repo, request.path, request.revision));
  prepared->revision = request.revision;
  prepared->source.emplace(std::move(source));
  return prepared;
}

/// The path a change names first (a move's `from`).
const std::string& path_of(const FileChange& change) {
  return std::visit(
      [](const auto& request) -> const std::string& {
        if constexpr (std::is_same_v<std::decay_t<decltype(request)>, MoveRequest>) {
          return request.from;
        } else {
          return request.path;
        }
      },
      change.kind);
}

/// The names a change touches, for the one-change-per-name rule.
Result<std::vector<std::string>> names_of(const FileChange& change) {
  std::vector<std::string> names;
  TUVEL_TRY(std::string first, name_key(path_of(change)));
  names.push_back(std::move(first));
  if (const auto* move = std::get_if<MoveRequest>(&change.kind)) {
    TUVEL_TRY(std::string to, name_key(move->to));
    names.push_back(std::move(to));
  }
  return names;
}

/// The last look before the switch, under the commit lock: every target is
/// still the file and content prepared against, every new name still free.
Status confirm(const Repo& repo, Prepared& prepared) {
  if (prepared.created) return confirm_new_name(repo, *prepared.created);
  TUVEL_CHECK(confirm_revision(*prepared.source, prepared.revision));
  if (prepared.to_dir.valid()) {
    TUVEL_CHECK(confirm_directory(repo.dir.get(), prepared.to_components, prepared.to_dir.get()));
    TUVEL_CHECK(refuse_existing(prepared.to_dir.get(), prepared.to_name));
  }
  return Ok{};
}

std::uint64_t inode_of(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
}

/// A step with the directory handles it runs between.
struct Planned {
  std::size_t change;
  Step step;
  int from;
  int to;
};

/// The name change that publishes a prepared change, if any (an edit that
/// changes nothing has none).
std::optional<Planned> plan_step(std::size_t index, const Prepared& prepared) {
  if (prepared.created) {
    const NewFile& file = *prepared.created;
    const std::string dir = joined(file.components);
    return Planned{index,
                   Step{Step::Kind::Create, inode_of(file.staging->handle()), dir, file.staging->name(), dir, file.name},
                   file.dir.get(), file.dir.get()};
  }
  const Source& source = *prepared.source;
  const std::string dir = joined(source.parent);
  const int parent = source.parent_dir.get();
  const auto inode = static_cast<std::uint64_t>(source.status.st_ino);
  if (prepared.staging) {
    return Planned{index,
                   Step{Step::Kind::Replace, inode_of(prepared.staging->handle()), dir, prepared.staging->name(), dir,
                        source.name},
                   parent, parent};
  }
  if (prepared.to_dir.valid()) {
    return Planned{index,
                   Step{Step::Kind::Move, inode, dir, source.name, joined(prepared.to_components), prepared.to_name},
                   parent, prepared.to_dir.get()};
  }
  if (prepared.removes) return Planned{index, Step{Step::Kind::Remove, inode, dir, source.name, {}, {}}, parent, parent};
  return std::nullopt;
}

/// What a published set gives back.
struct Published {
  std::vector<std::unique_ptr<Prepared>> changes;
  std::optional<std::string> warning;
};

/// With `context`, a failure names the change it ends the set at; a single
/// operation's failures stay as they are.
Error placed(Error error, bool context, std::size_t index, std::string_view path) {
  if (context) error.prefix("changes[" + std::to_string(index) + "] (" + std::string(path) + "): ");
  return error;
}

/// Every change checked and staged, in order; the first failure ends the set
/// with nothing published.
Result<Published> prepare_all(const Repo& repo, std::span<const FileChange> changes, bool context) {
  Published set;
  std::set<std::string> names;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const FileChange& change = changes[i];
    auto fail = [&](Error error) { return placed(std::move(error), context, i, path_of(change)); };
    Result<std::vector<std::string>> touched = names_of(change);
    if (!touched.ok()) return fail(std::move(touched).error());
    for (std::string& name : *touched) {
      if (!names.insert(std::move(name)).second) return fail(Error::plain("a path may appear in only one change"));
    }
    Result<std::unique_ptr<Prepared>> prepared =
        std::visit([&](const auto& request) { return prepare(repo, request); }, change.kind);
    if (!prepared.ok()) return fail(std::move(prepared).error());
    set.changes.push_back(std::move(prepared).value());
  }
  return set;
}

/// After the commit point: the steps, then the directory flushes. A step that
/// fails leaves the journal and the staging files it names for recovery.
Status publish_steps(const Repo& repo, Published& set, const std::vector<Planned>& planned, bool journaled,
                     bool context) {
  for (auto& prepared : set.changes) {
    prepared->made.keep();
    if (prepared->created) prepared->created->made.keep();
  }
  DirectoryFlushes flushes;
  std::optional<Error> unfinished;
  for (const Planned& p : planned) {
    Status done = run_step(p.step, p.from, p.to);
    if (!done && !unfinished) unfinished = placed(std::move(done).error(), context, p.change, set.changes[p.change]->path);
    flushes.add(p.from);
    flushes.add(p.to);
  }
  if (unfinished && journaled) {
    for (auto& prepared : set.changes) {
      if (prepared->staging) prepared->staging->keep();
      if (prepared->created && prepared->created->staging) prepared->created->staging->keep();
    }
    return Error::plain("change set committed but not finished (" + unfinished->render() +
                        "); the next operation on the repository finishes it");
  }
  if (unfinished) return std::move(*unfinished);
  flushes.flush(set.warning);
  if (journaled) finish_journal(repo, set.warning);
  return Ok{};
}

Result<Published> run_set(const Repo& repo, std::span<const FileChange> changes, bool context) {
  if (changes.empty() || changes.size() > MAX_CHANGES) return Error::plain("apply_changes accepts 1..64 changes");
  TUVEL_TRY(Published set, prepare_all(repo, changes, context));

  std::vector<Planned> planned;
  for (std::size_t i = 0; i < set.changes.size(); ++i) {
    if (!set.warning) set.warning = set.changes[i]->warning;
    if (std::optional<Planned> step = plan_step(i, *set.changes[i])) planned.push_back(std::move(*step));
  }
  // One name change is atomic by itself; more need the journal, and the
  // commit lock keeps other sets and recovery away until it is gone.
  const bool journaled = planned.size() > 1;
  std::optional<CommitLock> lock;
  if (journaled) {
    TUVEL_TRY(CommitLock taken, try_commit_lock(repo));
    if (!taken.held()) return Error::edit(EditCode::Busy, "another change set is being published; retry");
    lock.emplace(std::move(taken));
    // A set interrupted since this one began is finished first.
    TUVEL_CHECK(recover_locked(repo));
  }
  for (std::size_t i = 0; i < set.changes.size(); ++i) {
    Status confirmed = confirm(repo, *set.changes[i]);
    if (!confirmed) return placed(std::move(confirmed).error(), context, i, set.changes[i]->path);
  }
  if (journaled) {
    std::vector<Step> steps;
    steps.reserve(planned.size());
    for (const Planned& p : planned) steps.push_back(p.step);
    TUVEL_CHECK(write_journal(repo, steps, set.warning));
  }

  // Committed: from here on the set is published, now or by recovery.
  TUVEL_CHECK(publish_steps(repo, set, planned, journaled, context));
  return set;
}

Json warning_json(std::optional<std::string>& warning) { return warning ? Json(std::move(*warning)) : Json(nullptr); }

}  // namespace

Result<Json> apply_changes(const Repo& repo, const ChangeSetRequest& request) {
  TUVEL_TRY(Published set, run_set(repo, request.changes, true));
  JsonArray files;
  for (const auto& prepared : set.changes) {
    const Json after = prepared->removes ? Json(nullptr) : Json(prepared->revision_after);
    if (prepared->to_dir.valid()) {
      files.push_back(Json(JsonObject{{"path", Json(prepared->path)}, {"revision", Json(nullptr)}}));
      files.push_back(Json(JsonObject{{"path", Json(prepared->to_path)}, {"revision", after}}));
    } else {
      files.push_back(Json(JsonObject{{"path", Json(prepared->path)}, {"revision", after}}));
    }
  }
  return Json(JsonObject{{"durability_warning", warning_json(set.warning)}, {"files", Json(std::move(files))}});
}

Result<Json> move_file(const Repo& repo, const MoveRequest& request) {
  const FileChange change{request};
  TUVEL_TRY(Published set, run_set(repo, std::span<const FileChange>(&change, 1), false));
  return Json(JsonObject{{"durability_warning", warning_json(set.warning)},
                         {"from", Json(request.from)},
                         {"revision", Json(set.changes.front()->revision)},
                         {"to", Json(request.to)}});
}

Result<Json> remove_file(const Repo& repo, const RemoveRequest& request) {
  const FileChange change{request};
  TUVEL_TRY(Published set, run_set(repo, std::span<const FileChange>(&change, 1), false));
  return Json(JsonObject{{"durability_warning", warning_json(set.warning)}, {"path", Json(request.path)}});
}

}  // namespace tuvel
