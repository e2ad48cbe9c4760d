// SPDX-License-Identifier: Apache-2.0
/* Fault injection for tests, loaded with LD_PRELOAD into a tuvel-edit run.
 *
 * TUVEL_FAULT is a comma-separated list of rules:
 *   write:ERR       write to a regular file fails with ERR
 *   write_short     write to a regular file takes at most half the buffer
 *   write_zero      write to a regular file reports 0 bytes
 *   fsync:ERR       fsync of a regular file fails
 *   fsync_dir:ERR   fsync of a directory fails
 *   fchmod:ERR      fchmod fails
 *   renameat:ERR    renameat fails
 *   renameat2:ERR   renameat2 fails (EINVAL: a file system without its flags)
 *   openat_staging:ERR   creating a ".tuvel-edit-" name fails
 *   flistxattr:ERR  flistxattr fails
 *   fsetxattr:ERR   fsetxattr fails
 *   openat2:ERR     the openat2 system call, made through syscall(), fails
 *                   (ENOSYS: a kernel without it)
 *   eintr_all       read, write, fsync and fchmod fail with EINTR every other
 *                   call, on every descriptor
 * ERR is a name such as EIO or ENOSPC, or a number. Writes to the standard
 * descriptors, pipes and terminals are never touched, so the envelope still
 * reaches the test. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

enum rule {
  R_WRITE,
  R_WRITE_SHORT,
  R_WRITE_ZERO,
  R_FSYNC,
  R_FSYNC_DIR,
  R_FCHMOD,
  R_RENAMEAT,
  R_OPENAT_STAGING,
  R_FLISTXATTR,
  R_FSETXATTR,
  R_EINTR_ALL,
  R_RENAMEAT2,
  R_OPENAT2,
  R_COUNT
};

static const char* const rule_names[R_COUNT] = {
    "write",    "write_short",    "write_zero", "fsync",     "fsync_dir", "fchmod",
    "renameat", "openat_staging", "flistxattr", "fsetxattr", "eintr_all",
    "renameat2", "openat2",
};

static int parsed;
static int active[R_COUNT];
static int errs[R_COUNT];

static int parse_errno(const char* s, size_t n) {
  static const struct { const char* name; int value; } known[] = {
      {"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EXDEV", EXDEV}, {"ENOTSUP", ENOTSUP},
      {"EPERM", EPERM},   {"EACCES", EACCES}, {"EDQUOT", EDQUOT}, {"EINTR", EINTR},
      {"EROFS", EROFS},   {"EINVAL", EINVAL}, {"EBADF", EBADF},   {"EMFILE", EMFILE},
      {"ENOSYS", ENOSYS},
  };
  for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i)
    if (strlen(known[i].name) == n && strncmp(known[i].name, s, n) == 0) return known[i].value;
  int v = 0;
  for (size_t i = 0; i < n && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10 + (s[i] - '0');
  return v > 0 ? v : EIO;
}

static void parse(void) {
  if (parsed) return;
  parsed = 1;
  const char* rules = getenv("TUVEL_FAULT");
  if (rules == NULL) return;
  while (*rules) {
    const char* end = strchr(rules, ',');
    size_t len = end ? (size_t)(end - rules) : strlen(rules);
    const char* colon = memchr(rules, ':', len);
    size_t name_len = colon ? (size_t)(colon - rules) : len;
    for (int r = 0; r < R_COUNT; ++r) {
      if (strlen(rule_names[r]) == name_len && strncmp(rule_names[r], rules, name_len) == 0) {
        active[r] = 1;
        errs[r] = colon ? parse_errno(colon + 1, len - name_len - 1) : EIO;
      }
    }
    rules += len;
    if (*rules == ',') ++rules;
  }
}

static int is_kind(int fd, mode_t kind) {
  struct stat st;
  return fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

/* eintr_all: every other call of each kind is interrupted. */
static int interrupt_now(int* toggle) {
  if (!active[R_EINTR_ALL]) return 0;
  *toggle = !*toggle;
  if (*toggle) {
    errno = EINTR;
    return 1;
  }
  return 0;
}

/* POSIX guarantees dlsym results convert to function pointers. */
#define REAL(name) (__extension__(__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* buf, size_t count) {
  static int toggle;
  parse();
  if (fd > STDERR_FILENO && is_kind(fd, S_IFREG)) {
    if (active[R_WRITE]) {
      errno = errs[R_WRITE];
      return -1;
    }
    if (active[R_WRITE_ZERO] && count > 0) return 0;
    if (active[R_WRITE_SHORT] && count > 1) count /= 2;
  }
  if (interrupt_now(&toggle)) return -1;
  return REAL(write)(fd, buf, count);
}

ssize_t read(int fd, void* buf, size_t count) {
  static int toggle;
  parse();
  if (interrupt_now(&toggle)) return -1;
  return REAL(read)(fd, buf, count);
}

int fsync(int fd) {
  static int toggle;
  parse();
  if (active[R_FSYNC] && is_kind(fd, S_IFREG)) {
    errno = errs[R_FSYNC];
    return -1;
  }
  if (active[R_FSYNC_DIR] && is_kind(fd, S_IFDIR)) {
    errno = errs[R_FSYNC_DIR];
    return -1;
  }
  if (interrupt_now(&toggle)) return -1;
  return REAL(fsync)(fd);
}

int fchmod(int fd, mode_t mode) {
  static int toggle;
  parse();
  if (active[R_FCHMOD]) {
    errno = errs[R_FCHMOD];
    return -1;
  }
  if (interrupt_now(&toggle)) return -1;
  return REAL(fchmod)(fd, mode);
}

int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
  parse();
  if (active[R_RENAMEAT]) {
    errno = errs[R_RENAMEAT];
    return -1;
  }
  return REAL(renameat)(olddirfd, oldpath, newdirfd, newpath);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
  parse();
  if (active[R_RENAMEAT2]) {
    errno = errs[R_RENAMEAT2];
    return -1;
  }
  return REAL(renameat2)(olddirfd, oldpath, newdirfd, newpath, flags);
}

static int open_at(const char* which, int dirfd, const char* path, int flags, mode_t mode) {
  parse();
  if (active[R_OPENAT_STAGING] && strncmp(path, ".tuvel-edit-", 12) == 0) {
    errno = errs[R_OPENAT_STAGING];
    return -1;
  }
  int (*real)(int, const char*, int, ...) = __extension__(int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, which);
  return real(dirfd, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return open_at("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return open_at("openat64", dirfd, path, flags, mode);
}

ssize_t flistxattr(int fd, char* list, size_t size) {
  parse();
  if (active[R_FLISTXATTR]) {
    errno = errs[R_FLISTXATTR];
    return -1;
  }
  return REAL(flistxattr)(fd, list, size);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  parse();
  if (active[R_FSETXATTR]) {
    errno = errs[R_FSETXATTR];
    return -1;
  }
  return REAL(fsetxattr)(fd, name, value, size, flags);
}

/* syscall() takes up to six word-sized arguments; all six are passed on. */
long syscall(long number, ...) {
  parse();
  if (number == SYS_openat2 && active[R_OPENAT2]) {
    errno = errs[R_OPENAT2];
    return -1;
  }
  va_list ap;
  va_start(ap, number);
  long a[6];
  for (int i = 0; i < 6; ++i) a[i] = va_arg(ap, long);
  va_end(ap);
  return REAL(syscall)(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}
