#include "interrupt_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int MAX_ENTRIES = 8;
constexpr size_t MAX_PATH_BYTES = 4096;  // with the NUL
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Plain storage the handler reads: it may only make async-signal-safe calls.
// Entries change only while the signals are held.
struct Entry {
  bool used;
  bool directory;
  bool with_entries;  // a directory whose names go with it
  char path[MAX_PATH_BYTES];
};
Entry entries[MAX_ENTRIES];
bool handlers_installed = false;
// the handler's buffer for directory entries; the handler runs once at most
char entry_buffer[4096];

// Unlinks every name directly in `path` but its subdirectories, with calls a
// signal handler may make. Names are removed as they are listed, so the
// directory is read again until a pass finds nothing left to remove.
void remove_entries(const char* path) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  for (bool removed = true; removed;) {
    removed = false;
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = getdents64(fd, entry_buffer, sizeof entry_buffer)) > 0) {
      for (ssize_t at = 0; at < n;) {
        const dirent64* d = reinterpret_cast<const dirent64*>(entry_buffer + at);
        at += d->d_reclen;
        if (d->d_type == DT_DIR) continue;  // "." and ".." among them
        if (unlinkat(fd, d->d_name, 0) == 0) removed = true;
      }
    }
  }
  close(fd);
}

void remove_and_exit(int signal_number) {
  // files first: a registered directory may hold some of them
  for (const Entry& e : entries)
    if (e.used && !e.directory) unlink(e.path);
  for (const Entry& e : entries) {
    if (!e.used || !e.directory) continue;
    if (e.with_entries) remove_entries(e.path);
    rmdir(e.path);
  }
  _exit(128 + signal_number);
}

void install_handlers() {
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

}  // namespace

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int s : kSignals) sigaddset(&held, s);
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

InterruptsHeld::~InterruptsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

namespace {

bool register_path(const char* path, bool directory, bool with_entries) {
  size_t length = std::strlen(path);
  if (length >= MAX_PATH_BYTES) return false;
  InterruptsHeld held;
  install_handlers();
  for (Entry& e : entries) {
    if (e.used) continue;
    std::memcpy(e.path, path, length + 1);
    e.directory = directory;
    e.with_entries = with_entries;
    e.used = true;
    return true;
  }
  return false;
}

}  // namespace

bool remove_on_interrupt(const char* path, bool directory) {
  return register_path(path, directory, false);
}

bool remove_with_entries_on_interrupt(const char* directory) {
  return register_path(directory, true, true);
}

void keep_on_interrupt(const char* path) {
  InterruptsHeld held;
  for (Entry& e : entries)
    if (e.used && std::strcmp(e.path, path) == 0) e.used = false;
}
