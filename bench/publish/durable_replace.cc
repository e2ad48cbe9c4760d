// The least a durable replace can do: write a temporary file next to the
// target, flush it, rename it over the target, flush the directory. The
// benchmark compares `tuvel-edit apply` with this.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

int fail(const char* what) {
  std::perror(what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <target> <file with the new bytes>\n", argv[0]);
    return 2;
  }
  const std::string target = argv[1];
  const std::string temp = target + ".tmp";
  const auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash);

  std::string bytes;
  int in = ::open(argv[2], O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("open input");
  char buf[1 << 16];
  for (ssize_t n; (n = ::read(in, buf, sizeof buf)) != 0;) {
    if (n < 0) return fail("read");
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(in);

  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return fail("open temp");
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(out, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return fail("write");
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(out) != 0) return fail("fsync");
  ::close(out);
  if (::rename(temp.c_str(), target.c_str()) != 0) return fail("rename");
  int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0 || ::fsync(d) != 0) return fail("fsync dir");
  ::close(d);
  return 0;
}
