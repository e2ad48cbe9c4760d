// SPDX-License-Identifier: Apache-2.0
// The request records of tuvel-edit, as decoded from JSON or built from the
// command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tuvel {

/// Largest request text accepted, in bytes.
inline constexpr std::size_t MAX_REQUEST_BYTES = std::size_t{2} * 1024 * 1024;

/// ReadSpec: one file of a read; `end` is exclusive.
struct ReadSpec {
  std::string path;
  std::uint64_t start = 1;
  std::optional<std::uint64_t> end;
};

/// ReadRequest: the files of a read (1 to 32 are accepted when executed).
struct ReadRequest {
  std::vector<ReadSpec> files;
};

/// Edit: one line-range or exact-text replacement.
struct Edit {
  /// Replace lines start..end (1-based, end exclusive) with `text`.
  struct Lines {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string text;
  };
  /// Replace each of exactly `count` occurrences of `old_text` by `new_text`.
  struct Replace {
    std::string old_text;
    std::string new_text;
    std::uint64_t count = 0;
  };
  std::variant<Lines, Replace> kind;
};

/// EditRequest: edits against the revision the caller read.
struct EditRequest {
  std::string path;
  std::string revision;
  std::vector<Edit> edits;
};

/// The operations, in the order they are listed in messages.
enum class Op : std::uint8_t { Read, Preview, Apply };

/// Request: one operation with its body (ReadRequest for Read, else EditRequest).
struct Request {
  Op op = Op::Read;
  std::variant<ReadRequest, EditRequest> body;
};

/// CreateRequest: a new regular file that must not exist yet.
struct CreateRequest {
  std::string path;
  std::string text;
  bool parents = false;  ///< make missing parent directories
};

/// ListRequest: one page of a directory's entries; the repository root when
/// `path` is absent.
struct ListRequest {
  std::optional<std::string> path;
  std::optional<std::string> cursor;  ///< the page holds the names after it
};


/// SearchRequest: lines that match a pattern in the files below a directory
/// of the repository (the root when `path` is absent), or in one file.
struct SearchRequest {
  std::string pattern;
  std::optional<std::string> path;
  std::vector<std::string> globs;  ///< as ripgrep's -g; "!" excludes
  bool case_insensitive = false;
  bool fixed_strings = false;
  bool hidden = false;
  bool no_ignore = false;
  std::uint64_t context = 0;
  bool files_only = false;  ///< output "files": one entry per matching file
  std::uint64_t max_results = 100;
  std::optional<std::string> cursor;  ///< the "next" of the page before
};

/// FindRequest: the regular files below a directory whose paths match a glob.
struct FindRequest {
  std::string pattern;
  std::optional<std::string> path;
  bool hidden = false;
  bool no_ignore = false;
  std::uint64_t max_results = 100;
  std::optional<std::string> cursor;
};

/// MoveRequest: renames the regular file `from`, at `revision`, to `to`,
/// a name that must not exist yet.
struct MoveRequest {
  std::string from;
  std::string to;
  std::string revision;
  bool parents = false;  ///< make missing parent directories of `to`
};

/// RemoveRequest: removes the regular file `path` if it is at `revision`.
struct RemoveRequest {
  std::string path;
  std::string revision;
};

/// FileChange: one change of a change set.
struct FileChange {
  std::variant<EditRequest, CreateRequest, MoveRequest, RemoveRequest> kind;
};

/// ChangeSetRequest: changes published all together or not at all.
struct ChangeSetRequest {
  std::vector<FileChange> changes;
};

}  // namespace tuvel
