// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/package_checksums.h"

#include <fcntl.h>

#include <md5.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <system_error>

#include "engine/pocketsphinx/unique_fd.h"

namespace tuvel::speech::pocketsphinx {
namespace {

constexpr const char* PACKAGE_DATABASE = "/var/lib/dpkg/info/";
constexpr std::size_t MD5_HEX = 32;
constexpr std::size_t READ_BYTES = std::size_t{256} * 1024;

PlatformError osError(const std::string& path, int error) {
  return PlatformError{path + ": " + std::error_code(error, std::generic_category()).message()};
}

// Reads the file at `path` through `buffer` from start to end, handing each
// piece read to `take`.
template <class Take>
Expected<void> readPieces(const std::string& path, std::span<std::uint8_t> buffer, Take take) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return osError(path, errno);
  (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return osError(path, errno);
    if (n == 0) return {};
    take(buffer.first(static_cast<std::size_t>(n)));
  }
}

Expected<std::string> readAll(const std::string& path) {
  std::string text;
  std::uint8_t buffer[8192];
  Expected<void> read = readPieces(path, buffer, [&](std::span<const std::uint8_t> piece) {
    text.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  });
  if (!read) return std::move(read).error();
  return text;
}

}  // namespace

Expected<std::vector<RecordedFile>> recordedFiles(const std::string& package,
                                                  const std::string& directory) {
  const std::string list = PACKAGE_DATABASE + package + ".md5sums";
  Expected<std::string> text = readAll(list);
  if (!text) return std::move(text).error();
  // Each line: the digest, two spaces, the path without its leading slash.
  const std::string prefix = directory + "/";
  std::vector<RecordedFile> files;
  std::string_view rest = text.value();
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.size() <= MD5_HEX + 2 || line.substr(MD5_HEX, 2) != "  ")
      return PlatformError{list + ": not a checksum list"};
    std::string path = "/" + std::string(line.substr(MD5_HEX + 2));
    if (path.starts_with(prefix)) files.push_back({std::move(path), std::string(line.substr(0, MD5_HEX))});
  }
  return files;
}

Expected<std::string> fileMd5(const std::string& path) {
  MD5_CTX context;
  MD5Init(&context);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[READ_BYTES]);
  Expected<void> read =
      readPieces(path, {buffer.get(), READ_BYTES}, [&](std::span<const std::uint8_t> piece) {
        MD5Update(&context, piece.data(), piece.size());
      });
  if (!read) return std::move(read).error();
  char hex[MD5_DIGEST_STRING_LENGTH];
  MD5End(&context, hex);
  return std::string(hex);
}

}  // namespace tuvel::speech::pocketsphinx
