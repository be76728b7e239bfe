// Landlock, as far as this kernel's ABI goes: what a ruleset handles at each
// ABI level, and the restriction of the calling thread (and its later
// children) to reading some files and naming one output in one directory.
#ifndef VELT_LANDLOCK_RULES_H
#define VELT_LANDLOCK_RULES_H

#include <cstdint>
#include <string>
#include <vector>

// The rights a ruleset of an ABI level takes away unless a rule gives them
// back: file-system actions, TCP, and the scopes (signals and abstract
// sockets) kept to the process's own domain.
struct LandlockAccess {
  uint64_t fs = 0;
  uint64_t net = 0;
  uint64_t scoped = 0;
};

// Everything ABI `abi` can handle (nothing for 0); levels above the newest
// one known here handle what the newest does.
LandlockAccess landlock_handled_access(int abi);

// What a ruleset of that level guards, for velt --version: "files",
// "files, network" or "files, network, signals".
std::string landlock_coverage(int abi);

// What a confined process may still do on the file system.
struct LandlockGrants {
  // Files it may open for reading, each by itself (a path not there is left
  // out; one that is a directory may be opened, not read beneath).
  std::vector<std::string> readable;
  // The directory where its output is given its name: creating and removing
  // regular files there, which linking the finished file in and renaming it
  // over the old one need; "" for none. The output itself is open already.
  std::string naming_directory;
};

// Restricts the calling thread, and what it starts later, to `grants`, with
// every right the kernel's ABI `abi` handles taken away otherwise; no TCP and
// no signals or abstract sockets beyond its own domain where the ABI has
// them. Needs no_new_privs. False with `error` set when the kernel refused.
bool restrict_with_landlock(int abi, const LandlockGrants& grants, std::string* error);

#endif
