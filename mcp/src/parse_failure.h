// SPDX-License-Identifier: Apache-2.0
// The description of why a message line is not JSON, for its -32700 answer.
#pragma once

#include <string>
#include <string_view>

#include "json_scan.h"

namespace tuvel::mcp {

/// The description of the fault check_json found in `text`: the JSON
/// library's own words for a syntax fault, the edit decoder's for a number
/// out of range.
std::string parse_failure(std::string_view text, const ScanFault& fault);

}  // namespace tuvel::mcp
