// The kernel's layer around a process that runs a module, applied before its
// first call into one: no_new_privs, Landlock (its frames to read, its output
// to name, nothing else; no TCP; signals and abstract sockets kept to itself)
// and the seccomp allowlist, each as far as this kernel offers it.
#ifndef VELT_CONFINEMENT_H
#define VELT_CONFINEMENT_H

#include <string>
#include <vector>

#include "system_call_filter.h"

struct ConfinementPolicy {
  // Begins the line the process prints when the filter stops a call
  // ("velt-encode", "velt: encode"); null for a worker, whose parent reports
  // for it.
  const char* program = nullptr;
  // What the process is (its allowed calls), and its name for the test-only
  // host faults (VELT_TEST_HOST_FAULT).
  FilterRole role = FilterRole::RUN;
  const char* fault_role = "";
  std::vector<std::string> readable;  // files it may open for reading
  std::string naming_directory;       // where its output gets its name, or ""
};

// What confinement got on this kernel.
struct ConfinementLevel {
  bool no_new_privs = false;
  int landlock_abi = 0;  // 0 when Landlock was not applied
  bool seccomp = false;
};

// Whether every layer is there: no_new_privs, Landlock with files, network
// and signals (ABI 6 or later), and seccomp.
bool every_layer(const ConfinementLevel& level);

// What the layers this level lacks are, as "landlock below ABI 6, seccomp".
std::string missing_layers(const ConfinementLevel& level);

// The environment variable with which a cautious user refuses to run
// without every layer ("1").
extern const char kRequireSandboxVariable[];
bool sandbox_required();

// Confines the calling process by `policy`. A layer the kernel lacks is
// skipped; with sandbox_required(), a missing layer (or one the kernel
// refused) fails instead. Returns false with `error` set to why, for the
// caller to print after its name. On success the process is confined for
// good.
bool confine_process(const ConfinementPolicy& policy, ConfinementLevel* level,
                     std::string* error);

// Whether confine_process has confined this process for runs of its own:
// a parent of workers is confined, but each worker narrows it further.
bool confined_for_runs();

// The grants of a run whose frames are the paths a pattern produces: each
// numbered frame there is, from 0 until the first missing number.
std::vector<std::string> pattern_frames(const std::string& pattern);

#endif
