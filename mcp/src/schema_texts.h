// SPDX-License-Identifier: Apache-2.0
// schema_text: the JSON Schema documents of the tools, as the files under
// schema/ hold them, compiled into the program.
#pragma once

#include <string_view>

namespace tuvel::mcp {

/// The text of schema/{name}.json ("read-request", "error", ...); empty when
/// there is no such file.
std::string_view schema_text(std::string_view name);

}  // namespace tuvel::mcp
