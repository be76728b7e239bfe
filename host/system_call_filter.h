// The seccomp filter of a process that runs a module: an allowlist of the
// system calls a run makes once it is confined. Any other call is stopped
// before the kernel carries it out, and ends the process.
#ifndef VELT_SYSTEM_CALL_FILTER_H
#define VELT_SYSTEM_CALL_FILTER_H

#include <string>

enum class FilterRole {
  // runs modules, writes its open output and gives it its name
  RUN,
  // RUN, and starts workers: forks (no threads), waits for them, kills them,
  // talks to them through pipes; each worker filters itself further
  PARENT_OF_WORKERS,
  // runs a module into an output its parent opened: nothing to name
  WORKER,
};

// How a stopped call is told. The process always ends with status
// 128 + SIGSYS after removing the temporary names it registered (as a
// signal that ends a run does); with `program` set, it first prints one
// line on standard error naming it, the call, and that the output was left
// as it was. A worker stays quiet: its parent reports it.
void report_blocked_calls_as(const char* program);

// The exit status of a process the filter stopped.
int blocked_call_status();

// Installs the filter for `role` on every thread of the process; filters only
// ever narrow what earlier ones allow. False with `error` set when the kernel
// refused it.
bool install_system_call_filter(FilterRole role, std::string* error);

#endif
