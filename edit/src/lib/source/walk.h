// SPDX-License-Identifier: Apache-2.0
// The confined walk: directories opened one component at a time relative to
// a handle, never following a symbolic link.
#pragma once

#include <span>
#include <string>

#include "error/error.h"
#include "source/fd.h"

namespace tuvel {

/// dup_handle: a close-on-exec duplicate of `fd`.
Result<Fd> dup_handle(int fd);

/// open_directory_at: opens the directory `name` (one component) under `dir`;
/// a symbolic link fails with ELOOP, a NUL byte with EINVAL without a call.
Result<Fd> open_directory_at(int dir, const std::string& name);

/// walk_directories: from a duplicate of `root`, the directory reached
/// through `components`.
Result<Fd> walk_directories(int root, std::span<const std::string> components);

/// open_directory_path: opens the absolute `path` as a directory with no
/// symbolic link followed at any level (ELOOP for a link): with openat2, else
/// component by component from "/".
Result<Fd> open_directory_path(const std::string& path);

/// confirm_directory: walking `components` again from `root` reaches the
/// directory of `dir`, else "source directory changed during access".
Status confirm_directory(int root, std::span<const std::string> components, int dir);

}  // namespace tuvel
