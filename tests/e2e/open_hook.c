// A test's hand in a whole run: loaded into a program under test with
// LD_PRELOAD, it does one thing right after the program opens a given file,
// so that a race (a frame replaced while the run reads the frames, a signal
// while the output is being written) happens at a known moment rather than
// by luck. Set in the environment:
//   VELT_TEST_ON_OPEN      the path, exactly as the program passes it to open,
//                          or "O_TMPFILE" for any open of an unnamed file
//   VELT_TEST_OPEN_NTH     act on the Nth such open in a process (default 1)
//   VELT_TEST_OPEN_ACTION  what to do, once a process:
//                            signal:N         raise signal N in this process
//                            signal-parent:N  send signal N to its parent
//                            unlink:PATH      remove PATH
//                            rename:FROM:TO   rename FROM over TO
//                          all but the first done by a helper process,
//                          as another process would
//   VELT_TEST_NO_LANDLOCK  when set, the kernel seems to have no Landlock
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int matching_opens = 0;
static int done = 0;

// The program under test confines itself (its kernel sandbox refuses it any
// rename, removal or signal beyond its own), so what stands for another
// process is one: a helper forked when the hook is loaded, before any
// confinement, which acts on a request written to a pipe and answers when
// done.
static int requests[2] = {-1, -1};
static int answers[2] = {-1, -1};

static void do_action(const char* action, pid_t requester_parent) {
  if (strncmp(action, "signal-parent:", 14) == 0) {
    kill(requester_parent, atoi(action + 14));
  } else if (strncmp(action, "unlink:", 7) == 0) {
    unlink(action + 7);
  } else if (strncmp(action, "rename:", 7) == 0) {
    char from[4096];
    const char* colon = strchr(action + 7, ':');
    size_t length = colon ? (size_t)(colon - (action + 7)) : 0;
    if (colon == NULL || length >= sizeof from) return;
    memcpy(from, action + 7, length);
    from[length] = '\0';
    rename(from, colon + 1);
  }
}

__attribute__((constructor)) static void start_helper(void) {
  const char* action = getenv("VELT_TEST_OPEN_ACTION");
  if (action == NULL || strncmp(action, "signal:", 7) == 0) return;
  if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) return;
  pid_t helper = fork();
  if (helper != 0) {
    close(requests[0]);
    close(answers[1]);
    return;
  }
  close(requests[1]);
  close(answers[0]);
  // nothing of the program's output: its reader waits for the end of it
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
  pid_t requester_parent;
  // until every process of the program has gone
  while (read(requests[0], &requester_parent, sizeof requester_parent) ==
         (ssize_t)sizeof requester_parent) {
    do_action(action, requester_parent);
    char ok = 1;
    if (write(answers[1], &ok, 1) != 1) break;
  }
  _exit(0);
}

static void act(void) {
  const char* action = getenv("VELT_TEST_OPEN_ACTION");
  if (action == NULL) return;
  done = 1;
  if (strncmp(action, "signal:", 7) == 0) {
    raise(atoi(action + 7));
    return;
  }
  pid_t parent = getppid();
  char ok;
  if (requests[1] < 0 || write(requests[1], &parent, sizeof parent) != (ssize_t)sizeof parent ||
      read(answers[0], &ok, 1) != 1)
    fprintf(stderr, "open_hook: the helper did not act\n");
}

// Called after each open with its path and flags.
static void opened(const char* path, int flags) {
  const char* wanted = getenv("VELT_TEST_ON_OPEN");
  if (done || wanted == NULL || path == NULL) return;
  if (flags & O_PATH) return;  // naming a file, not opening it
  int match = strcmp(wanted, "O_TMPFILE") == 0 ? (flags & O_TMPFILE) == O_TMPFILE
                                                : strcmp(wanted, path) == 0;
  if (!match) return;
  const char* nth = getenv("VELT_TEST_OPEN_NTH");
  if (++matching_opens == (nth ? atoi(nth) : 1)) act();
}

// With VELT_TEST_NO_LANDLOCK set, Landlock's three calls fail with ENOSYS,
// as on a kernel without it.
long syscall(long number, ...) {
  static long (*real_syscall)(long, ...) = NULL;
  if (real_syscall == NULL) real_syscall = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
  if (getenv("VELT_TEST_NO_LANDLOCK") != NULL && number >= 444 && number <= 446) {
    errno = ENOSYS;
    return -1;
  }
  va_list args;
  va_start(args, number);
  long a[6];
  for (int i = 0; i < 6; ++i) a[i] = va_arg(args, long);
  va_end(args);
  return real_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

#define FORWARD_OPEN(name, ...)                                         \
  typedef int (*name##_call)(__VA_ARGS__);                              \
  static name##_call real_##name(void) {                                \
    static name##_call call = NULL;                                     \
    if (call == NULL) call = (name##_call)dlsym(RTLD_NEXT, #name);      \
    return call;                                                        \
  }

FORWARD_OPEN(open, const char*, int, ...)
FORWARD_OPEN(open64, const char*, int, ...)
FORWARD_OPEN(openat, int, const char*, int, ...)
FORWARD_OPEN(openat64, int, const char*, int, ...)

// The mode argument is there only when the flags create a file.
static mode_t mode_of(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  int fd = real_open()(path, flags, mode);
  if (fd >= 0) opened(path, flags);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  int fd = real_open64()(path, flags, mode);
  if (fd >= 0) opened(path, flags);
  return fd;
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  int fd = real_openat()(dir, path, flags, mode);
  if (fd >= 0) opened(path, flags);
  return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = mode_of(flags, args);
  va_end(args);
  int fd = real_openat64()(dir, path, flags, mode);
  if (fd >= 0) opened(path, flags);
  return fd;
}
