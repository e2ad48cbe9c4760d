// SPDX-License-Identifier: Apache-2.0
// read_snapshot and revision: the bytes of a source and their name.
#include <blake3.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "source/source.h"
#include "source/text_buffer.h"
#include "source/text_rules.h"
#include "source/utf8.h"

namespace tuvel {
namespace {

// The read stops one byte past the limit, so growth past it is seen without
// reading an unbounded file.
constexpr std::size_t kReadBound = MAX_SOURCE_BYTES + 1;

Error source_grew() { return Error::plain("source grew beyond 16 MiB"); }

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Makes room for `capacity` bytes. A fresh large buffer would otherwise take
// one page fault per 4 KiB, which costs more than reading the file: ask for
// huge pages and map it all in one call (advice only; failures ignored).
void reserve_buffer(std::string& bytes, std::size_t capacity) {
  constexpr std::size_t kLarge = std::size_t{256} * 1024;
  if (capacity < kLarge || capacity <= bytes.capacity()) return;
  bytes.reserve(capacity);
  constexpr std::uintptr_t kPage = 4096;
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} * 1024 * 1024;
  const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t end = begin + capacity;
  const std::uintptr_t huge_begin = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t huge_end = end & ~(kHuge - 1);
  // madvise wants page-aligned addresses, so they are worked out as integers.
  if (huge_begin < huge_end) (void)::madvise(reinterpret_cast<void*>(huge_begin), huge_end - huge_begin, MADV_HUGEPAGE);  // NOLINT(performance-no-int-to-ptr)
  const std::uintptr_t page_begin = begin & ~(kPage - 1);
  const std::uintptr_t page_end = (end + kPage - 1) & ~(kPage - 1);
  (void)::madvise(reinterpret_cast<void*>(page_begin), page_end - page_begin, MADV_POPULATE_WRITE);  // NOLINT(performance-no-int-to-ptr)
}

// Reads come in pieces small enough to stay in cache, and each piece is
// hashed and checked just after it arrived. Read whole into a large buffer,
// the bytes would go out to memory and every pass fetch them back.
constexpr std::size_t kPiece = std::size_t{64} * 1024;

std::string hex_digest(blake3_hasher& hasher) {
  constexpr std::size_t kDigestBytes = BLAKE3_OUT_LEN;
  unsigned char digest[kDigestBytes];
  blake3_hasher_finalize(&hasher, digest, kDigestBytes);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(2 * kDigestBytes, '0');
  for (std::size_t i = 0; i < kDigestBytes; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return text;
}

}  // namespace

namespace {

void prepare(std::string& bytes, std::size_t capacity) { reserve_buffer(bytes, capacity); }
void prepare(TextBuffer& bytes, std::size_t capacity) { bytes.reserve(capacity); }

// One read of at most `limit` bytes onto the end of `bytes`. A TextBuffer
// takes them straight into its room, which is not copied again; a string
// through a piece on the stack.
ssize_t read_onto(int fd, TextBuffer& bytes, std::size_t limit) {
  const std::size_t room = bytes.capacity() - bytes.size();
  const std::size_t n = std::min({room == 0 ? kPiece : room, kPiece, limit});
  const ssize_t got = ::read(fd, bytes.room_at_end(n), n);
  if (got > 0) bytes.extend(static_cast<std::size_t>(got));
  return got;
}
ssize_t read_onto(int fd, std::string& bytes, std::size_t limit) {
  alignas(64) char piece[kPiece];
  const ssize_t got = ::read(fd, piece, std::min(kPiece, limit));
  if (got > 0) bytes.append(piece, static_cast<std::size_t>(got));
  return got;
}

// The snapshot steps into `bytes`; hashes the bytes too when given a hasher.
// Gives the line feed count.
template <class Buffer>
Result<std::uint64_t> read_into(Source& source, Buffer& bytes, blake3_hasher* hasher) {
  if (source.status.st_size > static_cast<off_t>(MAX_SOURCE_BYTES)) return source_too_large();

  // One byte beyond the recorded size lets the usual case end with the
  // content and one read at end of file; a file that grew makes it grow.
  prepare(bytes, static_cast<std::size_t>(source.status.st_size) + 1);
  TextScan scan;
  while (bytes.size() < kReadBound) {
    const std::size_t from = bytes.size();
    const ssize_t got = read_onto(source.file.get(), bytes, kReadBound - from);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (got == 0) break;
    if (hasher != nullptr) blake3_hasher_update(hasher, bytes.data() + from, static_cast<std::size_t>(got));
    scan.advance(std::string_view(bytes.data(), bytes.size()));
  }
  if (bytes.size() > MAX_SOURCE_BYTES) return source_grew();

  TUVEL_CHECK(check_identity(source));
  scan.finish(std::string_view(bytes.data(), bytes.size()));
  if (scan.has_nul()) return source_contains_nul();
  if (const auto& error = scan.error()) return source_not_utf8(*error);
  return scan.line_feeds();
}

}  // namespace

Result<Snapshot> read_snapshot_and_revision(Source& source) {
  Snapshot snapshot;
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  TUVEL_TRY(snapshot.line_feeds, read_into(source, snapshot.text, &hasher));
  snapshot.revision = hex_digest(hasher);
  return snapshot;
}

Result<std::string> read_snapshot(Source& source) {
  std::string bytes;
  TUVEL_TRY(const std::uint64_t line_feeds, read_into(source, bytes, nullptr));
  (void)line_feeds;
  return bytes;
}

Result<bool> snapshot_matches(Source& source, std::string_view expected) {
  if (source.status.st_size > static_cast<off_t>(MAX_SOURCE_BYTES)) return source_too_large();
  // While the bytes read equal the start of `expected` only their count is
  // kept: they are known to be text. From the first difference on they are
  // collected, so that the snapshot rules judge them as read_snapshot would.
  alignas(64) char piece[kPiece];
  std::size_t total = 0;
  bool same = true;
  std::string differing;
  while (total < kReadBound) {
    const ssize_t got = ::read(source.file.get(), piece, std::min(kPiece, kReadBound - total));
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (got == 0) break;
    const auto n = static_cast<std::size_t>(got);
    if (same && n <= expected.size() - total && std::memcmp(piece, expected.data() + total, n) == 0) {
      total += n;
      continue;
    }
    if (same) differing.assign(expected.substr(0, total));
    same = false;
    differing.append(piece, n);
    total += n;
  }
  if (same && total == expected.size()) {
    TUVEL_CHECK(check_identity(source));
    return true;
  }
  if (same) differing.assign(expected.substr(0, total));
  if (differing.size() > MAX_SOURCE_BYTES) return source_grew();
  TUVEL_CHECK(check_identity(source));
  TUVEL_CHECK(check_source_text(differing));
  return false;
}

std::string revision(std::string_view bytes) { return revision(std::span<const std::string_view>(&bytes, 1)); }

std::string revision(std::span<const std::string_view> parts) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  for (const std::string_view part : parts) blake3_hasher_update(&hasher, part.data(), part.size());
  return hex_digest(hasher);
}

}  // namespace tuvel
