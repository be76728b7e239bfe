#include "system_call_filter.h"

#include <fcntl.h>
#include <seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "interrupt_cleanup.h"
#include "module_instance.h"  // VELT_ADDRESS_SANITIZER

namespace {

// Landlock's calls, which Debian 12's headers do not name: a worker confines
// itself under its parent's filter.
constexpr int kLandlockCalls[] = {444, 445, 446};

// What the handler prints: static storage, read by a signal handler.
char reporting_program[128];

// The calls a host fault is most likely to try, named in the report.
const char* call_name(long number) {
  switch (number) {
    case SCMP_SYS(socket): return "socket";
    case SCMP_SYS(connect): return "connect";
    case SCMP_SYS(execve): return "execve";
    case SCMP_SYS(execveat): return "execveat";
    case SCMP_SYS(kill): return "kill";
    case SCMP_SYS(tgkill): return "tgkill";
    case SCMP_SYS(openat): return "openat";
    case SCMP_SYS(open): return "open";
    case SCMP_SYS(ptrace): return "ptrace";
    case SCMP_SYS(clone): return "clone";
    case SCMP_SYS(clone3): return "clone3";
    case SCMP_SYS(fork): return "fork";
    case SCMP_SYS(vfork): return "vfork";
    case SCMP_SYS(ioctl): return "ioctl";
    case SCMP_SYS(newfstatat): return "newfstatat";
    default: return nullptr;
  }
}

// Appends `text` to the line at `*used`, within `size`.
void append(char* line, size_t size, size_t* used, const char* text) {
  for (; *text != '\0' && *used + 1 < size; ++text) line[(*used)++] = *text;
}

void append_number(char* line, size_t size, size_t* used, long number) {
  char digits[24];
  size_t n = 0;
  unsigned long value = number < 0 ? 0ul - (unsigned long)number : (unsigned long)number;
  do digits[n++] = char('0' + value % 10); while ((value /= 10) != 0 && n < sizeof digits);
  if (number < 0) append(line, size, used, "-");
  while (n > 0 && *used + 1 < size) line[(*used)++] = digits[--n];
}

// SIGSYS from the filter: the call was not made. Only async-signal-safe calls,
// all of them on the list.
void on_blocked_call(int, siginfo_t* info, void*) {
  if (reporting_program[0] != '\0') {
    char line[320];
    size_t used = 0;
    append(line, sizeof line, &used, reporting_program);
    append(line, sizeof line, &used, ": the sandbox stopped a system call the run may not make (");
    if (const char* name = call_name(info->si_syscall)) {
      append(line, sizeof line, &used, name);
      append(line, sizeof line, &used, ", ");
    }
    append(line, sizeof line, &used, "number ");
    append_number(line, sizeof line, &used, info->si_syscall);
    append(line, sizeof line, &used, "): a fault in velt itself; the output was left as it was\n");
    ssize_t ignored = write(STDERR_FILENO, line, used);
    (void)ignored;
  }
  remove_registered_paths();
  _exit(blocked_call_status());
}

// A condition on argument `index` of a call: `op` with `a` (and `b`, the
// value a masked comparison wants).
scmp_arg_cmp arg(unsigned index, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
  return scmp_arg_cmp{index, op, a, b};
}

bool allow(scmp_filter_ctx filter, int call) {
  return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) == 0;
}

bool allow_if(scmp_filter_ctx filter, int call, scmp_arg_cmp condition) {
  return seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 1, condition) == 0;
}

// Calls every confined process makes: reading and writing open files, its
// memory (the module's reservations grow with mprotect), signals (the module
// runtime's fault handling, interrupts held around a rename), time, exit.
const int kEveryRun[] = {
    SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(readv), SCMP_SYS(writev), SCMP_SYS(pread64),
    SCMP_SYS(pwrite64), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(dup),
    SCMP_SYS(dup3), SCMP_SYS(fcntl), SCMP_SYS(ftruncate), SCMP_SYS(fsync), SCMP_SYS(fdatasync),
    SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mprotect), SCMP_SYS(mremap), SCMP_SYS(madvise),
    SCMP_SYS(brk), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack), SCMP_SYS(restart_syscall), SCMP_SYS(futex), SCMP_SYS(sched_yield),
    SCMP_SYS(clock_gettime), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getppid),
    SCMP_SYS(exit), SCMP_SYS(exit_group),
    // whether a frame the sandbox refused may be read by its permissions
    SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2),
};

// Giving the finished output its name in its directory (Landlock keeps these
// to that one directory).
const int kNaming[] = {
    SCMP_SYS(linkat), SCMP_SYS(link), SCMP_SYS(renameat), SCMP_SYS(renameat2),
    SCMP_SYS(rename), SCMP_SYS(unlinkat), SCMP_SYS(unlink),
};

// Starting, watching and stopping workers, which then confine themselves.
const int kParent[] = {
    SCMP_SYS(wait4), SCMP_SYS(kill), SCMP_SYS(pipe2), SCMP_SYS(poll), SCMP_SYS(ppoll),
    SCMP_SYS(set_robust_list), SCMP_SYS(seccomp),
};

#ifdef VELT_ADDRESS_SANITIZER
// AddressSanitizer's own, in its builds only: a pipe it probes memory with,
// what its reports read of the process (the file-system rules let it read
// /proc in such builds), and the leak check at exit, which stops the process
// from a thread of its own that traces it.
const int kSanitizer[] = {
    SCMP_SYS(pipe2), SCMP_SYS(pipe), SCMP_SYS(readlink), SCMP_SYS(readlinkat),
    SCMP_SYS(sched_getaffinity), SCMP_SYS(getrlimit), SCMP_SYS(prlimit64),
    SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(newfstatat), SCMP_SYS(open),
    SCMP_SYS(getdents), SCMP_SYS(getdents64), SCMP_SYS(prctl), SCMP_SYS(mincore), SCMP_SYS(msync),
    SCMP_SYS(clone), SCMP_SYS(ptrace), SCMP_SYS(wait4), SCMP_SYS(waitid), SCMP_SYS(kill),
    SCMP_SYS(tgkill), SCMP_SYS(set_robust_list), SCMP_SYS(rseq),
};
#endif

bool add_rules(scmp_filter_ctx filter, FilterRole role) {
  for (int call : kEveryRun)
    if (!allow(filter, call)) return false;
#ifdef VELT_ADDRESS_SANITIZER
  for (int call : kSanitizer)
    if (!allow(filter, call)) return false;
#endif
  // reading only: the output and every other file to write were opened before
  // confinement
  constexpr unsigned kOpenKind = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_PATH | __O_TMPFILE;
  bool ok = allow_if(filter, SCMP_SYS(openat), arg(2, SCMP_CMP_MASKED_EQ, kOpenKind, O_RDONLY)) &&
            // stdio's look at a descriptor, and its terminal check
            allow_if(filter, SCMP_SYS(newfstatat),
                     arg(3, SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)) &&
            allow_if(filter, SCMP_SYS(ioctl), arg(1, SCMP_CMP_EQ, TCGETS)) &&
            // setting no_new_privs again, as the module runtime's start does
            allow_if(filter, SCMP_SYS(prctl), arg(0, SCMP_CMP_EQ, PR_SET_NO_NEW_PRIVS)) &&
            // reading its own limits, for the report of a module memory refused
            seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2,
                             arg(0, SCMP_CMP_EQ, 0), arg(2, SCMP_CMP_EQ, 0)) == 0 &&
            // signals to itself only (abort, raise)
            allow_if(filter, SCMP_SYS(tgkill), arg(0, SCMP_CMP_EQ, scmp_datum_t(getpid())));
  if (!ok) return false;
  if (role == FilterRole::WORKER) return true;
  for (int call : kNaming)
    if (!allow(filter, call)) return false;
  if (role == FilterRole::RUN) return true;
  for (int call : kParent)
    if (!allow(filter, call)) return false;
  for (int call : kLandlockCalls)
    if (!allow(filter, call)) return false;
  // forks, never threads; a worker names its parent's death as its own end,
  // and confines itself (Landlock's rules name files by O_PATH descriptors)
  return allow_if(filter, SCMP_SYS(clone), arg(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)) &&
         allow_if(filter, SCMP_SYS(prctl), arg(0, SCMP_CMP_EQ, PR_SET_PDEATHSIG)) &&
         allow_if(filter, SCMP_SYS(openat),
                  arg(2, SCMP_CMP_MASKED_EQ, kOpenKind, O_PATH));
}

}  // namespace

void report_blocked_calls_as(const char* program) {
  std::snprintf(reporting_program, sizeof reporting_program, "%s", program ? program : "");
}

int blocked_call_status() { return 128 + SIGSYS; }

bool install_system_call_filter(FilterRole role, std::string* error) {
  struct sigaction action = {};
  action.sa_sigaction = on_blocked_call;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigfillset(&action.sa_mask);
  if (sigaction(SIGSYS, &action, nullptr) != 0) {
    *error = std::string("seccomp: cannot handle SIGSYS: ") + std::strerror(errno);
    return false;
  }
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_TRAP);
  if (filter == nullptr) {
    *error = "seccomp: cannot make a filter";
    return false;
  }
  // no_new_privs is set already; every thread gets the filter
  bool ok = seccomp_attr_set(filter, SCMP_FLTATR_CTL_NNP, 0) == 0 &&
            seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0 && add_rules(filter, role);
  int loaded = ok ? seccomp_load(filter) : -1;
  seccomp_release(filter);
  if (!ok)
    *error = "seccomp: cannot build the filter";
  else if (loaded != 0)
    *error = std::string("seccomp: cannot load the filter: ") + std::strerror(-loaded);
  return ok && loaded == 0;
}
