// SPDX-License-Identifier: Apache-2.0
// Fuzz target for the pure pieces of a read: the line index and the output
// budget. It checks that
// - line_starts, line_entry_count, line_entries and count_line_feeds agree
//   with each other and with a naive scan (texts are sometimes repeated to
//   cross the blocks the fast paths work in),
// - fitting_prefix cuts where a naive per-character sum of the documented
//   costs does, never inside a character, and that sum bounds the real
//   encoded length of what it keeps,
// - json_string_body_length and encoded_result_length equal the lengths of
//   the real compact encoding written by write_json.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/json.h"
#include "read/budget.h"
#include "read/line_index.h"

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::string escaped(std::string_view s, std::size_t limit = 300) {
  std::string out;
  for (std::size_t i = 0; i < s.size() && i < limit; ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  if (s.size() > limit) out += "...";
  return out;
}

[[noreturn]] void fail(const char* what, std::string_view text, const std::string& detail) {
  std::fprintf(stderr, "%s\n  detail: %s\n  text (%zu bytes): %s\n", what, detail.c_str(), text.size(),
               escaped(text).c_str());
  std::abort();
}

// --- Line index -------------------------------------------------------------

__attribute__((no_sanitize("coverage"))) std::vector<std::uint64_t> naive_line_starts(std::string_view text) {
  std::vector<std::uint64_t> starts{0};
  if (text.empty()) return starts;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\n') starts.push_back(i + 1);
  }
  starts.push_back(text.size());
  return starts;
}

void check_line_index(std::string_view text, const std::vector<std::uint32_t>& picks) {
  const std::vector<std::uint64_t> want = naive_line_starts(text);
  const std::uint64_t feeds = static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
  if (tuvel::count_line_feeds(text) != feeds) fail("count_line_feeds differs", text, std::to_string(feeds));
  if (tuvel::line_starts(text) != want) fail("line_starts differs from the naive index", text, "");
  const std::uint64_t n = tuvel::line_entry_count(text);
  if (n != want.size()) fail("line_entry_count differs", text, std::to_string(n) + " / " + std::to_string(want.size()));

  // Ascending entry numbers, repeats allowed, always with the first and last.
  std::vector<std::uint64_t> ks;
  for (std::uint32_t p : picks) ks.push_back(p % n);
  ks.push_back(0);
  ks.push_back(n - 1);
  std::sort(ks.begin(), ks.end());
  std::vector<std::uint64_t> out(ks.size(), kMax);
  tuvel::line_entries(text, ks, out);
  for (std::size_t i = 0; i < ks.size(); ++i) {
    if (out[i] != want[ks[i]]) {
      fail("line_entries differs", text, "entry " + std::to_string(ks[i]) + ": " + std::to_string(out[i]) + " / " +
                                             std::to_string(want[ks[i]]));
    }
  }
  // Each entry alone, as a read asks for its window.
  for (std::uint64_t k : ks) {
    std::uint64_t one = kMax;
    tuvel::line_entries(text, std::span<const std::uint64_t>(&k, 1), std::span<std::uint64_t>(&one, 1));
    if (one != want[k]) fail("line_entries of one entry differs", text, std::to_string(k));
  }
}

// --- Budget -----------------------------------------------------------------

// Code points a repaired text is built from: the edges of the cost classes.
constexpr std::uint32_t kRepairs[] = {0x00,  0x01,   0x08,   0x09,   0x0A,   0x1F,    0x20,    0x22,
                                      0x5C,  0x7E,   0x7F,   0x80,   0x85,   0x9F,    0xA0,    0xFF,
                                      0x7FF, 0x800,  0x2028, 0xFEFF, 0xFFFD, 0xFFFF,  0x10000, 0x10FFFF};

void append_utf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The character at `i`: its code point and length, or length 0 when the bytes
// there are no valid UTF-8.
std::size_t decode(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const auto c = static_cast<unsigned char>(s[i]);
  const std::size_t len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  const std::uint32_t least = len == 1 ? 0 : len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Valid UTF-8 from any bytes: each byte that starts no valid character
// stands for one of the edge code points instead.
std::string repaired(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::uint32_t cp = 0;
    const std::size_t len = decode(s, i, cp);
    if (len == 0) {
      append_utf8(kRepairs[static_cast<unsigned char>(s[i]) % (sizeof kRepairs / sizeof kRepairs[0])], out);
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

std::size_t cost(std::uint32_t cp, std::size_t len) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == '"' || cp == '\\') return 6;
  return len;
}

struct Cut {
  std::size_t bytes = 0;  ///< length of the prefix kept
  std::size_t spent = 0;  ///< its cost
};

Cut naive_cut(std::string_view window, std::size_t budget) {
  Cut cut;
  while (cut.bytes < window.size()) {
    std::uint32_t cp = 0;
    const std::size_t len = decode(window, cut.bytes, cp);
    const std::size_t c = cost(cp, len);
    if (cut.spent + c > budget) break;
    cut.spent += c;
    cut.bytes += len;
  }
  return cut;
}

std::size_t total_cost(std::string_view window) { return naive_cut(window, std::numeric_limits<std::size_t>::max()).spent; }

std::size_t pick_budget(FuzzedDataProvider& in, std::size_t total) {
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0: return 0;
    case 1: return total;
    case 2: return total == 0 ? 0 : total - 1;
    case 3: return total + 1;
    case 4: return std::numeric_limits<std::size_t>::max();
    case 5: return 65536 - 1024 - 2;
    default: return in.ConsumeIntegralInRange<std::size_t>(0, total + 8);
  }
}

void check_budget(std::string_view window, std::size_t budget) {
  const std::size_t got = tuvel::fitting_prefix(window, budget);
  const Cut want = naive_cut(window, budget);
  if (got != want.bytes) {
    fail("fitting_prefix differs from the naive cut", window,
         "budget " + std::to_string(budget) + ": " + std::to_string(got) + " / " + std::to_string(want.bytes));
  }
  // The costs bound what the encoding really writes of the kept text.
  std::string written;
  tuvel::write_json_string(window.substr(0, got), written);
  if (written.size() - 2 > want.spent) fail("the cost sum is below the encoded length", window, std::to_string(budget));
}

// --- Encoded lengths --------------------------------------------------------

std::uint64_t pick_number(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return 0;
    case 1: return 9;
    case 2: return 10;
    case 3: return kMax;
    case 4: return kMax / 10;
    default: return in.ConsumeIntegral<std::uint64_t>() >> in.ConsumeIntegralInRange<int>(0, 63);
  }
}

tuvel::Json result_object(std::string_view path, std::string_view text, std::uint64_t total_lines, std::uint64_t start,
                          std::uint64_t end, bool truncated) {
  tuvel::JsonObject o;
  o.emplace("path", tuvel::Json(path));
  o.emplace("revision", tuvel::Json(std::string(64, 'f')));
  o.emplace("total_lines", tuvel::Json(total_lines));
  o.emplace("start", tuvel::Json(start));
  o.emplace("end", tuvel::Json(end));
  o.emplace("text", tuvel::Json(text));
  o.emplace("truncated", tuvel::Json(truncated));
  return tuvel::Json(std::move(o));
}

void check_lengths(FuzzedDataProvider& in, std::string_view raw, std::string_view window) {
  // Any bytes: the body length is what write_json_string writes, less the quotes.
  std::string written;
  tuvel::write_json_string(raw, written);
  if (tuvel::json_string_body_length(raw) != written.size() - 2) {
    fail("json_string_body_length differs from write_json_string", raw, std::to_string(written.size()));
  }

  // Results of one read: each measured object, and the list around them.
  tuvel::JsonArray results;
  std::size_t objects = 0;
  const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 3);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t cut = in.ConsumeIntegralInRange<std::size_t>(0, raw.size());
    const std::string_view path = raw.substr(0, cut);
    const std::string_view text = window.substr(0, tuvel::fitting_prefix(window, pick_budget(in, window.size() * 6)));
    const std::uint64_t total_lines = pick_number(in);
    const std::uint64_t start = pick_number(in);
    const std::uint64_t end = pick_number(in);
    const bool truncated = in.ConsumeBool();
    const std::size_t measured = tuvel::encoded_result_length(path, text, total_lines, start, end, truncated);
    tuvel::Json object = result_object(path, text, total_lines, start, end, truncated);
    const std::size_t real = tuvel::to_json(object).size();
    if (measured != real) {
      fail("encoded_result_length differs from the real encoding", text,
           std::to_string(measured) + " / " + std::to_string(real) + " path " + escaped(path));
    }
    objects += measured;
    results.push_back(std::move(object));
  }
  const std::size_t listed = count == 0 ? 2 : objects + count + 1;
  const std::size_t real = tuvel::to_json(tuvel::Json(std::move(results))).size();
  if (listed != real) fail("the list length differs from the real encoding", window, std::to_string(listed) + " / " + std::to_string(real));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Parameters come from the end of the input, the text from the front.
  const auto repeat_selector = in.ConsumeIntegral<std::uint8_t>();
  std::vector<std::uint32_t> picks(in.ConsumeIntegralInRange<std::size_t>(0, 8));
  for (auto& p : picks) p = in.ConsumeIntegral<std::uint32_t>();
  const std::size_t budget_selector_bytes = 16;
  const std::vector<std::uint8_t> params = in.ConsumeBytes<std::uint8_t>(std::min(budget_selector_bytes * 8, in.remaining_bytes() / 2));
  const std::string raw = in.ConsumeRemainingBytesAsString();

  // Repeated up to 256 KiB, so the block-wise skips of line_entries meet
  // texts many blocks long.
  std::string text = raw;
  if (repeat_selector >= 224 && !raw.empty()) {
    const std::size_t times = std::min<std::size_t>(std::size_t{1} << (repeat_selector - 224) % 12, (256 * 1024) / raw.size());
    for (std::size_t i = 1; i < times; ++i) text += raw;
  }
  check_line_index(text, picks);

  FuzzedDataProvider more(params.data(), params.size());
  const std::string window = repaired(raw);
  const std::size_t total = total_cost(window);
  for (int i = 0; i < 3; ++i) check_budget(window, pick_budget(more, total));
  check_lengths(more, raw, window);
  return 0;
}
