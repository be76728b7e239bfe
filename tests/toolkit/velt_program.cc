#include "velt_program.h"

#include <dirent.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace toolkit_test {

e2e::RunResult run_velt(const std::vector<std::string>& args) {
  return e2e::run_program(VELT_PATH, args);
}

e2e::RunResult run_program_with_environment(const std::string& program,
                                           const std::vector<std::string>& args,
                                           const Environment& variables) {
  // only the child runs while the variables are set here
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto& [name, value] : variables) {
    const char* old = std::getenv(name.c_str());
    saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), value.c_str(), 1);
  }
  e2e::RunResult result = e2e::run_program(program, args);
  for (const auto& [name, old] : saved) {
    if (old) {
      setenv(name.c_str(), old->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  return result;
}

e2e::RunResult run_velt_with_environment(const std::vector<std::string>& args,
                                         const Environment& variables) {
  return run_program_with_environment(VELT_PATH, args, variables);
}

Environment open_hook_loaded() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  // a sanitizer build wants its runtime first; the hook comes before it
  return {{"LD_PRELOAD", VELT_OPEN_HOOK_PATH},
          {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
}

e2e::RunResult run_velt_with_tmpdir(const std::vector<std::string>& args,
                                    const std::string& tmpdir) {
  return run_velt_with_environment(args, {{"TMPDIR", tmpdir}});
}

e2e::RunResult run_velt_with_open_hook(const std::vector<std::string>& args, const OpenHook& hook) {
  Environment variables = open_hook_loaded();
  variables.insert(variables.end(), {{"VELT_TEST_ON_OPEN", hook.path},
                                     {"VELT_TEST_OPEN_ACTION", hook.action},
                                     {"VELT_TEST_OPEN_NTH", std::to_string(hook.nth)}});
  return run_velt_with_environment(args, variables);
}

e2e::RunResult run_velt_with_limit(const std::vector<std::string>& args, int resource,
                                   rlim_t value) {
  return e2e::run_program_with_limit(VELT_PATH, args, resource, value);
}

e2e::RunResult run_velt_with_file_size_limit(const std::vector<std::string>& args, size_t bytes) {
  return run_velt_with_limit(args, RLIMIT_FSIZE, bytes);
}

e2e::RunResult run_velt_on_terminal(const std::vector<std::string>& args) {
  e2e::RunResult result;
  std::vector<char*> argv;
  std::string program = VELT_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  int terminal = -1;
  pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) {
    ADD_FAILURE() << "forkpty failed";
    return result;
  }
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  char buf[4096];
  for (;;) {
    ssize_t n = read(terminal, buf, sizeof buf);
    if (n > 0) {
      result.err.append(buf, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the child has closed the terminal
    }
  }
  close(terminal);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::vector<std::string> list_directory(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

void write_noise_frames(const e2e::TempDir& dir, int count) {
  uint32_t seed = 1;
  for (int f = 0; f < count; ++f) {
    e2e::Image image(64, 64, e2e::kBlack);
    for (unsigned i = 0; i < 64 * 64; ++i) {
      seed = seed * 1664525u + 1013904223u;
      image.set(i % 64, i / 64,
                {uint8_t(seed >> 24), uint8_t(seed >> 16), uint8_t(seed >> 8), 255});
    }
    e2e::write_png(dir.file("f" + std::to_string(f) + ".png"), image);
  }
}

}  // namespace toolkit_test
