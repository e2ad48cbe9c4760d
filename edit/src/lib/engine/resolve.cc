// SPDX-License-Identifier: Apache-2.0
#include "engine/resolve.h"

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/search.h"
#include "read/line_index.h"

namespace tuvel {

namespace {

/// A lines change whose offsets are still line-index entry numbers.
struct PendingLines {
  std::size_t change;  ///< position in the change list
  std::uint64_t start_entry;
  std::uint64_t end_entry;
};

Error too_many_matches() { return Error::plain("too many replacement matches"); }

/// Appends the occurrences of `old` in `text` (non-overlapping, left to right)
/// while `keep` allows, and counts them up to MAX_REPLACEMENTS + 1.
std::uint64_t find_occurrences(std::string_view text, std::string_view old, std::string_view replacement,
                               std::uint64_t keep, std::vector<Change>& changes) {
  OccurrenceFinder finder(text, old);
  std::uint64_t found = 0;
  while (found <= MAX_REPLACEMENTS) {
    const std::size_t at = finder.next();
    if (at == OccurrenceFinder::npos) break;
    if (found < keep) changes.push_back(Change{replacement, at, at + old.size()});
    ++found;
  }
  return found;
}

/// Turns the entry numbers of lines changes into byte offsets with one scan.
void place_lines(std::string_view text, const std::vector<PendingLines>& pending, std::vector<Change>& changes) {
  std::vector<std::pair<std::uint64_t, std::uint64_t*>> wanted;
  wanted.reserve(pending.size() * 2);
  for (const PendingLines& p : pending) {
    wanted.emplace_back(p.start_entry, &changes[p.change].start_byte);
    wanted.emplace_back(p.end_entry, &changes[p.change].end_byte);
  }
  std::sort(wanted.begin(), wanted.end());
  std::vector<std::uint64_t> ks(wanted.size());
  std::vector<std::uint64_t> offsets(wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) ks[i] = wanted[i].first;
  line_entries(text, ks, offsets);
  for (std::size_t i = 0; i < wanted.size(); ++i) *wanted[i].second = offsets[i];
}

bool by_range(const Change& a, const Change& b) {
  return a.start_byte != b.start_byte ? a.start_byte < b.start_byte : a.end_byte < b.end_byte;
}

}  // namespace

Result<std::vector<Change>> resolve(std::string_view text, const std::vector<Edit>& edits,
                                    std::optional<std::uint64_t> line_feeds) {
  if (edits.empty() || edits.size() > MAX_EDITS) return Error::plain("apply accepts 1..256 edits");

  // N costs a scan of the text unless its line feeds are known, so it is
  // counted only once a lines edit needs it.
  std::uint64_t entry_count = 0;
  std::vector<Change> changes;
  std::vector<PendingLines> pending;

  for (const Edit& edit : edits) {
    if (const auto* lines = std::get_if<Edit::Lines>(&edit.kind)) {
      if (entry_count == 0) entry_count = line_feeds ? line_entry_count(text, *line_feeds) : line_entry_count(text);
      if (lines->start < 1 || lines->start > lines->end || lines->end > entry_count) {
        return invalid_range(entry_count);
      }
      pending.push_back(PendingLines{changes.size(), lines->start - 1, lines->end - 1});
      changes.push_back(Change{lines->text, 0, 0});
      continue;
    }
    const auto& replace = std::get<Edit::Replace>(edit.kind);
    if (replace.old_text.empty() || replace.count == 0) {
      return Error::plain("replace requires nonempty old text and positive count");
    }
    // Keep offsets only while they can still be accepted, so a bad count or
    // an oversized total never grows the list beyond the limit.
    const std::uint64_t room = MAX_REPLACEMENTS - std::min<std::uint64_t>(changes.size(), MAX_REPLACEMENTS);
    const std::uint64_t keep = std::min(replace.count, room);
    // Grow geometrically: many replace edits must not copy the list each time.
    const std::size_t wanted = changes.size() + static_cast<std::size_t>(keep);
    if (wanted > changes.capacity()) {
      changes.reserve(std::max(wanted, std::min<std::size_t>(2 * changes.capacity(), MAX_REPLACEMENTS + MAX_EDITS)));
    }
    const std::size_t before = changes.size();
    const std::uint64_t found = find_occurrences(text, replace.old_text, replace.new_text, keep, changes);
    if (found > MAX_REPLACEMENTS) return too_many_matches();
    if (found != replace.count) {
      return Error::edit(EditCode::MatchCount, "expected " + std::to_string(replace.count) + " exact matches, found " +
                                                   std::to_string(found) + "; source was not changed");
    }
    if (before + replace.count > MAX_REPLACEMENTS) return too_many_matches();
  }

  if (!pending.empty()) place_lines(text, pending, changes);

  // Each edit's changes are already ascending; one edit alone needs no sort.
  if (!std::is_sorted(changes.begin(), changes.end(), by_range)) std::sort(changes.begin(), changes.end(), by_range);

  for (std::size_t i = 1; i < changes.size(); ++i) {
    const Change& a = changes[i - 1];
    const Change& b = changes[i];
    if (a.end_byte > b.start_byte || a.start_byte == b.start_byte) {
      return Error::edit(EditCode::OverlappingEdits, "edits overlap or share an insertion point");
    }
  }

  // Every edit contributed at least one change, so scanning each edit's
  // replacement once decides the same as scanning every change.
  for (const Edit& edit : edits) {
    const std::string& replacement = std::visit(
        [](const auto& e) -> const std::string& {
          if constexpr (std::is_same_v<std::decay_t<decltype(e)>, Edit::Lines>) return e.text;
          else return e.new_text;
        },
        edit.kind);
    if (replacement.find('\0') != std::string::npos) return Error::plain("replacement contains NUL");
  }

  return changes;
}

}  // namespace tuvel
