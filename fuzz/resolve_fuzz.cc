// SPDX-License-Identifier: Apache-2.0
// Fuzz target for edit resolution and the new content. From the input it
// derives a UTF-8 snapshot without NUL and a list of lines and replace edits
// (with edge values: 0, N, N + 1, the largest counts, the true match count
// and its neighbours). A plain reference, written from the documented steps
// with naive line starts and a naive occurrence scan, decides the same
// request independently. It checks that
// - resolve accepts exactly when the reference does, and refuses with the
//   reference's first failure (code and message),
// - accepted changes are sorted, disjoint, with distinct starts, inside the
//   text, on character boundaries and free of NUL, and equal the reference's,
// - new_length and build_content give the reference's new text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/content.h"
#include "engine/resolve.h"
#include "source/source.h"

namespace {

using tuvel::Edit;
using tuvel::EditCode;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// Few distinct pieces, so replace edits find many occurrences and lines meet
// multi-byte characters and carriage returns.
constexpr std::string_view kPieces[] = {"a", "b", "\n", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\r", "ab", "\n\n"};
constexpr std::size_t kPieceCount = sizeof kPieces / sizeof kPieces[0];

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

struct Case {
  std::string text;
  std::vector<Edit> edits;
};

[[noreturn]] void fail(const char* what, const Case& c, const std::string& detail) {
  std::fprintf(stderr, "%s\n  detail: %s\n  text (%zu bytes): %s\n  edits:\n", what, detail.c_str(), c.text.size(),
               escaped(c.text).c_str());
  for (std::size_t i = 0; i < c.edits.size() && i < 16; ++i) {
    if (const auto* l = std::get_if<Edit::Lines>(&c.edits[i].kind)) {
      std::fprintf(stderr, "    lines %llu..%llu [%s]\n", static_cast<unsigned long long>(l->start),
                   static_cast<unsigned long long>(l->end), escaped(l->text).c_str());
    } else {
      const auto& r = std::get<Edit::Replace>(c.edits[i].kind);
      std::fprintf(stderr, "    replace [%s] -> [%s] x%llu\n", escaped(r.old_text).c_str(), escaped(r.new_text).c_str(),
                   static_cast<unsigned long long>(r.count));
    }
  }
  if (c.edits.size() > 16) std::fprintf(stderr, "    ... %zu edits\n", c.edits.size());
  std::abort();
}

// --- The reference -------------------------------------------------------

__attribute__((no_sanitize("coverage"))) std::vector<std::uint64_t> naive_line_starts(std::string_view text) {
  std::vector<std::uint64_t> starts{0};
  if (text.empty()) return starts;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\n') starts.push_back(i + 1);
  }
  starts.push_back(text.size());
  return starts;
}

// Non-overlapping occurrences from offset 0, at most `limit`. Byte by byte
// and outside the coverage feedback: it runs over large texts.
__attribute__((no_sanitize("coverage"))) std::vector<std::uint64_t> naive_occurrences(std::string_view text,
                                                                                      std::string_view old,
                                                                                      std::size_t limit) {
  std::vector<std::uint64_t> found;
  std::size_t pos = 0;
  while (pos + old.size() <= text.size() && found.size() < limit) {
    std::size_t k = 0;
    while (k < old.size() && text[pos + k] == old[k]) ++k;
    if (k == old.size()) {
      found.push_back(pos);
      pos += old.size();
    } else {
      ++pos;
    }
  }
  return found;
}

struct RefChange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::string_view replacement;
};

struct Verdict {
  bool ok = false;
  bool is_edit = false;
  EditCode code = EditCode::InvalidRange;
  std::string message;
  std::vector<RefChange> changes;
};

Verdict refuse_plain(std::string message) { return Verdict{false, false, EditCode::InvalidRange, std::move(message), {}}; }
Verdict refuse(EditCode code, std::string message) { return Verdict{false, true, code, std::move(message), {}}; }

Verdict reference(std::string_view text, const std::vector<Edit>& edits) {
  if (edits.empty() || edits.size() > 256) return refuse_plain("apply accepts 1..256 edits");
  const std::vector<std::uint64_t> starts = naive_line_starts(text);
  const std::uint64_t n = starts.size();
  std::vector<RefChange> changes;
  for (const Edit& edit : edits) {
    if (const auto* l = std::get_if<Edit::Lines>(&edit.kind)) {
      if (!(l->start >= 1 && l->start <= l->end && l->end <= n)) {
        return refuse(EditCode::InvalidRange, "expected 1 <= start <= end <= " + std::to_string(n) + "; end is exclusive");
      }
      changes.push_back(RefChange{starts[l->start - 1], starts[l->end - 1], l->text});
      continue;
    }
    const auto& r = std::get<Edit::Replace>(edit.kind);
    if (r.old_text.empty() || r.count == 0) return refuse_plain("replace requires nonempty old text and positive count");
    const std::vector<std::uint64_t> found = naive_occurrences(text, r.old_text, 100001);
    if (found.size() > 100000) return refuse_plain("too many replacement matches");
    if (found.size() != r.count) {
      return refuse(EditCode::MatchCount, "expected " + std::to_string(r.count) + " exact matches, found " +
                                              std::to_string(found.size()) + "; source was not changed");
    }
    if (changes.size() + r.count > 100000) return refuse_plain("too many replacement matches");
    for (std::uint64_t p : found) changes.push_back(RefChange{p, p + r.old_text.size(), r.new_text});
  }
  std::sort(changes.begin(), changes.end(),
            [](const RefChange& a, const RefChange& b) { return a.start != b.start ? a.start < b.start : a.end < b.end; });
  for (std::size_t i = 1; i < changes.size(); ++i) {
    if (changes[i - 1].end > changes[i].start || changes[i - 1].start == changes[i].start) {
      return refuse(EditCode::OverlappingEdits, "edits overlap or share an insertion point");
    }
  }
  for (const RefChange& c : changes) {
    if (c.replacement.find('\0') != std::string_view::npos) return refuse_plain("replacement contains NUL");
  }
  Verdict v;
  v.ok = true;
  v.changes = std::move(changes);
  return v;
}

std::string naive_apply(std::string_view text, const std::vector<RefChange>& changes) {
  std::string out;
  std::size_t cursor = 0;
  for (const RefChange& c : changes) {
    out.append(text.substr(cursor, c.start - cursor));
    out.append(c.replacement);
    cursor = c.end;
  }
  out.append(text.substr(cursor));
  return out;
}

// --- The input ------------------------------------------------------------

std::string piece_text(FuzzedDataProvider& in, std::size_t max_pieces, bool nul_allowed) {
  std::string s;
  const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, max_pieces);
  for (std::size_t i = 0; i < count; ++i) {
    const auto pick = in.ConsumeIntegral<std::uint8_t>();
    if (nul_allowed && pick == 0xFF) {
      s.push_back('\0');
    } else {
      s.append(kPieces[pick % kPieceCount]);
    }
  }
  return s;
}

std::uint64_t line_number(FuzzedDataProvider& in, std::uint64_t n) {
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return 0;
    case 1: return 1;
    case 2: return n;
    case 3: return n + 1;
    case 4: return n - 1;
    case 5: return kMax;
    case 6: return std::uint64_t{1} << 63;
    case 7: return n + 2;
    default: return in.ConsumeIntegralInRange<std::uint64_t>(1, n);
  }
}

Edit lines_edit(FuzzedDataProvider& in, std::uint64_t n) {
  Edit::Lines l;
  l.start = line_number(in, n);
  // Mostly a range that starts where asked and ends a little later.
  if (in.ConsumeBool()) {
    l.end = l.start + in.ConsumeIntegralInRange<std::uint64_t>(0, 3);
  } else {
    l.end = line_number(in, n);
  }
  l.text = piece_text(in, 4, true);
  return Edit{l};
}

Edit replace_edit(FuzzedDataProvider& in, const std::string& text, const std::vector<std::size_t>& bounds) {
  Edit::Replace r;
  if (in.ConsumeBool() && bounds.size() > 1) {
    // A piece of the snapshot, cut at character boundaries.
    const std::size_t a = in.ConsumeIntegralInRange<std::size_t>(0, bounds.size() - 1);
    const std::size_t b = std::min(bounds.size() - 1, a + in.ConsumeIntegralInRange<std::size_t>(0, 4));
    r.old_text = text.substr(bounds[a], bounds[b] - bounds[a]);
  } else {
    r.old_text = piece_text(in, 3, false);
  }
  r.new_text = piece_text(in, 3, true);
  const std::uint64_t found =
      r.old_text.empty() ? 0 : naive_occurrences(text, r.old_text, 100001).size();
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: r.count = 0; break;
    case 1: r.count = found + 1; break;
    case 2: r.count = found - 1; break;  // wraps to the largest count when none
    case 3: r.count = kMax; break;
    case 4: r.count = 100000; break;
    case 5: r.count = 100001; break;
    case 6: r.count = in.ConsumeIntegralInRange<std::uint64_t>(1, 5); break;
    default: r.count = found; break;
  }
  return Edit{r};
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if (!continuation(static_cast<unsigned char>(s[i + k]))) return false;
    }
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Case c;

  // The snapshot: pieces, the whole sometimes repeated to reach the match
  // limit; character boundaries remembered for cutting old texts.
  const auto edit_selector = in.ConsumeIntegral<std::uint8_t>();
  const std::size_t edit_count = edit_selector < 248 ? edit_selector % 9u : edit_selector % 2 == 0 ? 256 : 257;
  const auto repeat_selector = in.ConsumeIntegral<std::uint8_t>();
  std::vector<std::size_t> bounds{0};
  std::string base;
  const std::size_t pieces = in.ConsumeIntegralInRange<std::size_t>(0, 64);
  for (std::size_t i = 0; i < pieces; ++i) {
    base.append(kPieces[in.ConsumeIntegral<std::uint8_t>() % kPieceCount]);
    bounds.push_back(base.size());
  }
  // At most 128 KiB, enough for more than 100,000 one-byte matches.
  std::size_t repeat = 1;
  if (edit_count <= 8 && repeat_selector >= 240 && !base.empty()) {
    repeat = std::min(std::size_t{1} << (repeat_selector - 240 + 4), std::size_t{128 * 1024} / base.size());
    repeat = std::max<std::size_t>(repeat, 1);
  }
  c.text.reserve(base.size() * repeat);
  for (std::size_t i = 0; i < repeat; ++i) c.text += base;

  const std::uint64_t n = naive_line_starts(c.text).size();
  for (std::size_t i = 0; i < edit_count; ++i) {
    c.edits.push_back(in.ConsumeBool() ? lines_edit(in, n) : replace_edit(in, c.text, bounds));
  }

  const Verdict expected = reference(c.text, c.edits);
  auto resolved = tuvel::resolve(c.text, c.edits);

  if (!resolved.ok()) {
    const tuvel::Error& error = resolved.error();
    if (expected.ok) fail("resolve refuses what the reference accepts", c, error.render());
    const bool same_kind = error.is_edit() == expected.is_edit &&
                           (!expected.is_edit || error.code() == tuvel::code_name(expected.code));
    if (!same_kind || error.render() != expected.message) {
      fail("resolve refuses differently from the reference", c,
           std::string(error.code()) + ": " + error.render() + " / expected " + expected.message);
    }
    return 0;
  }
  if (!expected.ok) fail("resolve accepts what the reference refuses", c, expected.message);

  const std::vector<tuvel::Change>& changes = *resolved;
  const std::string_view text = c.text;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const tuvel::Change& ch = changes[i];
    if (ch.start_byte > ch.end_byte || ch.end_byte > text.size()) fail("change outside the text", c, std::to_string(i));
    for (std::uint64_t at : {ch.start_byte, ch.end_byte}) {
      if (at < text.size() && continuation(static_cast<unsigned char>(text[at]))) {
        fail("change splits a character", c, std::to_string(i));
      }
    }
    if (ch.replacement.find('\0') != std::string_view::npos) fail("replacement with NUL accepted", c, std::to_string(i));
    if (i > 0) {
      const tuvel::Change& prev = changes[i - 1];
      if (prev.start_byte >= ch.start_byte) fail("changes unsorted or sharing a start", c, std::to_string(i));
      if (prev.end_byte > ch.start_byte) fail("changes overlap", c, std::to_string(i));
    }
  }
  if (changes.size() != expected.changes.size()) {
    fail("change count differs from the reference", c,
         std::to_string(changes.size()) + " / " + std::to_string(expected.changes.size()));
  }
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const RefChange& e = expected.changes[i];
    if (changes[i].start_byte != e.start || changes[i].end_byte != e.end || changes[i].replacement != e.replacement) {
      fail("change differs from the reference", c, std::to_string(i));
    }
  }

  const std::string want = naive_apply(text, expected.changes);
  auto length = tuvel::new_length(text, changes);
  if (!length.ok()) {
    if (want.size() <= tuvel::MAX_SOURCE_BYTES) fail("new_length refuses a result within the limit", c, length.error().render());
    if (length.error().render() != "result exceeds 16 MiB") fail("new_length refuses with another text", c, length.error().render());
    return 0;
  }
  if (*length != want.size()) fail("new_length differs from the reference", c, std::to_string(*length));
  const tuvel::Content content = tuvel::build_content(text, changes, *length);
  if (content.view() != want) fail("built content differs from the reference", c, escaped(content.view()));
  if (!valid_utf8(content.view()) || content.view().find('\0') != std::string_view::npos) {
    fail("built content is not NUL-free UTF-8", c, escaped(content.view()));
  }
  return 0;
}
