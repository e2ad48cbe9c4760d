// SPDX-License-Identifier: Apache-2.0
/* The least a durable replace can do: read the new bytes from a file, write
 * them to a temporary file next to the target, flush it, rename it over the
 * target, flush the directory. The benchmark compares `tuvel-edit apply`
 * with this. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int fail(const char* what) {
  perror(what);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s <target> <file with the new bytes>\n", argv[0]);
    return 2;
  }
  const char* target = argv[1];
  char temp[4096];
  char dir[4096];
  if (snprintf(temp, sizeof temp, "%s.tmp", target) >= (int)sizeof temp) return fail("target name");
  const char* slash = strrchr(target, '/');
  if (slash == NULL) {
    strcpy(dir, ".");
  } else {
    snprintf(dir, sizeof dir, "%.*s", (int)(slash - target), target);
  }

  int in = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail("open input");
  struct stat st;
  if (fstat(in, &st) != 0) return fail("fstat input");
  size_t size = (size_t)st.st_size;
  char* bytes = malloc(size + 1);
  if (bytes == NULL) return fail("malloc");
  size_t got = 0;
  for (;;) {
    ssize_t n = read(in, bytes + got, size + 1 - got);
    if (n < 0) return fail("read");
    if (n == 0) break;
    got += (size_t)n;
    if (got > size) return fail("input grew");
  }
  close(in);

  int out = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return fail("open temp");
  for (size_t done = 0; done < got;) {
    ssize_t n = write(out, bytes + done, got - done);
    if (n <= 0) return fail("write");
    done += (size_t)n;
  }
  if (fsync(out) != 0) return fail("fsync");
  close(out);
  if (rename(temp, target) != 0) return fail("rename");
  int d = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0 || fsync(d) != 0) return fail("fsync dir");
  close(d);
  free(bytes);
  return 0;
}
