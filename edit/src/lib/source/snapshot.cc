// read_snapshot and revision: the bytes of a source and their name.
#include <blake3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "source/source.h"
#include "source/utf8.h"

namespace tuvel {
namespace {

// The read stops one byte past the limit, so growth past it is seen without
// reading an unbounded file.
constexpr std::size_t kReadBound = MAX_SOURCE_BYTES + 1;

}  // namespace

Result<std::string> read_snapshot(Source& source) {
  if (source.status.st_size > static_cast<off_t>(MAX_SOURCE_BYTES)) return Error::plain("source exceeds 16 MiB");

  // One byte beyond the recorded size lets the usual case end with a single
  // read of the content and one read at end of file.
  std::string bytes;
  std::size_t capacity = static_cast<std::size_t>(source.status.st_size) + 1;
  bytes.resize(capacity);
  std::size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      if (capacity == kReadBound) break;
      capacity = capacity * 2 < kReadBound ? capacity * 2 : kReadBound;
      bytes.resize(capacity);
    }
    const ssize_t got = ::read(source.file.get(), bytes.data() + filled, capacity - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Error::os(errno);
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > MAX_SOURCE_BYTES) return Error::plain("source grew beyond 16 MiB");
  bytes.resize(filled);

  TUVEL_CHECK(check_identity(source));
  if (std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) return Error::plain("source contains NUL");
  if (const auto error = find_utf8_error(bytes)) return Error::with_cause("source is not UTF-8", describe(*error));
  return bytes;
}

std::string revision(std::string_view bytes) {
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  unsigned char digest[BLAKE3_OUT_LEN];
  blake3_hasher_finalize(&hasher, digest, BLAKE3_OUT_LEN);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(2 * BLAKE3_OUT_LEN, '0');
  for (std::size_t i = 0; i < BLAKE3_OUT_LEN; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return text;
}

}  // namespace tuvel
