// Runs the velt program in a child process: plainly, with a chosen
// environment, or on a pseudo-terminal.
#ifndef VELT_TESTS_TOOLKIT_VELT_PROGRAM_H
#define VELT_TESTS_TOOLKIT_VELT_PROGRAM_H

#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace toolkit_test {

// velt with `args`, standard output and error captured apart.
e2e::RunResult run_velt(const std::vector<std::string>& args);
// Variables to set in a child's environment, name and value.
using Environment = std::vector<std::pair<std::string, std::string>>;
// The same with variables set in the child's environment alone.
e2e::RunResult run_velt_with_environment(const std::vector<std::string>& args,
                                         const Environment& variables);
// Any program so.
e2e::RunResult run_program_with_environment(const std::string& program,
                                            const std::vector<std::string>& args,
                                            const Environment& variables);
// The same with TMPDIR set to `tmpdir` for the child alone.
e2e::RunResult run_velt_with_tmpdir(const std::vector<std::string>& args,
                                    const std::string& tmpdir);

// What the open hook (tests/e2e/open_hook.c) does in a child: `action`
// right after its `nth` open of `path` ("O_TMPFILE": of any unnamed file).
struct OpenHook {
  std::string path;
  std::string action;  // "signal:N", "signal-parent:N", "unlink:P", "rename:FROM:TO"
  int nth = 1;
};
// The variables that load the hook into a child (LD_PRELOAD, and what a
// sanitizer build needs for it), with none of its actions set.
Environment open_hook_loaded();
// velt with the hook loaded into it and its workers.
e2e::RunResult run_velt_with_open_hook(const std::vector<std::string>& args, const OpenHook& hook);
// The same with the soft limit of `resource` (RLIMIT_NOFILE, ...) set to
// `value` for the child alone.
e2e::RunResult run_velt_with_limit(const std::vector<std::string>& args, int resource,
                                   rlim_t value);
// The same with the size a file may grow to (RLIMIT_FSIZE) set to `bytes`.
e2e::RunResult run_velt_with_file_size_limit(const std::vector<std::string>& args, size_t bytes);
// velt with its standard output and error on a pseudo-terminal; `err` holds
// everything the terminal received.
e2e::RunResult run_velt_on_terminal(const std::vector<std::string>& args);

// The names in `dir`, without "." and "..".
std::vector<std::string> list_directory(const std::string& dir);

// Writes `count` 64x64 frames of noise, f0.png, f1.png, ..., into `dir`: in
// the 12-byte modes they keep the encoder busy for a while.
void write_noise_frames(const e2e::TempDir& dir, int count);

}  // namespace toolkit_test

#endif
