// SPDX-License-Identifier: Apache-2.0
// The tools of tuvel-mcp: their descriptions for tools/list and their calls.
// A call takes the compact JSON text of its arguments, judges it with the
// product's own strict decoder and runs the library operation in-process.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "source/source.h"

namespace tuvel::mcp {

/// CallOutcome: what a tools/call gives: `text` is the compact JSON of the
/// result object, or of {"error":{...}} when `is_error` (arguments the
/// decoder refused included).
struct CallOutcome {
  bool is_error = false;
  std::string text;
};

/// The "tools" array of a tools/list result.
const nlohmann::ordered_json& tool_list();

/// Whether `name` is one of the tools.
bool is_tool(std::string_view name);

/// The message of the invalid-params error for a name that is no tool.
std::string unknown_tool_message(std::string_view name);

/// Runs the tool `name` (one of the tools) on `arguments`, the compact JSON
/// text of an object, against the repository `repo`, opened when the session
/// started; once its path names another directory, every call fails.
CallOutcome call_tool(const Repo& repo, std::string_view name, std::string_view arguments);

}  // namespace tuvel::mcp
