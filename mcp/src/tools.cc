// SPDX-License-Identifier: Apache-2.0
#include "tools.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <utility>

#include "execute/execute.h"
#include "protocol/decode.h"
#include "protocol/json.h"
#include "schema_texts.h"

namespace tuvel::mcp {
namespace {

using nlohmann::ordered_json;

constexpr std::string_view kReadDescription =
    "Read line windows of 1 to 32 files of the repository (paths relative to its root). Each file comes back with "
    "its revision (BLAKE3 of the whole file, 64 hex digits), total_lines, the effective start and end (exclusive), "
    "the text of those lines and truncated. Without end at most 200 lines are read. The whole answer stays within "
    "64 KiB: text beyond that is cut and truncated is true, so read on from a later start. Keep the revision: "
    "preview and apply need it. Errors (isError, structuredContent.error.code): invalid_range: start or end lies "
    "outside the file, check total_lines; output_limit: the answer cannot fit, read fewer files or shorter windows; "
    "concurrent_change: a file changed while it was read, read again; io_or_request: the arguments were refused "
    "(the message names the field), a path was refused (absolute, '..', leading '.', symbolic link, '.git'), the "
    "file is missing, is not UTF-8 text or is over 16 MiB, or an operating-system error; fix the request instead "
    "of repeating it.";

constexpr std::string_view kEditErrors =
    "Errors (isError, structuredContent.error.code): stale_revision: the file changed since you read it, read it "
    "again and rebuild the edits against the new revision; match_count: a replace edit found a different number "
    "of occurrences than count, read the file and fix old or count; invalid_range: a lines edit lies outside the "
    "file, check total_lines; overlapping_edits: two edits touch the same text or insertion point, merge them; "
    "concurrent_change: the file changed during the call, read again and retry; busy: another writer holds the "
    "file, wait a moment and retry; io_or_request: the arguments were refused (the message names the field; "
    "\"request exceeds 2 MiB\" for arguments over 2 MiB), the path was refused, the file is missing, is not "
    "UTF-8 text or is over 16 MiB, the new content would exceed 16 MiB (\"result exceeds 16 MiB\"), or an "
    "operating-system error; fix the request instead of repeating it.";

constexpr std::string_view kEditRequestHelp =
    "Arguments: path, revision (from read), and 1 to 256 edits, each {\"kind\":\"lines\",\"start\",\"end\",\"text\"} "
    "(replace lines start up to end, 1-based, end exclusive; start equal to end inserts before line start) or "
    "{\"kind\":\"replace\",\"old\",\"new\",\"count\"} (replace every occurrence of old, of which there must be "
    "exactly count). All edits apply to the same snapshot and must not overlap.";

/// The description of an edit tool: what it does, then the arguments and
/// errors that preview and apply share.
std::string edit_description(std::string_view lead) {
  return std::string(lead) + std::string(kEditRequestHelp) + " " + std::string(kEditErrors);
}

/// Tool: one entry of the table.
struct Tool {
  std::string_view name;
  std::string_view title;
  std::string description;
  std::string_view input_schema;  // names of files under schema/
  std::string_view data_schema;
  bool read_only;
  bool destructive;
  bool idempotent;
  CallOutcome (*call)(const Repo& repo, std::string_view arguments);
};

CallOutcome failed(std::string_view code, std::string message) {
  CallOutcome outcome;
  outcome.is_error = true;
  write_json(JsonObject{{"error", JsonObject{{"code", std::string(code)}, {"message", std::move(message)}}}},
             outcome.text);
  return outcome;
}

CallOutcome failed(const Error& error) { return failed(error.code(), error.render()); }

CallOutcome answered(const Result<Json>& result) {
  if (!result.ok()) return failed(result.error());
  CallOutcome outcome;
  write_json(*result, outcome.text);
  return outcome;
}

/// A session keeps the directory it opened at start-up; serving another one
/// that took its name would follow whoever renamed it.
std::optional<CallOutcome> repo_gone(const Repo& repo) {
  const Result<bool> in_place = repo_in_place(repo);
  if (in_place.ok() && *in_place) return std::nullopt;
  const int err = in_place.ok() ? 0 : in_place.error().os_errno();
  if (err != 0 && err != ENOENT && err != ENOTDIR) return failed(in_place.error());
  return failed(Error::plain("repository was moved or replaced; restart the server"));
}

/// Requests of the edit commands keep tuvel-edit's request bound.
std::optional<CallOutcome> over_request_bound(std::string_view arguments) {
  if (arguments.size() <= MAX_REQUEST_BYTES) return std::nullopt;
  return answered(request_too_long());
}

constexpr std::string_view kReadPrefix = R"({"op":"read","request":)";

/// A decoder message about the wrapped read request, with its position moved
/// back onto the arguments text (which is one line: it is compact).
std::string unwrapped_message(std::string message) {
  constexpr std::string_view kAt = " at line 1 column ";
  const std::size_t at = message.rfind(kAt);
  if (at == std::string::npos) return message;
  std::size_t column = 0;
  const char* first = message.data() + at + kAt.size();
  const char* last = message.data() + message.size();
  const auto [end, ec] = std::from_chars(first, last, column);
  if (ec != std::errc() || end != last || column < kReadPrefix.size()) return message;
  message.resize(at + kAt.size());
  message += std::to_string(column - kReadPrefix.size());
  return message;
}

CallOutcome call_read(const Repo& repo, std::string_view arguments) {
  if (auto bound = over_request_bound(arguments)) return *bound;
  std::string wrapped;
  wrapped.reserve(kReadPrefix.size() + arguments.size() + 1);
  wrapped.append(kReadPrefix).append(arguments).push_back('}');
  Result<Request> request = decode_request(wrapped);
  std::string().swap(wrapped);
  if (!request.ok()) return failed(request.error().code(), unwrapped_message(request.error().render()));
  return answered(execute(repo, std::move(request).value()));
}

CallOutcome call_edit(const Repo& repo, std::string_view arguments, Op op) {
  if (auto bound = over_request_bound(arguments)) return *bound;
  Result<EditRequest> edit = decode_edit_request(arguments);
  if (!edit.ok()) return failed(edit.error());
  return answered(execute(repo, Request{op, std::move(edit).value()}));
}

CallOutcome call_create(const Repo& repo, std::string_view arguments) {
  Result<CreateRequest> create = decode_create_request(arguments);
  if (!create.ok()) return failed(create.error());
  return answered(execute_create(repo, *create));
}

CallOutcome call_list(const Repo& repo, std::string_view arguments) {
  Result<ListRequest> list = decode_list_request(arguments);
  if (!list.ok()) return failed(list.error());
  return answered(execute_list(repo, *list));
}

CallOutcome call_search(const Repo& repo, std::string_view arguments) {
  if (auto bound = over_request_bound(arguments)) return *bound;
  Result<SearchRequest> search = decode_search_request(arguments);
  if (!search.ok()) return failed(search.error());
  return answered(execute_search(repo, *search));
}

CallOutcome call_find(const Repo& repo, std::string_view arguments) {
  if (auto bound = over_request_bound(arguments)) return *bound;
  Result<FindRequest> find = decode_find_request(arguments);
  if (!find.ok()) return failed(find.error());
  return answered(execute_find(repo, *find));
}

CallOutcome call_move(const Repo& repo, std::string_view arguments) {
  Result<MoveRequest> move = decode_move_request(arguments);
  if (!move.ok()) return failed(move.error());
  return answered(execute_move(repo, *move));
}

CallOutcome call_remove(const Repo& repo, std::string_view arguments) {
  Result<RemoveRequest> remove = decode_remove_request(arguments);
  if (!remove.ok()) return failed(remove.error());
  return answered(execute_remove(repo, *remove));
}

CallOutcome call_apply_changes(const Repo& repo, std::string_view arguments) {
  Result<ChangeSetRequest> changes = decode_change_set_request(arguments);
  if (!changes.ok()) return failed(changes.error());
  return answered(execute_changes(repo, *changes));
}

CallOutcome call_preview(const Repo& repo, std::string_view arguments) {
  return call_edit(repo, arguments, Op::Preview);
}

CallOutcome call_apply(const Repo& repo, std::string_view arguments) {
  return call_edit(repo, arguments, Op::Apply);
}

const std::array<Tool, 10>& tools() {
  static const std::array<Tool, 10> table{{
      {"read", "Read files", std::string(kReadDescription), "read-request", "read-data", true, false, true,
       call_read},
      {"preview", "Preview an edit",
       edit_description("Check edits of one file against the revision you read and show what they would change, "
                        "writing nothing. The answer tells whether the content would change, revision_before and "
                        "revision_after, byte counts, and up to 32 excerpts (preview, with preview_truncated). "),
       "edit-request", "edit-data", true, false, true, call_preview},
      {"apply", "Apply an edit",
       edit_description("Apply edits to one file, but only if it still has the revision you read; the new content "
                        "replaces the file atomically. The answer tells whether it was applied and changed, and "
                        "revision_after: use it for the next edit of the same file. "),
       "edit-request", "edit-data", false, true, false, call_apply},
      {"create", "Create a file",
       "Create a new regular file with the given text; the name must not exist yet (an existing file is never "
       "replaced: change it with apply). With parents true, missing directories are made. The answer gives the "
       "revision of the new file: use it for its first edit. Errors (isError, structuredContent.error.code): "
       "io_or_request: the arguments were refused (the message names the field), the path was refused "
       "(absolute, '..', leading '.', symbolic link, '.git', a staging "
       "name '.tuvel-edit-' digits '-' digits, ending in '/'), a new name holds a control character, the name "
       "exists (\"File exists (os error 17)\": read or list it instead), a parent directory is missing and "
       "parents is false, the text is over 16 MiB, holds NUL or is not UTF-8, or an operating-system error; fix "
       "the request instead of repeating it. A failed create removes the directories it made.",
       "create-request", "create-data", false, false, false, call_create},
      {"list", "List a directory",
       "List the entries of one directory of the repository (the root when path is absent, \"\" or \".\"), "
       "sorted by name, each with its kind (file, directory, symlink, other) and, for files, its size in bytes. "
       "'.git', staging files and names that are not UTF-8 are left out. One answer is a page within 64 KiB: "
       "when next is not null, more names follow; call list again with cursor set to next for the following "
       "page, until next is null. Errors (isError, structuredContent.error.code): io_or_request: the arguments "
       "were refused (the message names the field), the path was refused (absolute, '..', leading '.', symbolic "
       "link, '.git'), does not exist or is not a directory "
       "(\"Not a directory (os error 20)\"), or an operating-system error.",
       "list-request", "list-data", true, false, true, call_list},
      {"search", "Search file contents",
       "Find the lines that match a regular expression (RE2 syntax; a literal with fixed_strings) in the files "
       "below path (the root when absent, \"\" or \".\"; or one file), as ripgrep would: .gitignore and .ignore "
       "rules at every level, hidden entries (leading '.') and binary files (a NUL byte) skipped, links never "
       "followed, '.git' never entered. glob narrows the files as ripgrep's -g ('*.cc' at any depth, "
       "'src/**/*.h' from the root, '!' excludes) but never brings back ignored or hidden files: set no_ignore "
       "or hidden for those. Files come sorted by path, each with its revision (of exactly the bytes searched) "
       "and 1-based line numbers of those bytes, so a lines or replace edit can follow at once with that "
       "revision. output \"content\" (default) gives the matching lines (text cut at 512 bytes, truncated "
       "then true) and, with context 1 to 10, the lines around them; output \"files\" gives each matching "
       "file with its count of matching lines. One answer is a page of at most max_results (default 100, at "
       "most 1000) matches or files within 64 KiB: when next is not null, call search again with the same "
       "arguments and cursor set to next. Errors (isError, structuredContent.error.code): io_or_request: the "
       "arguments were refused (the message names the field), the pattern is not a valid regular expression (the reason is given), a glob or the path was refused, a "
       "bound was passed; fix the request instead of repeating it.",
       "search-request", "search-data", true, false, true, call_search},
      {"find", "Find files",
       "Find the regular files whose paths match a glob (as search's glob: '*.cc' at any depth, "
       "'src/**/*.h' from the root) below path (the root when absent), with the walk and rules of search "
       "(ignore files, hidden entries unless hidden, no links, no '.git'), sorted by path, each with its size "
       "in bytes. One answer is a page of at most max_results (default 100, at most 1000) files within "
       "64 KiB: when next is not null, call find again with cursor set to next. Errors (isError, "
       "structuredContent.error.code): io_or_request: the arguments were refused (the message names the "
       "field), the glob or the path was refused, or a bound was passed.",
       "find-request", "find-data", true, false, true, call_find},
      {"move", "Move a file",
       "Rename a regular file of the repository, only if it still has the revision you read; the new name must not "
       "exist yet (an existing file is never replaced). With parents true, missing directories of to are made. The "
       "file keeps its content, revision and mode. Errors (isError, structuredContent.error.code): stale_revision: "
       "the file changed since you read it, read it again; busy: another writer holds the file, wait a moment and "
       "retry; concurrent_change: the file changed during the call, read again and retry; io_or_request: the "
       "arguments were refused (the message names the field), a path was refused (absolute, '..', leading '.', symbolic link, '.git'), from is missing or not a regular file, to "
       "exists (\"File exists (os error 17)\"), a parent directory of to is missing and parents is false, or an "
       "operating-system error; fix the request instead of repeating it.",
       "move-request", "move-data", false, true, false, call_move},
      {"remove", "Remove a file",
       "Remove a regular file of the repository, only if it still has the revision you read (you may only remove "
       "what you have seen). Directories are not removed. Errors (isError, structuredContent.error.code): "
       "stale_revision: the file changed since you read it, read it again and decide again; busy: another writer "
       "holds the file, wait a moment and retry; concurrent_change: the file changed during the call, read again "
       "and retry; io_or_request: the arguments were refused (the message names the field), the path was "
       "refused (absolute, '..', leading '.', symbolic link, '.git'), is missing or is not a regular file, or an operating-system error; fix the request instead of repeating it.",
       "remove-request", "remove-data", false, true, false, call_remove},
      {"apply_changes", "Apply changes to several files",
       "Apply 1 to 64 changes to different files all together or not at all, including after a crash: each change "
       "is {\"kind\":\"edit\",\"path\",\"revision\",\"edits\"} (as apply), {\"kind\":\"create\",\"path\","
       "\"text\",\"parents\"?} (as create), {\"kind\":\"move\",\"from\",\"to\",\"revision\",\"parents\"?} (as "
       "move) or {\"kind\":\"remove\",\"path\",\"revision\"} (as remove). No path may appear in two changes (a "
       "move's from and to both count). Every change is checked and staged before any is published; the first "
       "failure ends the set, names the change (\"changes[i] (path): ...\") and leaves every file as it was. The "
       "answer lists every path touched with its new revision (null for a name left empty): use them for the next "
       "edits. Errors (isError, structuredContent.error.code) are those of the single tools; busy also means "
       "another change set is being published: wait a moment and retry; io_or_request: the arguments were "
       "refused (the message names the field), or as for the single tools.",
       "apply-changes-request", "apply-changes-data", false, true, false, call_apply_changes},
  }};
  return table;
}

const Tool* find_tool(std::string_view name) {
  for (const Tool& tool : tools()) {
    if (tool.name == name) return &tool;
  }
  return nullptr;
}

/// A schema document as a tool carries it: without the document-level
/// "$schema", which validators in clients need not know.
ordered_json embedded_schema(std::string_view name) {
  ordered_json schema = ordered_json::parse(schema_text(name));
  schema.erase("$schema");
  return schema;
}

/// The entries of tools/list, from the table and the schema documents.
ordered_json build_tool_list() {
  ordered_json list = ordered_json::array();
  for (const Tool& tool : tools()) {
    ordered_json output = {{"type", "object"},
                           {"anyOf", ordered_json::array({embedded_schema(tool.data_schema), embedded_schema("error")})}};
    list.push_back({
        {"name", tool.name},
        {"title", tool.title},
        {"description", tool.description},
        {"inputSchema", embedded_schema(tool.input_schema)},
        {"outputSchema", std::move(output)},
        {"annotations",
         {{"title", tool.title},
          {"readOnlyHint", tool.read_only},
          {"destructiveHint", tool.destructive},
          {"idempotentHint", tool.idempotent},
          {"openWorldHint", false}}},
    });
  }
  return list;
}

}  // namespace

// Built once: the table and the schemas never change while the program runs.
const ordered_json& tool_list() {
  static const ordered_json list = build_tool_list();
  return list;
}

bool is_tool(std::string_view name) { return find_tool(name) != nullptr; }

std::string unknown_tool_message(std::string_view name) {
  std::string names;
  for (const Tool& tool : tools()) {
    names += names.empty() ? "`" : ", `";
    names += tool.name;
    names += '`';
  }
  return "unknown tool `" + std::string(name) + "`, expected one of " + names;
}

CallOutcome call_tool(const Repo& repo, std::string_view name, std::string_view arguments) {
  if (auto gone = repo_gone(repo)) return *gone;
  const Tool* tool = find_tool(name);
  return tool->call(repo, arguments);
}

}  // namespace tuvel::mcp
