// SPDX-License-Identifier: Apache-2.0
#include "search/search_tree.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "read/read_files.h"
#include "search/file_search.h"
#include "search/line_pattern.h"
#include "search/paging.h"
#include "search/rules.h"
#include "search/tree_walk.h"

namespace tuvel {
namespace {

constexpr std::size_t length(std::string_view text) { return text.size(); }

// Compact lengths of the fixed parts of the "data" value.
constexpr std::size_t kHead = length(R"({"files":[)");
constexpr std::size_t kTail =
    length(R"(],"next":,"searched":,"skipped":{"binary":,"too_large":,"unreadable":},"truncated":false})");
constexpr std::size_t kCountDigits = std::size_t{4} * 20;  // the four counts, at their longest
constexpr std::size_t kRevision = 64 + 2;
constexpr std::size_t kCountFile = length(R"({"count":,"path":,"revision":})") + kRevision;
constexpr std::size_t kContentFile = length(R"({"matches":[],"path":,"revision":})") + kRevision;
constexpr std::size_t kContextKey = length(R"("context":[],)");
constexpr std::size_t kLine = length(R"({"line":,"text":"","truncated":false})");

std::size_t line_length(const ShownLine& line) {
  return kLine + decimal_digits(line.line) + json_string_body_length(line.text) - (line.truncated ? 1 : 0);
}

Json line_json(ShownLine& line) {
  JsonObject object;
  object.emplace("line", Json(line.line));
  object.emplace("text", Json(std::move(line.text)));
  object.emplace("truncated", Json(line.truncated));
  return object;
}

unsigned thread_count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int count = 0;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
  if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::clamp(count, 1, 8));
}

struct Counts {
  std::uint64_t searched = 0;
  std::uint64_t binary = 0;
  std::uint64_t too_large = 0;
  std::uint64_t unreadable = 0;
};

/// Page: the results in order, measured against the budget as they come.
class Page {
 public:
  explicit Page(const SearchRequest& request) : request_(request) {}

  bool done() const { return done_; }
  std::uint64_t shown() const { return shown_; }

  /// One file's hits, in order; false once the page is full.
  bool add(const FileRef& file, FileHits& hits) {
    return request_.files_only ? add_count(file, hits) : add_lines(file, hits);
  }

  Json finish(const Counts& counts) {
    JsonObject skipped{{"binary", Json(counts.binary)},
                       {"too_large", Json(counts.too_large)},
                       {"unreadable", Json(counts.unreadable)}};
    return Json(JsonObject{{"files", Json(std::move(files_))},
                           {"next", next_ ? Json(std::move(*next_)) : Json(nullptr)},
                           {"searched", Json(counts.searched)},
                           {"skipped", Json(std::move(skipped))},
                           {"truncated", Json(next_.has_value())}});
  }

 private:
  bool fits(std::size_t more, std::string_view next) const {
    return used_ + more + kTail + kCountDigits + quoted_length(next) <= READ_OUTPUT_LIMIT;
  }
  bool stop() {
    done_ = true;
    next_ = last_;
    return false;
  }

  bool add_count(const FileRef& file, FileHits& hits) {
    if (hits.count == 0) return true;
    if (shown_ == request_.max_results) return stop();
    const std::size_t cost = (files_.empty() ? 0 : 1) + kCountFile + decimal_digits(hits.count) + quoted_length(file.path);
    if (!fits(cost, file.path)) return stop();
    used_ += cost;
    ++shown_;
    last_ = file.path;
    JsonObject entry;
    entry.emplace("count", Json(hits.count));
    entry.emplace("path", Json(file.path));
    entry.emplace("revision", Json(std::move(hits.revision)));
    files_.emplace_back(std::move(entry));
    return true;
  }

  bool add_lines(const FileRef& file, FileHits& hits) {
    std::vector<ShownLine>& lines = hits.lines;
    if (lines.empty()) return true;
    const std::uint64_t context = request_.context;
    JsonArray matches;
    JsonArray context_lines;
    std::size_t file_cost = (files_.empty() ? 0 : 1) + kContentFile + quoted_length(file.path) + (context != 0 ? kContextKey : 0);
    // A group: one match with the context lines that belong to it (those
    // before it, and those after it up to `context` lines on).
    std::size_t at = 0;
    while (at < lines.size() && !done_) {
      std::size_t match = at;
      while (match < lines.size() && !lines[match].match) ++match;
      if (match == lines.size()) break;
      std::size_t end = match + 1;
      while (end < lines.size() && !lines[end].match && lines[end].line - lines[match].line <= context) ++end;
      if (shown_ == request_.max_results) {
        stop();
        break;
      }
      const std::string cursor = cursor_text(file.path, lines[match].line);
      std::size_t cost = file_cost;
      std::size_t in_matches = matches.size();
      std::size_t in_context = context_lines.size();
      for (std::size_t i = at; i < end; ++i) {
        std::size_t& count = lines[i].match ? in_matches : in_context;
        cost += (count++ == 0 ? 0 : 1) + line_length(lines[i]);
      }
      if (!fits(cost, cursor)) {
        // A page holds one match at least: alone, it always fits.
        if (shown_ != 0) {
          stop();
          break;
        }
        at = match;
        end = match + 1;
        cost = file_cost + line_length(lines[match]);
      }
      used_ += cost;
      file_cost = 0;
      ++shown_;
      last_ = cursor;
      for (std::size_t i = at; i < end; ++i) (lines[i].match ? matches : context_lines).push_back(line_json(lines[i]));
      at = end;
    }
    if (!matches.empty()) {
      JsonObject entry;
      entry.emplace("matches", Json(std::move(matches)));
      entry.emplace("path", Json(file.path));
      entry.emplace("revision", Json(std::move(hits.revision)));
      if (context != 0) entry.emplace("context", Json(std::move(context_lines)));
      files_.emplace_back(std::move(entry));
    }
    // More matches in this file than were collected: the next page goes on in it.
    if (!done_ && hits.more) stop();
    return !done_;
  }

  const SearchRequest& request_;
  JsonArray files_;
  std::size_t used_ = kHead;
  std::uint64_t shown_ = 0;
  std::string last_;
  std::optional<std::string> next_;
  bool done_ = false;
};

std::vector<FileRef> take(TreeWalk& walk, std::size_t count) {
  std::vector<FileRef> batch;
  batch.reserve(count);
  while (batch.size() < count) {
    std::optional<FileRef> file = walk.next();
    if (!file) break;
    batch.push_back(std::move(*file));
  }
  return batch;
}

}  // namespace

Result<Json> search_tree(const Repo& repo, const SearchRequest& request) {
  if (request.pattern.size() > MAX_PATTERN_BYTES) return Error::plain("pattern exceeds 4096 bytes");
  if (request.globs.size() > MAX_GLOBS) return Error::plain("glob list exceeds 64 globs");
  if (request.context > MAX_CONTEXT_LINES) return Error::plain("context exceeds 10 lines");
  TUVEL_CHECK(check_max_results(request.max_results));
  GlobFilter globs;
  for (const std::string& glob : request.globs) {
    if (glob.size() > MAX_PATH_BYTES) return Error::plain("glob exceeds 4096 bytes");
    TUVEL_CHECK(globs.add(glob));
  }
  std::optional<Cursor> cursor;
  if (request.cursor) {
    TUVEL_TRY(cursor, parse_cursor(*request.cursor, !request.files_only));
  }
  TUVEL_TRY(const LinePattern pattern,
            LinePattern::compile(request.pattern, request.fixed_strings, request.case_insensitive));
  TUVEL_TRY(TreeWalk walk,
            TreeWalk::start(repo, request.path.value_or(""), WalkFilter{request.hidden, request.no_ignore, &globs}));
  // A content cursor continues inside its file, after its line.
  if (cursor) walk.resume(cursor->path, cursor->line.has_value());

  const unsigned threads = thread_count();
  std::vector<TextBuffer> buffers(threads);
  Page page(request);
  Counts counts;
  // Small batches first, so that a short page reads little more than it shows.
  std::size_t batch_size = request.files_only ? 32 : 8;
  const std::size_t largest = request.files_only ? 256 : 64;
  std::vector<FileRef> batch = take(walk, batch_size);
  std::vector<FileHits> hits;
  while (!batch.empty() && !page.done()) {
    SearchOptions options;
    options.lines = !request.files_only;
    options.max_matches = static_cast<std::size_t>(request.max_results - page.shown());
    options.max_bytes = READ_OUTPUT_LIMIT;
    options.context = static_cast<unsigned>(request.context);
    hits.assign(batch.size(), FileHits{});
    std::atomic<std::size_t> next{0};
    const auto work = [&](unsigned worker) {
      for (std::size_t i = next++; i < batch.size(); i = next++) {
        SearchOptions own = options;
        if (cursor && cursor->line && batch[i].path == cursor->path) own.after_line = *cursor->line;
        hits[i] = search_file(pattern, batch[i].dir->get(), batch[i].name(), own, buffers[worker]);
      }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < threads; ++w) {
      try {
        workers.emplace_back(work, w);
      } catch (const std::system_error&) {
        break;
      }
    }
    // The walk goes on while the batch is searched.
    batch_size = std::min(batch_size * 2, largest);
    std::vector<FileRef> upcoming = take(walk, batch_size);
    if (workers.empty()) work(0);
    for (std::thread& worker : workers) worker.join();

    for (std::size_t i = 0; i < batch.size(); ++i) {
      switch (hits[i].outcome) {
        case FileOutcome::Searched: ++counts.searched; break;
        case FileOutcome::Binary: ++counts.binary; break;
        case FileOutcome::TooLarge: ++counts.too_large; break;
        case FileOutcome::Unreadable: ++counts.unreadable; break;
      }
      if (hits[i].outcome == FileOutcome::Searched && !page.add(batch[i], hits[i])) break;
    }
    batch = std::move(upcoming);
  }
  counts.unreadable += walk.unreadable();
  return page.finish(counts);
}

}  // namespace tuvel
