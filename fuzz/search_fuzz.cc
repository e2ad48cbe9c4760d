// SPDX-License-Identifier: Apache-2.0
// Fuzz target for the glob and ignore-rule parser and matcher and for the
// search and find argument decoders. The input is an ignore file's text, a
// caller's glob and arguments text at once; paths made from its lines are
// matched against the rules. It checks that nothing crashes, that a rule
// index given back lies in the list, that a glob which compiled matches the
// same way twice, and that decoding is deterministic.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/decode.h"
#include "search/glob.h"
#include "search/rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tuvel::RuleList rules;
  rules.add_lines(text);
  tuvel::GlobFilter globs;
  const std::string_view first_line = text.substr(0, text.find('\n'));
  (void)globs.add(first_line);
  const tuvel::Result<tuvel::Glob> glob = tuvel::Glob::compile(first_line);
  // Each line as a path, and as a directory.
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view path = text.substr(at, end - at);
    const std::string_view name = path.substr(path.rfind('/') == std::string_view::npos ? 0 : path.rfind('/') + 1);
    for (const bool dir : {false, true}) {
      const int index = rules.last_match(path, name, dir);
      if (index >= 0) (void)rules.rule(index).negated;
      (void)globs.judge(path, name, dir);
    }
    if (glob.ok() && glob->matches(path, name) != glob->matches(path, name)) std::abort();
    at = end + 1;
  }
  const auto search = tuvel::decode_search_request(text);
  const auto again = tuvel::decode_search_request(text);
  if (search.ok() != again.ok()) std::abort();
  (void)tuvel::decode_find_request(text);
  return 0;
}
