#include "interrupt_cleanup.h"

#include <unistd.h>

#include <cstring>

namespace {

constexpr int MAX_ENTRIES = 8;
constexpr size_t MAX_PATH_BYTES = 4096;  // with the NUL
// what another process, the terminal or the system sends to end a run
const int kSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE, SIGALRM, SIGTERM,
                        SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};

// Plain storage the handler reads: it may only make async-signal-safe calls.
// Entries change only while the signals are held.
struct Entry {
  bool used;
  char path[MAX_PATH_BYTES];
};
Entry entries[MAX_ENTRIES];
bool handlers_installed = false;

void remove_and_exit(int signal_number) {
  remove_registered_paths();
  _exit(128 + signal_number);
}

}  // namespace

void remove_registered_paths() {
  for (const Entry& e : entries)
    if (e.used) unlink(e.path);
}

void end_cleanly_on_signals() {
  InterruptsHeld held;
  if (handlers_installed) return;
  handlers_installed = true;
  for (int s : kSignals) {
    struct sigaction previous {};
    sigaction(s, nullptr, &previous);
    // a signal the process was told to ignore (nohup, a background job) stays ignored
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_and_exit;
    sigemptyset(&action.sa_mask);
    for (int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(s, &action, nullptr);
  }
}

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int s : kSignals) sigaddset(&held, s);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

InterruptsHeld::~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

bool remove_on_interrupt(const char* path) {
  size_t length = std::strlen(path);
  if (length >= MAX_PATH_BYTES) return false;
  InterruptsHeld held;
  for (Entry& e : entries) {
    if (e.used) continue;
    std::memcpy(e.path, path, length + 1);
    e.used = true;
    return true;
  }
  return false;
}

void keep_on_interrupt(const char* path) {
  InterruptsHeld held;
  for (Entry& e : entries)
    if (e.used && std::strcmp(e.path, path) == 0) e.used = false;
}

void leave_interrupt_cleanup_to_parent() {
  InterruptsHeld held;
  for (Entry& e : entries) e.used = false;
  if (!handlers_installed) return;
  handlers_installed = false;
  for (int s : kSignals) {
    struct sigaction previous {};
    sigaction(s, nullptr, &previous);
    if (previous.sa_handler == remove_and_exit) std::signal(s, SIG_DFL);
  }
}
