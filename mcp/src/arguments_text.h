// SPDX-License-Identifier: Apache-2.0
// The text of a tools/call's arguments that the tool's decoder judges: the
// arguments as the client wrote them, without the white space between
// tokens, read as a JSON object model reads them: of a repeated key only the
// last member is kept, where it stands, and -0 is the integer 0.
#pragma once

#include <string>
#include <string_view>

namespace tuvel::mcp {

/// The decoder's text of a checked value nested at most a few hundred levels.
std::string arguments_text(std::string_view checked);

}  // namespace tuvel::mcp
