// SPDX-License-Identifier: Apache-2.0
// read_files: the bounded line windows of a read request, and its "data"
// value.
#pragma once

#include <string>

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"
#include "source/source.h"

namespace tuvel {

inline constexpr std::size_t MAX_READ_FILES = 32;
inline constexpr std::uint64_t DEFAULT_READ_LINES = 200;
inline constexpr std::size_t READ_OUTPUT_BUDGET = 65536;
inline constexpr std::size_t READ_FILE_RESERVE = 1024;
inline constexpr std::size_t READ_OUTPUT_LIMIT = 65536 - 128;

Result<Json> read_files(const Repo& repo, const std::vector<ReadSpec>& files);

}  // namespace tuvel
