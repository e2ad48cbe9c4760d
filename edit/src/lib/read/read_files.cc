// SPDX-License-Identifier: Apache-2.0
#include "read/read_files.h"

#include <limits>
#include <utility>

#include "read/budget.h"
#include "read/line_index.h"

namespace tuvel {
namespace {

// Running length of the compact encoding of the results so far: the objects,
// and the brackets and commas around them.
struct EncodedLength {
  std::size_t objects = 0;
  std::size_t count = 0;
  std::size_t total() const { return count == 0 ? 2 : objects + count + 1; }
};

}  // namespace

Result<Json> read_files(const Repo& repo, const std::vector<ReadSpec>& files) {
  if (files.empty() || files.size() > MAX_READ_FILES) return Error::plain("read accepts 1..32 files");
  JsonArray results;
  results.reserve(files.size());
  EncodedLength encoded;
  for (const ReadSpec& spec : files) {
    // One source at a time: it and its snapshot end with this iteration.
    TUVEL_TRY(Source source, open_source(repo, spec.path, false));
    TUVEL_TRY(const Snapshot read, read_snapshot_and_revision(source));
    const std::string_view snapshot = read.text;

    const std::uint64_t entries = line_entry_count(snapshot, read.line_feeds);
    std::uint64_t end = 0;
    if (spec.end) {
      end = *spec.end;
    } else {
      const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
      const std::uint64_t default_end = spec.start > max - DEFAULT_READ_LINES ? max : spec.start + DEFAULT_READ_LINES;
      end = std::min(entries, default_end);
    }
    // start 0 wraps to the largest value and so always fails.
    if (!(spec.start - 1 < end && end <= entries)) {
      return invalid_range(entries);
    }
    const std::uint64_t ks[2] = {spec.start - 1, end - 1};
    std::uint64_t offsets[2] = {0, 0};
    line_entries(snapshot, ks, offsets);
    const std::string_view window = std::string_view(snapshot).substr(offsets[0], offsets[1] - offsets[0]);

    const std::size_t used = encoded.total();
    const std::size_t budget = used + READ_FILE_RESERVE > READ_OUTPUT_BUDGET ? 0 : READ_OUTPUT_BUDGET - READ_FILE_RESERVE - used;
    const std::string_view text = window.substr(0, fitting_prefix(window, budget));
    const bool truncated = text.size() < window.size();
    const std::uint64_t total_lines = entries - 1;

    encoded.objects += encoded_result_length(spec.path, text, total_lines, spec.start, end, truncated);
    ++encoded.count;
    if (encoded.total() > READ_OUTPUT_LIMIT)
      return Error::edit(EditCode::OutputLimit, "read output exceeds 64 KiB; request fewer files");

    JsonObject result;
    result.emplace("path", Json(spec.path));
    result.emplace("revision", Json(read.revision));
    result.emplace("total_lines", Json(total_lines));
    result.emplace("start", Json(spec.start));
    result.emplace("end", Json(end));
    result.emplace("text", Json(text));
    result.emplace("truncated", Json(truncated));
    results.emplace_back(std::move(result));
  }
  JsonObject data;
  data.emplace("files", Json(std::move(results)));
  return Json(std::move(data));
}

}  // namespace tuvel
