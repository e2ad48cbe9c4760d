// SPDX-License-Identifier: Apache-2.0
#include "source/path_policy.h"

#include <cerrno>

#include "source/source.h"
#include "source/utf8.h"

namespace tuvel {

bool is_staging_name(std::string_view name) {
  constexpr std::string_view kPrefix = ".tuvel-edit-";
  if (name == JOURNAL_NAME) return true;
  if (!name.starts_with(kPrefix)) return false;
  name.remove_prefix(kPrefix.size());
  const auto digits = [&name] {
    std::size_t n = 0;
    while (n < name.size() && name[n] >= '0' && name[n] <= '9') ++n;
    name.remove_prefix(n);
    return n > 0;
  };
  if (!digits() || !name.starts_with('-')) return false;
  name.remove_prefix(1);
  return digits() && name.empty();
}

Result<std::vector<std::string>> split_request_path(std::string_view path) {
  std::vector<std::string> components;
  // A leading "/" is a root component, a leading "." a current-directory one;
  // either makes the path non-relative, as does ".." anywhere.
  bool traversal = path.empty() || path.front() == '/';
  bool git = false;
  std::size_t pos = 0;
  bool first = true;
  while (pos <= path.size() && !traversal) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty()) continue;
    if (part == ".") {
      if (first) traversal = true;
      first = false;
      continue;
    }
    first = false;
    if (part == "..") {
      traversal = true;
    } else {
      if (part == ".git") git = true;
      components.emplace_back(part);
    }
  }
  if (traversal || components.empty()) return Error::plain("path must be relative, with no parent traversal");
  if (git) return Error::plain("Git metadata cannot be edited");
  if (path.size() > MAX_PATH_BYTES) return Error::plain("path exceeds 4096 bytes");
  if (is_staging_name(components.back())) return Error::plain("path names a staging file");
  return components;
}

Result<std::vector<std::string>> split_directory_path(std::string_view path) {
  if (path.empty() || path == ".") return std::vector<std::string>{};
  return split_request_path(path);
}

Status check_file_name(std::string_view name) {
  if (find_utf8_error(name)) return Error::plain("filename is not UTF-8");
  if (name.find('\0') != std::string_view::npos) return Error::os(EINVAL);
  return Ok{};
}

Status check_new_name(std::string_view name) {
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return Error::plain("new name contains a control character");
  }
  return Ok{};
}

}  // namespace tuvel
