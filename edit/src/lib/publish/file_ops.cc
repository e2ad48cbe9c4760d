// SPDX-License-Identifier: Apache-2.0
#include "publish/file_ops.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace tuvel {

Status full_sync(int fd) {
  // On Linux fsync asks the device to flush its cache as well (with barriers
  // on, the default), which is what F_FULLFSYNC gives elsewhere.
  while (::fsync(fd) != 0) {
    if (errno != EINTR) return Error::os(errno);
  }
  return {};
}

namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";

/// Reads a size-probed xattr call into `buf`, probing again if the value grew
/// between the probe and the read.
template <class Call>
Status read_sized(std::vector<char>& buf, Call call) {
  for (;;) {
    ssize_t size = call(nullptr, 0);
    if (size < 0) return Error::os(errno);
    buf.resize(static_cast<std::size_t>(size));
    if (size == 0) return {};
    ssize_t got = call(buf.data(), buf.size());
    if (got >= 0) {
      buf.resize(static_cast<std::size_t>(got));
      return {};
    }
    if (errno != ERANGE) return Error::os(errno);
  }
}

}  // namespace

Status copy_acl_and_xattrs(int from, int to) {
  std::vector<char> names;
  Status listed = read_sized(names, [from](char* b, std::size_t n) { return ::flistxattr(from, b, n); });
  if (!listed) {
    // No extended attributes on this file system means none to carry over,
    // and no ACL either.
    if (listed.error().os_errno() == ENOTSUP) return {};
    return listed;
  }
  std::vector<char> value;
  bool has_acl = false;
  for (std::size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    std::size_t len = std::char_traits<char>::length(name);
    at += len + 1;
    if (len == 0) continue;
    if (std::string_view(name, len) == kAccessAcl) has_acl = true;
    TUVEL_CHECK(read_sized(value, [from, name](char* b, std::size_t n) { return ::fgetxattr(from, name, b, n); }));
    if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) return Error::os(errno);
  }
  // A default ACL of the directory gives a new file an access ACL; the
  // replacement must not grant what the source did not.
  if (!has_acl && ::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
    return Error::os(errno);
  return {};
}

}  // namespace tuvel
