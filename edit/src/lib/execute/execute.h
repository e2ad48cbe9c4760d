// execute: runs one request against one repository and gives the "data"
// value of its response. It sits above read and engine and dispatches to them.
#pragma once

#include <string>

#include "error/error.h"
#include "protocol/json.h"
#include "protocol/request.h"

namespace tuvel {

Result<Json> execute(const std::string& repo_path, Request request);

}  // namespace tuvel
