// Files that must not outlive a run ended by a signal: each signal whose
// default would end the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM,
// SIGUSR1, ...) removes every registered path, then ends the process with
// status 128 + the signal's number. SIGKILL cannot be caught: what must not
// outlive it has no name until it is complete (atomic_file.h).
#ifndef VELT_INTERRUPT_CLEANUP_H
#define VELT_INTERRUPT_CLEANUP_H

#include <csignal>

// Installs the handler, once, for each of those signals that the process
// does not ignore (nohup, a background job); later calls do nothing. Each
// program calls it at its start: code that writes files never takes the
// signals over by itself, so a test runner or fuzzer keeps its own handlers.
void end_cleanly_on_signals();

// Registers `path` for removal should one of those signals end the run.
// Returns false when the table is full or the path too long; nothing is
// registered then.
bool remove_on_interrupt(const char* path);
// Takes `path` off the table; it is no longer removed by a signal.
void keep_on_interrupt(const char* path);

// Removes every registered path, from a signal handler too (it makes only
// async-signal-safe calls): for a handler that ends the process itself.
void remove_registered_paths();

// For a child process the run forks: forgets every registered path, which is
// its parent's to remove, and gives the signals whose handler was installed
// their default action back, so that an interrupt simply ends the child.
void leave_interrupt_cleanup_to_parent();

// Holds those signals back for its lifetime, so that a step such
// as renaming a finished file into place and taking its temporary name off
// the table happens whole. A held signal is handled when the guard goes.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t previous_;
};

#endif
